// How profile values are read and written as strings, integers and structs.
//
// Plain functions of their arguments; any thread may call them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A stored value as a string: one pair of enclosing double quotes removed.
std::string UnquoteProfileValue(std::string_view stored);

// The text to store for `value` so that reading it back gives `value` again.
// Values with blanks at either end, or enclosed in double quotes themselves, are
// stored inside one more pair of quotes: stored bare, reading would strip them.
std::string QuoteProfileValue(std::string_view value);

// The leading decimal number of a string value (an optional sign, then digits),
// or `fallback` when it does not start with one. Numbers beyond the range of int
// are clamped to INT_MIN or INT_MAX rather than wrapped, so a huge "MaxFiles"
// means "many" and never turns negative.
int ParseProfileInt(std::string_view value, int fallback);

// Struct encoding: every byte as two uppercase hexadecimal digits, then two more
// for the sum of the bytes modulo 256.
std::string EncodeProfileStruct(const void* data, std::size_t size);

// Decodes exactly `size` bytes into `out`. Fails, leaving `out` untouched, on a
// length other than 2 * (size + 1), a character that is not a hexadecimal digit
// (either case is accepted) or a wrong sum.
bool DecodeProfileStruct(std::string_view stored, void* out, std::size_t size);
