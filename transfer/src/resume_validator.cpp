#include "resume_validator.h"

#include <sys/xattr.h>

#include <cerrno>
#include <string_view>

#include "internet.h"
#include "seams.h"

namespace brindlex {

namespace {

// Far more than any ETag or date with an origin; a longer value is not ours.
constexpr std::size_t kMaxValue = 1024;

// The value goes on a request line and comes from the network or from whoever
// can write the file's attributes: printable ASCII only, so it can never end the
// header line or smuggle another one.
bool IsPrintable(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

// The answer's strong ETag; "" when it has none. A weak ETag (W/"...") cannot
// stand in If-Range: the server would never match it.
std::string StrongEtagOf(VHINTERNET answer) {
    char value[kMaxValue];
    if (net::HttpQueryHeader(answer, "ETag", value, sizeof value) && IsPrintable(value) &&
        std::string_view(value).substr(0, 2) != "W/") {
        return value;
    }
    return {};
}

std::string LastModifiedOf(VHINTERNET answer) {
    char value[kMaxValue];
    if (net::HttpQueryHeader(answer, "Last-Modified", value, sizeof value) && IsPrintable(value)) {
        return value;
    }
    return {};
}

// A strong ETag, else the Last-Modified text; "" when the answer gives neither.
std::string ValidatorOf(VHINTERNET answer) {
    std::string etag = StrongEtagOf(answer);
    return !etag.empty() ? etag : LastModifiedOf(answer);
}

// The three attribute calls, each failing as on a file system without user
// attributes while a test asks for that.
bool Unsupported() {
    if (!seams::extendedAttributesFail.load(std::memory_order_relaxed)) return false;
    errno = ENOTSUP;
    return true;
}

ssize_t GetAttribute(int fd, char* buffer, std::size_t size) {
    return Unsupported() ? -1 : fgetxattr(fd, kValidatorAttribute, buffer, size);
}

int SetAttribute(int fd, const std::string& text) {
    return Unsupported() ? -1 : fsetxattr(fd, kValidatorAttribute, text.data(), text.size(), 0);
}

void RemoveAttribute(int fd) {
    if (!Unsupported()) fremovexattr(fd, kValidatorAttribute);
}

}  // namespace

std::optional<ResumeValidator> ReadResumeValidator(int fd) {
    char buffer[kMaxValue];
    const ssize_t length = GetAttribute(fd, buffer, sizeof buffer);
    if (length <= 0) return std::nullopt;
    const std::string_view text(buffer, static_cast<std::size_t>(length));
    const auto space = text.find(' ');
    if (space == std::string_view::npos || !IsPrintable(text)) return std::nullopt;
    ResumeValidator validator{std::string(text.substr(0, space)),
                              std::string(text.substr(space + 1))};
    const std::string_view origin = validator.origin;
    if ((origin.substr(0, 7) != "http://" && origin.substr(0, 8) != "https://") ||
        validator.value.empty()) {
        return std::nullopt;
    }
    return validator;
}

bool IsHeldVersion(const ResumeValidator& held, VHINTERNET answer) {
    // An ETag is quoted and a date never is, so each can only equal its own kind.
    return !held.value.empty() &&
           (StrongEtagOf(answer) == held.value || LastModifiedOf(answer) == held.value);
}

std::optional<ResumeValidator> AnswerValidator(VHINTERNET answer) {
    ResumeValidator validator;
    validator.value = ValidatorOf(answer);
    if (validator.value.empty() || !net::HttpQueryOrigin(answer, &validator.origin)) {
        return std::nullopt;
    }
    return validator;
}

void KeepResumeValidator(int fd, VHINTERNET answer, bool continuation) {
    const std::string value = ValidatorOf(answer);
    std::string origin;
    if (value.empty() || !net::HttpQueryOrigin(answer, &origin) ||
        origin.find(' ') != std::string::npos) {
        if (!continuation) ForgetResumeValidator(fd);
        return;
    }
    const std::string text = origin + " " + value;
    // A failure (no user attributes here, no room, not our file to mark) leaves
    // the file unguarded, as every file was before; the download goes on.
    if ((text.size() > kMaxValue || SetAttribute(fd, text) != 0) && !continuation) {
        // A stale one would name the old version.
        ForgetResumeValidator(fd);
    }
}

void ForgetResumeValidator(int fd) { RemoveAttribute(fd); }

}  // namespace brindlex
