#include "profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "atomic_file.h"
#include "profile_text.h"
#include "profile_values.h"

namespace {

enum class LoadResult { kRead, kMissing, kFailed };

// Reads the whole file into `text`; never a FIFO, a folder or a symbolic link.
LoadResult LoadProfileFile(const std::string& path, std::string& text) {
    text.clear();
    int fd = OpenStateFileForReading(path);
    // A symbolic link is no file of ours: as if there were none, so that a save
    // puts a file of our own in its place and leaves its target alone.
    if (fd < 0) {
        return errno == ENOENT || errno == ELOOP ? LoadResult::kMissing : LoadResult::kFailed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 ||
        static_cast<unsigned long long>(info.st_size) > kMaxProfileFileSize) {
        ::close(fd);
        return LoadResult::kFailed;
    }
    // The size may change while we read; never read past the cap whatever happens.
    char buffer[8192];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || text.size() + static_cast<std::size_t>(got) > kMaxProfileFileSize) {
            ::close(fd);
            text.clear();
            return LoadResult::kFailed;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return LoadResult::kRead;
}

// The stored text of a key (blanks trimmed, quotes kept), or nullopt.
std::optional<std::string> FindStored(const std::string& path, std::string_view section,
                                      std::string_view key) {
    std::string text;
    if (LoadProfileFile(path, text) != LoadResult::kRead) return std::nullopt;
    return FindProfileValue(text, section, key);
}

}  // namespace

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback) {
    std::optional<std::string> stored = FindStored(path, section, key);
    return stored ? UnquoteProfileValue(*stored) : std::string(fallback);
}

int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int fallback) {
    std::optional<std::string> stored = FindStored(path, section, key);
    return stored ? ParseProfileInt(UnquoteProfileValue(*stored), fallback) : fallback;
}

bool ReadProfileStruct(const std::string& path, std::string_view section, std::string_view key,
                       void* out, std::size_t size) {
    std::optional<std::string> stored = FindStored(path, section, key);
    return stored && DecodeProfileStruct(*stored, out, size);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
    return WriteProfileStrings(path, section, {{std::string(key), std::string(value)}});
}

bool WriteProfileStruct(const std::string& path, std::string_view section, std::string_view key,
                        const void* data, std::size_t size) {
    return WriteProfileString(path, section, key, EncodeProfileStruct(data, size));
}

bool WriteProfileStrings(const std::string& path, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& keysAndValues) {
    for (const auto& [key, value] : keysAndValues) {
        if (!AreProfileNamesValid(section, key) || !IsProfileLineSafe(value)) return false;
    }
    std::string text;
    // Replacing a file we could not read would throw away whatever it holds.
    if (LoadProfileFile(path, text) == LoadResult::kFailed) return false;
    for (const auto& [key, value] : keysAndValues) {
        text = SetProfileValue(text, section, key, QuoteProfileValue(value));
    }
    if (text.size() > kMaxProfileFileSize) return false;
    return WriteFileAtomically(path, text);
}
