// File-name characters, the proposal from a URL, and the dialog number boxes.
#include "file_name_chars.h"

#include <cstdint>

int IsFileNameChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte >= 127) {
        return 0;
    }
    switch (byte) {
        case '*':
        case '/':
        case '<':
        case '>':
        case '?':
        case '|':
            return 0;
        default:
            return 1;
    }
}

std::string ProposeFileName(std::string_view url) {
    std::size_t start = url.size();
    while (start > 0 && IsFileNameChar(url[start - 1]) && url[start - 1] != '\\') {
        --start;
    }
    return std::string(url.substr(start));
}

std::string CleanFileName(std::string_view name) {
    if (name.empty()) {
        return kDefaultFileName;
    }
    std::string cleaned(name);
    for (char& c : cleaned) {
        if (!IsFileNameChar(c) || c == '"') {
            c = '-';
        }
    }
    return cleaned;
}

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string CutDialogText(std::string_view text, std::size_t maxBytes) {
    // A narrow string ends at its first NUL, whatever a pasted text held after it.
    text = text.substr(0, text.find('\0'));
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    // Cutting at `maxBytes` splits a character when the byte there continues one:
    // step back to that character's lead byte (at most three bytes back, the
    // longest UTF-8 character) and drop the whole character. Bytes that are not
    // UTF-8 at all are cut where the buffer ends.
    std::size_t end = maxBytes;
    while (end > 0 && maxBytes - end < 3 && IsContinuationByte(text[end])) {
        --end;
    }
    if (IsContinuationByte(text[end])) {
        end = maxBytes;
    }
    return std::string(text.substr(0, end));
}

std::size_t DialogTextLength(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if (!IsContinuationByte(c)) {
            ++count;
        }
    }
    return count;
}

int ReadDialogNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    const std::size_t firstDigit = i;
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > UINT32_MAX) {
            return 0;
        }
    }
    if (i == firstDigit) {
        return 0;
    }
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (i != text.size()) {
        return 0;
    }
    // The settings are signed: a value of 2^31 or more wraps to its negative twin
    // (well defined since C++20).
    return static_cast<int>(static_cast<std::uint32_t>(value));
}

int ReadBoundedNumber(std::string_view text, int most) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return 0;
    const std::size_t last = text.find_last_not_of(' ');
    const std::string_view digits = text.substr(first, last - first + 1);
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<unsigned>(c - '0');
        // Stop before the sum can overflow: anything this large is too many.
        if (value > static_cast<std::uint64_t>(most)) return -1;
    }
    return static_cast<int>(value);
}

std::string NumberedFileName(std::string_view name, unsigned n) {
    if (n == 0) return std::string(name);
    const std::size_t slash = name.rfind('/');
    const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = name.rfind('.');
    // A dot that starts the name (".bashrc") or none at all: no extension.
    if (dot == std::string_view::npos || dot <= base) {
        dot = name.size();
    } else if (dot >= base + 5 && name.substr(dot - 4, 4) == ".tar") {
        dot -= 4;
    }
    return std::string(name.substr(0, dot)) + " (" + std::to_string(n) + ")" +
           std::string(name.substr(dot));
}
