// libFuzzer target for the settings file reader: any file text gives each of the
// program's keys a value or none without a crash, the values read as integers and
// structs, and setting a key then finds exactly that value again.
//   profile_fuzz [corpus folder] [-runs=N] [-max_total_time=S]
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "profile_text.h"
#include "profile_values.h"

namespace {

constexpr const char* kKeys[] = {"DefPath", "MaxFiles", "MaxTries", "ColWidths"};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* key : kKeys) {
        const auto stored = FindProfileValue(text, "Vantorel", key);
        if (stored) {
            const std::string value = UnquoteProfileValue(*stored);
            ParseProfileInt(value, 1);
            std::int32_t widths[5] = {50, 50, 50, 50, 50};
            if (DecodeProfileStruct(value, widths, sizeof widths)) {
                // A struct that decodes is the encoding of what it decoded to.
                if (EncodeProfileStruct(widths, sizeof widths) != Upper(value)) std::abort();
            } else {
                for (std::int32_t width : widths) {
                    if (width != 50) std::abort();
                }
            }
            // What the reader gives back, the writer stores so it reads the same.
            if (IsProfileLineSafe(value)) {
                const std::string after =
                    SetProfileValue(text, "Vantorel", key, QuoteProfileValue(value));
                const auto again = FindProfileValue(after, "Vantorel", key);
                if (!again || UnquoteProfileValue(*again) != value) std::abort();
            }
        }
        const std::string after = SetProfileValue(text, "Vantorel", key, "7");
        const auto seven = FindProfileValue(after, "Vantorel", key);
        if (!seven || *seven != "7" || ParseProfileInt(*seven, 1) != 7) std::abort();
    }
    return 0;
}
