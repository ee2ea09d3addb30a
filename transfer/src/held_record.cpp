#include "held_record.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string_view>

#include "seams.h"

namespace brindlex {

namespace {

// "1 <total> <ranges> <version>\n" then one "<start> <end>\n" per range.
constexpr char kFormat[] = "1";
constexpr char kStale[] = "stale";

bool Unsupported() {
    if (!seams::extendedAttributesFail.load(std::memory_order_relaxed)) return false;
    errno = ENOTSUP;
    return true;
}

bool ReadNumber(std::string_view* text, char stop, std::uint64_t* value) {
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), *value);
    if (error != std::errc() || end == text->data() || end == text->data() + text->size() ||
        *end != stop) {
        return false;
    }
    text->remove_prefix(static_cast<std::size_t>(end - text->data()) + 1);
    return true;
}

std::string Encode(const HeldRecord& record, const std::vector<ByteRange>& ranges) {
    std::string text = std::string(kFormat) + " " + std::to_string(record.total) + " " +
                       std::to_string(ranges.size()) + " " + record.version + "\n";
    for (const ByteRange& range : ranges) {
        text += std::to_string(range.start) + " " + std::to_string(range.end) + "\n";
    }
    return text;
}

}  // namespace

RecordState ReadHeldRecord(int fd, const std::string& version, std::uint64_t fileLength,
                           HeldRecord* record) {
    char buffer[kMaxHeldRecord + 1];
    const ssize_t length =
        Unsupported() ? -1 : fgetxattr(fd, kHeldAttribute, buffer, sizeof buffer);
    if (length < 0) return errno == ENODATA || errno == ENOTSUP ? RecordState::None
                                                               : RecordState::Untrusted;
    std::string_view text(buffer, static_cast<std::size_t>(length));
    *record = HeldRecord{};
    std::uint64_t count = 0;
    if (text.substr(0, 2) != "1 ") return RecordState::Untrusted;
    text.remove_prefix(2);
    if (!ReadNumber(&text, ' ', &record->total) || !ReadNumber(&text, ' ', &count)) {
        return RecordState::Untrusted;
    }
    const auto lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos) return RecordState::Untrusted;
    record->version = std::string(text.substr(0, lineEnd));
    text.remove_prefix(lineEnd + 1);
    if (record->version != version || record->total == 0 || count > kMaxHeldRecord) {
        return RecordState::Untrusted;
    }
    std::uint64_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        ByteRange range{};
        if (!ReadNumber(&text, ' ', &range.start) || !ReadNumber(&text, '\n', &range.end) ||
            range.start < at || range.end <= range.start || range.end > record->total ||
            range.end > fileLength) {
            return RecordState::Untrusted;
        }
        record->ranges.push_back(range);
        at = range.end;
    }
    return text.empty() ? RecordState::Trusted : RecordState::Untrusted;
}

std::string EncodeHeldRecord(const HeldRecord& record) {
    std::vector<ByteRange> ranges = record.ranges;
    std::string text = Encode(record, ranges);
    while (text.size() > kMaxHeldRecord && !ranges.empty()) {
        // Claim less, never more: the smallest range goes (its bytes are fetched again).
        auto smallest = std::min_element(ranges.begin(), ranges.end(),
                                         [](const ByteRange& a, const ByteRange& b) {
                                             return a.end - a.start < b.end - b.start;
                                         });
        ranges.erase(smallest);
        text = Encode(record, ranges);
    }
    return text;
}

bool WriteHeldRecord(int fd, const HeldRecord& record) {
    const std::string text = EncodeHeldRecord(record);
    if (text.size() > kMaxHeldRecord) return false;  // a version too long to keep
    return !Unsupported() && fsetxattr(fd, kHeldAttribute, text.data(), text.size(), 0) == 0;
}

void MarkHeldRecordStale(int fd) {
    if (!Unsupported()) fsetxattr(fd, kHeldAttribute, kStale, sizeof kStale - 1, 0);
}

void ForgetHeldRecord(int fd) {
    if (!Unsupported()) fremovexattr(fd, kHeldAttribute);
}

}  // namespace brindlex
