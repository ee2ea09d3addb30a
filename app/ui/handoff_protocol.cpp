#include "handoff_protocol.h"

namespace {

constexpr std::string_view kUrlField = "url=";
constexpr std::string_view kRefererField = "referer=";
constexpr std::string_view kAgentField = "agent=";
constexpr std::string_view kNameField = "name=";
constexpr std::string_view kCookieField = "cookie=";

void AppendField(std::string& bytes, std::string_view field, std::string_view value) {
    if (value.empty()) return;
    bytes.append(field);
    bytes.append(value);
    bytes.push_back('\0');
}

bool TakeField(std::string_view record, std::string_view field, std::string* value) {
    if (record.substr(0, field.size()) != field) return false;
    value->assign(record.substr(field.size()));
    return true;
}
constexpr std::string_view kQueued = "queued";
constexpr std::string_view kRefused = "refused ";

}  // namespace

std::string EncodeHandedDownload(std::string_view url) {
    std::string bytes(kUrlField);
    bytes.append(url);
    bytes.append(2, '\0');
    return bytes;
}

std::string EncodeHandedDownload(const HandedDownload& download) {
    std::string bytes;
    AppendField(bytes, kUrlField, download.url);
    AppendField(bytes, kRefererField, download.referer);
    AppendField(bytes, kAgentField, download.agent);
    AppendField(bytes, kNameField, download.fileName);
    for (const std::string& cookie : download.cookies) AppendField(bytes, kCookieField, cookie);
    // A download with no field at all still stands for one (refused: no URL).
    if (bytes.empty()) bytes = kUrlField;
    if (bytes.back() != '\0') bytes.push_back('\0');
    bytes.push_back('\0');
    return bytes;
}

std::string EncodeHandoffBatch(std::string_view downloads) {
    std::string bytes(kHandoffGreeting, sizeof kHandoffGreeting);
    bytes.append(downloads);
    bytes.push_back('\0');
    return bytes;
}

std::string EncodeHandoffAnswer(std::string_view reason) {
    std::string record(reason.empty() ? kQueued : kRefused);
    // Cut to fit the record, the NUL included; a NUL inside would end it early.
    for (char c : reason) {
        if (record.size() + 1 >= kMaxAnswerRecordBytes) break;
        record.push_back(c == '\0' ? ' ' : c);
    }
    record.push_back('\0');
    return record;
}

HandoffBatchReader::State HandoffBatchReader::Feed(std::string_view bytes) {
    if (state_ != State::kMore) {
        if (!bytes.empty()) state_ = State::kBroken;
        return state_;
    }
    received_ += bytes.size();
    if (received_ > kMaxHandoffBatchBytes) return state_ = State::kBroken;
    pending_.append(bytes);
    std::size_t start = 0;
    for (std::size_t end;
         state_ == State::kMore && (end = pending_.find('\0', start)) != std::string::npos;
         start = end + 1) {
        TakeRecord(std::string_view(pending_).substr(start, end - start));
        if (state_ == State::kDone && end + 1 != pending_.size()) state_ = State::kBroken;
    }
    pending_.erase(0, start);
    return state_;
}

void HandoffBatchReader::TakeRecord(std::string_view record) {
    if (!greeted_) {
        greeted_ = record == kHandoffGreeting;
        if (!greeted_) state_ = State::kBroken;
        return;
    }
    if (record.empty()) {
        if (inDownload_) {
            inDownload_ = false;
        } else {
            state_ = State::kDone;
        }
        return;
    }
    if (!inDownload_) {
        downloads_.emplace_back();
        inDownload_ = true;
    }
    HandedDownload& download = downloads_.back();
    std::string cookie;
    if (TakeField(record, kUrlField, &download.url) ||
        TakeField(record, kRefererField, &download.referer) ||
        TakeField(record, kAgentField, &download.agent) ||
        TakeField(record, kNameField, &download.fileName)) {
        return;
    }
    if (TakeField(record, kCookieField, &cookie)) download.cookies.push_back(std::move(cookie));
}

bool HandoffAnswerReader::Feed(std::string_view bytes) {
    if (broken_) return false;
    pending_.append(bytes);
    std::size_t start = 0;
    for (std::size_t end; (end = pending_.find('\0', start)) != std::string::npos;
         start = end + 1) {
        const std::string_view record = std::string_view(pending_).substr(start, end - start);
        if (record == kQueued) {
            answers_.emplace_back();
        } else if (record.substr(0, kRefused.size()) == kRefused &&
                   record.size() > kRefused.size()) {
            answers_.emplace_back(record.substr(kRefused.size()));
        } else {
            broken_ = true;
            return false;
        }
    }
    pending_.erase(0, start);
    if (pending_.size() >= kMaxAnswerRecordBytes) broken_ = true;
    return !broken_;
}
