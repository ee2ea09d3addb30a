// Profile files on disk: hand-written files read and changed in place, files
// created, and files that must be neither read nor replaced.
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
    "ColWidths=3200000032000000320000003200000032000000FB\r\n"
    "Unknown=kept\r\n";

TEST(ProfileFileTest, HandWrittenFileIsReadAndChangedOnlyWhereWritten) {
    TempFolder folder;
    const std::string ini = folder / "vantorel.ini";
    WriteBytes(ini, kHandWritten);
    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "DefPath", "x"), "  /srv/in coming  ");
    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "Missing", "fallback"), "fallback");
    EXPECT_EQ(ReadProfileInt(ini, "Vantorel", "MaxFiles", 1), 3);
    EXPECT_EQ(ReadProfileInt(ini, "Vantorel", "MaxTries", 5), 5);
    std::int32_t widths[5] = {7, 7, 7, 7, 7};
    EXPECT_FALSE(ReadProfileStruct(ini, "Vantorel", "ColWidths", widths, sizeof widths));
    EXPECT_EQ(widths[0], 7);  // the sum is off by one

    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "MaxFiles", "4"));
    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "NewKey", "v"));
    const std::int32_t fifty[5] = {50, 50, 50, 50, 50};
    ASSERT_TRUE(WriteProfileStruct(ini, "Vantorel", "ColWidths", fifty, sizeof fifty));
    std::string expected = kHandWritten;
    expected.replace(expected.find("  3 files"), 9, "  4");
    expected.replace(expected.find("00FB"), 4, "00FA");
    expected += "NewKey=v\r\n";
    EXPECT_EQ(ReadBytes(ini), expected);
    EXPECT_TRUE(ReadProfileStruct(ini, "vantorel", "colwidths", widths, sizeof widths));
    EXPECT_EQ(widths[4], 50);
}

TEST(ProfileFileTest, WritingCreatesTheFileAndTheSection) {
    TempFolder folder;
    const std::string ini = folder / "new.ini";
    EXPECT_EQ(ReadProfileInt(ini, "Vantorel", "MaxFiles", 1), 1);
    EXPECT_FALSE(std::filesystem::exists(ini));  // reading never creates it
    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "DefPath", "/home/u/Desktop"));
    EXPECT_EQ(ReadBytes(ini), "[Vantorel]\nDefPath=/home/u/Desktop\n");

    WriteBytes(ini, "[Other]\nA=1");
    ASSERT_TRUE(WriteProfileString(ini, "Vantorel", "MaxFiles", "2"));
    EXPECT_EQ(ReadBytes(ini), "[Other]\nA=1\n\n[Vantorel]\nMaxFiles=2\n");
}

TEST(ProfileFileTest, BatchedWritesEqualSeparateWritesAndRefuseBadPairs) {
    TempFolder folder;
    const std::string one = folder / "one.ini", many = folder / "many.ini";
    WriteBytes(one, kHandWritten);
    WriteBytes(many, kHandWritten);
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"ColWidths", "00"}, {"DefPath", " /x "}, {"Brand", "new"}, {"MaxTries", "5"}};
    for (const auto& [key, value] : pairs) {
        ASSERT_TRUE(WriteProfileString(one, "Vantorel", key, value));
    }
    ASSERT_TRUE(WriteProfileStrings(many, "Vantorel", pairs));
    EXPECT_EQ(ReadBytes(many), ReadBytes(one));
    EXPECT_EQ(ReadProfileString(many, "Vantorel", "DefPath", ""), " /x ");

    // All or nothing: one value that would start a line of its own, or a name
    // that could not be found again, and the file stays as it was.
    std::string before = ReadBytes(many);
    EXPECT_FALSE(
        WriteProfileStrings(many, "Vantorel", {{"MaxFiles", "1"}, {"DefPath", "a\nMaxFiles=9"}}));
    EXPECT_FALSE(WriteProfileString(many, "Vantorel", "Bad=Key", "1"));
    EXPECT_FALSE(WriteProfileString(many, "Bad]", "Key", "1"));
    EXPECT_EQ(ReadBytes(many), before);
}

// A FIFO would block an ordinary reader, a huge file would take unbounded
// memory; and a file we could not read must not be replaced by a new one.
TEST(ProfileFileTest, WhatCannotBeReadIsNeitherReadNorReplaced) {
    TempFolder folder;
    const std::string fifo = folder / "fifo.ini", dir = folder / "dir.ini",
                      big = folder / "big.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(dir);
    WriteBytes(big, "[V]\nK=1\n" + std::string(kMaxProfileFileSize, ';'));
    for (const std::string& path : {fifo, dir, big}) {
        EXPECT_EQ(ReadProfileInt(path, "V", "K", 7), 7) << path;
        EXPECT_FALSE(WriteProfileString(path, "V", "K", "2")) << path;
    }
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(std::filesystem::file_size(big), kMaxProfileFileSize + 8);
}

}  // namespace
