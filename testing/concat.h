// Joins text by appending every part to one string.
//
// Tests build names, URLs and list-file records with it rather than with
// "literal" + a temporary std::string: GCC 12 inlines that operator+ at -O3 into
// an insert at the front of the temporary, which it takes for a memcpy between
// overlapping buffers. The warning (-Wrestrict) is false, but under -Werror it
// stops the Release build; appending never inserts, so it never arises.
#pragma once

#include <string>

namespace vtest {

template <typename... Parts>
std::string Concat(const Parts&... parts) {
    std::string joined;
    (joined.append(parts), ...);
    return joined;
}

}  // namespace vtest
