// Profile files on disk: reading hand-written files, writing into them, and
// files that are missing, unreadable or not files at all.
#include "profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "temp_folder.h"

namespace {

const char kHandWritten[] =
    "; my settings\r\n"
    "[Fonts]\r\n"
    "Size = 12\r\n"
    "\r\n"
    "[VANTOREL]\r\n"
    "defpath = \"  /srv/in coming  \"\r\n"
    "MaxFiles=  3 files\r\n"
    "maxtries=lots\r\n"
    "ColWidths=32000000320000003200000032000000320000"
    "00FB\r\n"
    "Unknown=kept\r\n";

TEST(ProfileFileTest, ReadsHandWrittenValues) {
    TempFolder folder;
    const std::string ini = folder / "vantorel.ini";
    WriteBytes(ini, kHandWritten);

    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "DefPath", "x"), "  /srv/in coming  ");
    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "Missing", "fallback"), "fallback");
    EXPECT_EQ(ReadProfileInt(ini, "Vantorel", "MaxFiles", 1), 3);
    EXPECT_EQ(ReadProfileInt(ini, "Vantorel", "MaxTries", 5), 5);
    EXPECT_EQ(ReadProfileInt(ini, "Fonts", "Size", 0), 12);

    std::int32_t widths[5] = {7, 7, 7, 7, 7};
    EXPECT_FALSE(
        ReadProfileStruct(ini, "Vantorel", "ColWidths", widths, sizeof widths));  // sum off by one
    EXPECT_EQ(widths[0], 7);
}

TEST(ProfileFileTest, WritesKeepEveryOtherLineByteForByte) {
    TempFolder folder;
    const std::string ini = folder / "vantorel.ini";
    WriteBytes(ini, kHandWritten);

    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "MaxFiles", "4"));
    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "NewKey", "v"));
    const std::int32_t widths[5] = {50, 50, 50, 50, 50};
    ASSERT_TRUE(WriteProfileStruct(ini, "Vantorel", "ColWidths", widths, sizeof widths));

    std::string expected = kHandWritten;
    expected.replace(expected.find("  3 files"), 9, "  4");
    expected.replace(expected.find("00FB"), 4, "00FA");
    expected += "NewKey=v\r\n";
    EXPECT_EQ(ReadBytes(ini), expected);

    std::int32_t back[5] = {};
    EXPECT_TRUE(ReadProfileStruct(ini, "vantorel", "colwidths", back, sizeof back));
    EXPECT_EQ(back[4], 50);
}

TEST(ProfileFileTest, WritingCreatesTheFileAndTheSection) {
    TempFolder folder;
    const std::string ini = folder / "new.ini";
    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "DefPath", "/home/u/Desktop"));
    EXPECT_EQ(ReadBytes(ini), "[Vantorel]\nDefPath=/home/u/Desktop\n");

    WriteBytes(ini, "[Other]\nA=1");
    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "MaxFiles", "2"));
    EXPECT_EQ(ReadBytes(ini), "[Other]\nA=1\n\n[Vantorel]\nMaxFiles=2\n");
}

TEST(ProfileFileTest, ValuesReadBackExactlyAsWritten) {
    TempFolder folder;
    const std::string ini = folder / "v.ini";
    const char* values[] = {"", " padded ", "\"in quotes\"", "a=b;c [d]", "tab\t"};
    for (const char* value : values) {
        ASSERT_TRUE(WriteProfileString(ini, "V", "K", value)) << value;
        EXPECT_EQ(ReadProfileString(ini, "V", "K", "fallback"), value);
    }
}

TEST(ProfileFileTest, BatchedWritesEqualSeparateWritesAndRefuseBadPairs) {
    TempFolder folder;
    const std::string one = folder / "one.ini";
    const std::string many = folder / "many.ini";
    WriteBytes(one, kHandWritten);
    WriteBytes(many, kHandWritten);
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"ColWidths", "00"}, {"DefPath", " /x "}, {"Brand", "new"}, {"MaxTries", "5"}};
    for (const auto& [key, value] : pairs)
        ASSERT_TRUE(WriteProfileString(one, "Vantorel", key, value));
    ASSERT_TRUE(WriteProfileStrings(many, "Vantorel", pairs));
    EXPECT_EQ(ReadBytes(many), ReadBytes(one));

    // All or nothing: one unstorable value and the file stays as it was.
    std::string before = ReadBytes(many);
    EXPECT_FALSE(
        WriteProfileStrings(many, "Vantorel", {{"MaxFiles", "1"}, {"DefPath", "a\nMaxFiles=9"}}));
    EXPECT_FALSE(WriteProfileString(many, "Vantorel", "Bad=Key", "1"));
    EXPECT_FALSE(WriteProfileString(many, "Bad]", "Key", "1"));
    EXPECT_EQ(ReadBytes(many), before);
}

TEST(ProfileFileTest, MissingFileGivesFallbacks) {
    TempFolder folder;
    const std::string ini = folder / "absent.ini";
    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "DefPath", ""), "");
    EXPECT_EQ(ReadProfileInt(ini, "Vantorel", "MaxFiles", 1), 1);
    int widths[5] = {1, 2, 3, 4, 5};
    EXPECT_FALSE(ReadProfileStruct(ini, "Vantorel", "ColWidths", widths, sizeof widths));
    EXPECT_FALSE(std::filesystem::exists(ini));  // reading never creates it
}

TEST(ProfileFileTest, WhatIsNotARegularFileIsNeitherReadNorReplaced) {
    TempFolder folder;
    // A FIFO would block a reader that opened it the ordinary way.
    const std::string fifo = folder / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadProfileInt(fifo, "V", "K", 42), 42);
    EXPECT_FALSE(WriteProfileString(fifo, "V", "K", "1"));
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    const std::string dir = folder / "dir.ini";
    std::filesystem::create_directory(dir);
    EXPECT_EQ(ReadProfileString(dir, "V", "K", "fb"), "fb");
    EXPECT_FALSE(WriteProfileString(dir, "V", "K", "1"));
}

TEST(ProfileFileTest, OversizedFileIsLeftAlone) {
    TempFolder folder;
    const std::string ini = folder / "big.ini";
    std::string big = "[V]\nK=1\n" + std::string(kMaxProfileFileSize, ';');
    WriteBytes(ini, big);
    EXPECT_EQ(ReadProfileInt(ini, "V", "K", 7), 7);
    EXPECT_FALSE(WriteProfileString(ini, "V", "K", "2"));
    EXPECT_EQ(std::filesystem::file_size(ini), big.size());
}

}  // namespace
