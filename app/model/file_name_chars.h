// What the New File and Preferences dialogs make of the text typed into them: the
// characters a file name may hold, the name proposed from a URL, the cleaned name a
// job is saved as, and the reading of a number box. Plain C++, so the model tests
// reach it without a window.
//
// Text is the bytes of the program's narrow strings (UTF-8 here): every test below
// is on single bytes, so a non-ASCII character counts as one failing byte per byte.
//
// Threads: any; nothing here keeps state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest text a dialog's edit box hands over: its 1024-byte buffer less the NUL.
inline constexpr std::size_t kDialogTextMax = 1023;
// The longest URL the program takes, in bytes: signed links run to several
// thousand. New File, the list file and every other way in take this much whole
// and refuse a longer one rather than cut it.
inline constexpr std::size_t kLongestUrl = 8192;
// The longest file name the file system takes, in bytes (NAME_MAX); New File
// refuses a longer one rather than let the run fail on it.
inline constexpr std::size_t kLongestFileName = 255;
// A URL shorter than this many characters is refused ("Give me a URL!").
inline constexpr std::size_t kShortestUrl = 6;
// What a job is saved as when its file name was left empty.
inline constexpr char kDefaultFileName[] = "index.html";

// 0 for the control bytes 0-31, the bytes 127-255 and the six characters * / < > ? |;
// 1 for every other byte. The double quote, the colon and the backslash pass, so a
// name holding a backslash or a colon is kept as typed (and the name proposed from
// a URL runs on over a quote).
int IsFileNameChar(char c);

// The file name a URL proposes: its tail after the last byte, walking back from the
// end, that fails IsFileNameChar or is a backslash (the whole text when the walk
// reaches the start). A URL ending in a slash proposes "".
std::string ProposeFileName(std::string_view url);

// The name a job is saved as: "index.html" for an empty name, otherwise the name
// with every byte that fails IsFileNameChar, and every double quote, replaced by
// '-'. The list file has no escape for a quote inside a field (list_file.h).
std::string CleanFileName(std::string_view name);

// `text` cut to at most `maxBytes` bytes, the way a fixed buffer reads an edit box
// (and at its first NUL), but never inside a multi-byte UTF-8 character: the
// partial character is dropped.
std::string CutDialogText(std::string_view text, std::size_t maxBytes);

// Characters (UTF-8 code points) in `text`: what the URL length test counts.
std::size_t DialogTextLength(std::string_view text);

// A number box read as an unsigned 32-bit number: leading and trailing spaces are
// skipped; anything but decimal digits, no digits at all, or a value above
// 4294967295 reads as 0. The value is returned as the signed setting it is stored
// in, so 2147483648 and above come back negative (two's complement).
int ReadDialogNumber(std::string_view text);

// A number box read for a setting that may not exceed `most`: its value, 0 for
// an empty box or one that does not hold a number (as ReadDialogNumber), or -1
// when it holds a number above `most`, however many digits it has.
int ReadBoundedNumber(std::string_view text, int most);

// `name` numbered the way browsers number a second download of one name: n = 0
// gives `name` itself; otherwise " (n)" goes before the extension of the last
// path component: "slow2 (1).bin", "name (1)" without one. A leading dot is no
// extension (".bashrc (1)"), and ".tar" before a last extension stays with it
// ("site (1).tar.gz").
std::string NumberedFileName(std::string_view name, unsigned n);
