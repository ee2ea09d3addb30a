#include "profile_text.h"

#include <cstddef>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// One line of the text as offsets: [begin, contentEnd) is its content, the line
// ending (LF, CRLF, or a CR or nothing at the end of the text) runs to `end`.
struct Line {
    std::size_t begin = 0;
    std::size_t contentEnd = 0;
    std::size_t end = 0;
};

// Splits the line starting at `begin` (which is below text.size()).
Line LineAt(std::string_view text, std::size_t begin) {
    Line line;
    line.begin = begin;
    std::size_t newline = text.find('\n', begin);
    line.end = newline == std::string_view::npos ? text.size() : newline + 1;
    line.contentEnd = newline == std::string_view::npos ? text.size() : newline;
    if (line.contentEnd > begin && text[line.contentEnd - 1] == '\r') --line.contentEnd;
    return line;
}

enum class LineKind { kOther, kSection, kKey };

// What a line's content is; for a header `name` is the section name, for a pair
// `name` is the key and `equals` the offset of its '=' within the content.
struct ParsedLine {
    LineKind kind = LineKind::kOther;
    std::string_view name;
    std::size_t equals = 0;
};

ParsedLine ParseLine(std::string_view content) {
    ParsedLine parsed;
    std::string_view trimmed = TrimBlanks(content);
    if (trimmed.empty() || trimmed.front() == ';') return parsed;
    if (trimmed.front() == '[') {
        std::size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            parsed.kind = LineKind::kSection;
            parsed.name = TrimBlanks(trimmed.substr(1, close - 1));
        }
        return parsed;
    }
    std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) return parsed;
    parsed.kind = LineKind::kKey;
    parsed.name = TrimBlanks(content.substr(0, equals));
    parsed.equals = equals;
    return parsed;
}

// Where a key's value sits and where a new key of the section would go.
struct Lookup {
    bool sectionFound = false;
    bool keyFound = false;
    std::size_t valueBegin = 0;  // the trimmed value [valueBegin, valueEnd) of the key found
    std::size_t valueEnd = 0;
    std::size_t insertAt = 0;       // end of the first matching section's last non-blank line
    bool insertNeedsBreak = false;  // that line has no line ending (last line of the text)
};

Lookup Find(std::string_view text, std::string_view section, std::string_view key) {
    Lookup found;
    bool inSection = false;       // the current section has the name asked for
    bool inFirstSection = false;  // ...and it is the first such section
    for (std::size_t pos = 0; pos < text.size();) {
        Line line = LineAt(text, pos);
        pos = line.end;
        std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
        ParsedLine parsed = ParseLine(content);
        if (parsed.kind == LineKind::kSection) {
            inSection = EqualNoCase(parsed.name, section);
            inFirstSection = inSection && !found.sectionFound;
            if (inFirstSection) found.sectionFound = true;
        } else if (parsed.kind == LineKind::kKey && inSection && EqualNoCase(parsed.name, key)) {
            std::size_t begin = line.begin + parsed.equals + 1;
            std::size_t end = line.contentEnd;
            while (begin < end && IsBlank(text[begin])) ++begin;
            while (end > begin && IsBlank(text[end - 1])) --end;
            found.keyFound = true;
            found.valueBegin = begin;
            found.valueEnd = end;
            return found;
        }
        if (inFirstSection && !TrimBlanks(content).empty()) {
            found.insertAt = line.end;
            found.insertNeedsBreak = text[line.end - 1] != '\n';
        }
    }
    return found;
}

// The line ending new lines get: the one the first line uses.
std::string_view LineBreakOf(std::string_view text) {
    std::size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r')
        return "\r\n";
    return "\n";
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    Lookup found = Find(text, section, key);
    if (!found.keyFound) return std::nullopt;
    return std::string(text.substr(found.valueBegin, found.valueEnd - found.valueBegin));
}

std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
    Lookup found = Find(text, section, key);
    std::string result;
    result.reserve(text.size() + section.size() + key.size() + value.size() + 8);
    if (found.keyFound) {
        result.append(text.substr(0, found.valueBegin));
        result.append(value);
        result.append(text.substr(found.valueEnd));
        return result;
    }
    std::string_view lineBreak = LineBreakOf(text);
    std::string pair;
    pair.append(key).append("=").append(value).append(lineBreak);
    if (found.sectionFound) {
        result.append(text.substr(0, found.insertAt));
        if (found.insertNeedsBreak) result.append(lineBreak);
        result.append(pair);
        result.append(text.substr(found.insertAt));
        return result;
    }
    result.append(text);
    if (!text.empty()) {
        // Finish a last line that has no ending, then keep one blank line
        // between the old text and the new section.
        Line last = LineAt(text, text.rfind('\n', text.size() - 2) + 1);
        if (text.back() != '\n') result.append(lineBreak);
        if (!TrimBlanks(text.substr(last.begin, last.contentEnd - last.begin)).empty()) {
            result.append(lineBreak);
        }
    }
    result.append("[").append(section).append("]").append(lineBreak);
    result.append(pair);
    return result;
}

bool IsProfileLineSafe(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool AreProfileNamesValid(std::string_view section, std::string_view key) {
    if (section.empty() || key.empty()) return false;
    if (!IsProfileLineSafe(section) || !IsProfileLineSafe(key)) return false;
    if (TrimBlanks(section) != section || TrimBlanks(key) != key) return false;
    if (section.find(']') != std::string_view::npos) return false;
    if (key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[') {
        return false;
    }
    return true;
}
