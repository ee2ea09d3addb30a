// The profile layout on text in memory: matching, in-place changes, additions,
// and hostile text.
#include "profile_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "concat.h"

namespace {

const char kHandWritten[] =
    "; settings written by hand\n"
    "[Other]\n"
    "MaxFiles=9\n"
    "\n"
    "  [ vantorel ]  \n"
    "  maxfiles =  3  \n"
    ";MaxTries=7\n"
    "DefPath=\"/home/u/Down loads\"\n"
    "Empty=\n"
    "NoEquals\n"
    "\n"
    "[Last]\n"
    "Key=last\n";

struct FindCase {
    const char* section;
    const char* key;
    std::optional<std::string> value;
};

TEST(ProfileTextTest, FindsValuesByCaseInsensitiveNamesWithBlanksTrimmed) {
    const FindCase cases[] = {
        {"Vantorel", "MaxFiles", "3"},  // section and key in another case, blanks around
        {"VANTOREL", "maxFILES", "3"},
        {"Other", "MaxFiles", "9"},                         // the same key in another section
        {"Vantorel", "MaxTries", std::nullopt},             // only in a comment
        {"Vantorel", "DefPath", "\"/home/u/Down loads\""},  // quotes kept at this level
        {"Vantorel", "Empty", ""},
        {"Vantorel", "NoEquals", std::nullopt},
        {"Vantorel", "Key", std::nullopt},  // belongs to the next section
        {"Last", "Key", "last"},
        {"Missing", "Key", std::nullopt},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(FindProfileValue(kHandWritten, c.section, c.key), c.value)
            << c.section << "/" << c.key;
    }
}

TEST(ProfileTextTest, KeysBeforeAnySectionAndDuplicatesFollowFileOrder) {
    const char text[] = "MaxFiles=1\n[A]\nk=first\nk=second\n[a]\nk=third\nj=only\n";
    EXPECT_EQ(FindProfileValue(text, "A", "k"), "first");
    EXPECT_EQ(FindProfileValue(text, "A", "j"), "only");  // a later section of the same name
    EXPECT_EQ(FindProfileValue(text, "", "MaxFiles"), std::nullopt);
    // A write changes the key that a read finds.
    EXPECT_EQ(SetProfileValue(text, "a", "K", "new"),
              "MaxFiles=1\n[A]\nk=new\nk=second\n[a]\nk=third\nj=only\n");
}

struct SetCase {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

TEST(ProfileTextTest, WritesChangeOneKeyInPlaceOrAddItKeepingEverythingElse) {
    const SetCase cases[] = {
        {"in place, blanks and key spelling kept", "[Vantorel]\n  maxfiles =  3  \nX=1\n",
         "Vantorel", "MaxFiles", "12", "[Vantorel]\n  maxfiles =  12  \nX=1\n"},
        {"empty value filled", "[V]\nK=\n", "V", "K", "v", "[V]\nK=v\n"},
        {"added after the section's last line, before blank lines",
         "[V]\nA=1\n; note\n\n[W]\nB=2\n", "V", "K", "v", "[V]\nA=1\n; note\nK=v\n\n[W]\nB=2\n"},
        {"added under a header with no keys", "[V]\n[W]\n", "v", "K", "v", "[V]\nK=v\n[W]\n"},
        {"added after a last line with no line ending", "[V]\nA=1", "V", "K", "v",
         "[V]\nA=1\nK=v\n"},
        {"header at the very end", "[V]", "V", "K", "v", "[V]\nK=v\n"},
        {"new section after the others", "[W]\nB=2\n", "Vantorel", "K", "v",
         "[W]\nB=2\n\n[Vantorel]\nK=v\n"},
        {"new section after a last line with no ending", "[W]\nB=2", "V", "K", "v",
         "[W]\nB=2\n\n[V]\nK=v\n"},
        {"no second blank line before a new section", "[W]\nB=2\n\n", "V", "K", "v",
         "[W]\nB=2\n\n[V]\nK=v\n"},
        {"empty text", "", "Vantorel", "MaxFiles", "1", "[Vantorel]\nMaxFiles=1\n"},
        {"CRLF text keeps CRLF", "[V]\r\nA=1\r\n", "V", "K", "v", "[V]\r\nA=1\r\nK=v\r\n"},
        {"CRLF value replaced before the CR", "[V]\r\nK=old\r\n", "V", "K", "new",
         "[V]\r\nK=new\r\n"},
        {"lone CR at the end of the text", "[V]\r", "V", "K", "v", "[V]\r\nK=v\n"},
    };
    for (const SetCase& c : cases) {
        std::string after = SetProfileValue(c.before, c.section, c.key, c.value);
        EXPECT_EQ(after, c.after) << c.name;
        EXPECT_EQ(FindProfileValue(after, c.section, c.key), c.value) << c.name;
    }
}

// The part of `before` that a change replaced must lie within one line: the
// bytes before and after the change are the old ones.
void ExpectOnlyOneLineChanged(const std::string& before, const std::string& after) {
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    std::string removed = before.substr(prefix, before.size() - prefix - suffix);
    EXPECT_EQ(removed.find('\n'), std::string::npos) << "more than one line changed";
}

// Random text made mostly of the characters the layout cares about, with NULs
// and other bytes mixed in; a fixed seed so a failure repeats.
TEST(ProfileTextTest, HostileTextNeverBreaksFindingOrWriting) {
    std::mt19937 random(20240611);
    const std::string alphabet = std::string("[]=;\"\r\n\t  kKvV", 15) + std::string("\0\xff", 2);
    const char* keys[] = {"k", "K", "v", "kv"};
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 200, ' ');
        for (char& c : text) {
            c = random() % 8 == 0 ? static_cast<char>(random() % 256)
                                  : alphabet[random() % alphabet.size()];
        }
        const char* section = keys[random() % 4];
        const char* key = keys[random() % 4];
        std::string value = vtest::Concat("x", std::to_string(round));
        std::string after = SetProfileValue(text, section, key, value);
        ASSERT_EQ(FindProfileValue(after, section, key), value) << "round " << round;
        ExpectOnlyOneLineChanged(text, after);
        // Writing the same value again changes nothing.
        ASSERT_EQ(SetProfileValue(after, section, key, value), after) << "round " << round;
    }
}

TEST(ProfileTextTest, HugeLinesAndNulsAreOrdinaryBytes) {
    std::string text = "[V]\n" + std::string(8u << 20, 'a') + std::string("\0=\0\n", 4) + "K=1";
    EXPECT_EQ(FindProfileValue(text, "V", "K"), "1");
    std::string after = SetProfileValue(text, "V", "K", "2");
    EXPECT_EQ(after.size(), text.size());
    EXPECT_EQ(after.back(), '2');
    std::string withNulKey = SetProfileValue(text, "V", "N", "3");
    EXPECT_EQ(withNulKey.substr(text.size()), "\nN=3\n");
}

}  // namespace
