// Profile ("INI") files on disk, with the behaviour of the Windows profile
// functions: read a string, an integer or a struct; write a string or a struct.
//
// Layout and matching rules: profile_text.h; value encodings: profile_values.h.
// Every read opens the file afresh; a missing or unreadable file reads as empty,
// so every key gets its fallback. A write reads the file, changes one key (or
// several, in order) and replaces the whole file atomically; every other line
// stays byte for byte as it was.
//
// Files that are not regular files (a FIFO, a device) or larger than
// kMaxProfileFileSize are treated as unreadable: reading one must never block or
// take unbounded memory, and a write refuses to replace one it could not read.
//
// Any thread may call these; two writers of the same file at once may lose one
// of the two changes (each leaves a whole file).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr std::size_t kMaxProfileFileSize = 16u << 20;

// The value of `key` in `section`, with one pair of enclosing double quotes
// removed; `fallback` when the file, the section or the key is missing.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view fallback);

// The value as an integer (ParseProfileInt); `fallback` when missing or not a number.
int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int fallback);

// Reads exactly `size` bytes stored with WriteProfileStruct into `out`. False,
// with `out` untouched, when the key is missing or its text is not a valid encoding.
bool ReadProfileStruct(const std::string& path, std::string_view section, std::string_view key,
                       void* out, std::size_t size);

// Sets `key` in `section` to `value`, creating the key, the section or the file as
// needed. A value is stored so that reading gives it back unchanged (see
// QuoteProfileValue). False, with the file untouched, when the names are invalid,
// the value holds a CR, LF or NUL, the existing file could not be read, or the
// new file could not be written.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// Stores `size` bytes in the struct encoding; fails like WriteProfileString.
bool WriteProfileStruct(const std::string& path, std::string_view section, std::string_view key,
                        const void* data, std::size_t size);

// Sets several keys of one section in order, with one replacement of the file:
// the result is the file that the same WriteProfileString calls in turn would
// leave. All or nothing: when any pair is invalid nothing is written.
bool WriteProfileStrings(const std::string& path, std::string_view section,
                         const std::vector<std::pair<std::string, std::string>>& keysAndValues);
