// The layout of a profile ("INI") file, worked on as text in memory.
//
// A file is lines of "[Section]" headers and "Key=Value" pairs. Section and key
// names match without regard to ASCII case and the blanks (spaces, tabs) around
// them; the value is the text after the first '=' with the blanks on both sides
// removed. A line whose first non-blank character is ';' is a comment, and lines
// before the first header belong to no section: neither is ever matched.
// When a section or a key occurs more than once, the first in file order counts,
// for reading and for writing alike.
//
// These functions never fail on strange input: any bytes (NULs, lone CRs, huge
// lines, no final newline) are lines like any other, and the work is linear in
// the size of the text. Plain functions of their arguments; any thread may call them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The value of `key` in `section`, blanks removed but quotes kept; nullopt when
// the section or the key is missing.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// `text` with `key` in `section` set to `value`. An existing key keeps its line:
// only the old value between the blanks around it is replaced. A missing key is
// added after the last non-blank line of the section, a missing section at the
// end of the text. Every other byte of `text` stays as it was. New lines end the
// way the text's first line does ("\r\n" or "\n").
// The caller makes sure the names are valid (AreProfileNamesValid) and the value
// fits on one line (IsProfileLineSafe).
std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);

// True when `s` can be written into a line without starting another one or
// being cut short: no CR, LF or NUL.
bool IsProfileLineSafe(std::string_view s);

// True when a section and a key with these names can be written and found again:
// both non-empty, on one line, without surrounding blanks, no ']' in the section,
// and a key that has no '=' and does not start with ';' or '['.
bool AreProfileNamesValid(std::string_view section, std::string_view key);
