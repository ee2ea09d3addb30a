// The settings table: defaults on a first start, hand-written files, and the
// file written at shutdown.
#include "app_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "job_queue.h"
#include "profile_file.h"
#include "temp_folder.h"

namespace {

class AppSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        iniPath = folder_ / "vantorel.ini";
        // Values no default has, so a load that skips a setting shows.
        defPath = "stale";
        maxFiles = -7;
        maxTries = -7;
        for (int& width : colWidths) width = -7;
    }

    TempFolder folder_;
};

const char kFiftyWidths[] =
    "32000000320000003200000032000000320000"
    "00FA";

TEST_F(AppSettingsTest, FirstStartWithoutAFileGivesTheDefaultsAndWritesAllFourKeys) {
    LoadSettings();
    EXPECT_EQ(defPath, "");
    EXPECT_EQ(maxFiles, 1);
    EXPECT_EQ(maxTries, 5);
    for (int width : colWidths) EXPECT_EQ(width, 50);

    defPath = "/home/u/Desktop";  // what start-up puts there when the key was empty
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadBytes(iniPath), std::string("[Vantorel]\nColWidths=") + kFiftyWidths +
                                      "\nDefPath=/home/u/Desktop\nMaxFiles=1\nMaxTries=5\n");
}

TEST_F(AppSettingsTest, EverySettingSurvivesARoundTrip) {
    defPath = " /srv/my downloads ";
    maxFiles = 32;
    maxTries = -1;
    const int widths[kColumnCount] = {300, 0, -5, 65536, 2147483647};
    for (int i = 0; i < kColumnCount; ++i) colWidths[i] = widths[i];
    ASSERT_TRUE(SaveSettings());

    SetUp();
    LoadSettings();
    EXPECT_EQ(defPath, " /srv/my downloads ");
    EXPECT_EQ(maxFiles, 32);
    EXPECT_EQ(maxTries, -1);
    for (int i = 0; i < kColumnCount; ++i) EXPECT_EQ(colWidths[i], widths[i]) << i;
}

TEST_F(AppSettingsTest, HandWrittenFileIsReadAndItsOtherLinesKept) {
    const std::string handWritten =
        "# not a comment to Windows, just a line\n"
        "[vantorel]\n"
        "maxfiles = 3\n"
        "DefPath=\"/tmp\"\n"
        "Theme=dark\n";
    WriteBytes(iniPath, handWritten);
    LoadSettings();
    EXPECT_EQ(maxFiles, 3);
    EXPECT_EQ(maxTries, 5);
    EXPECT_EQ(defPath, "/tmp");
    for (int width : colWidths) EXPECT_EQ(width, 50);

    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadBytes(iniPath),
              "# not a comment to Windows, just a line\n"
              "[vantorel]\n"
              "maxfiles = 3\n"
              "DefPath=/tmp\n"
              "Theme=dark\n"
              "ColWidths=" +
                  std::string(kFiftyWidths) +
                  "\n"
                  "MaxTries=5\n");
}

TEST_F(AppSettingsTest, ColumnWidthsThatCannotBeReadAreFiftyEach) {
    const char* bad[] = {
        "3200000032000000320000003200000032000000FB",    // wrong sum
        "320000003200000032000000320000003200000FA",     // one digit short
        "3200000032000000320000003200000032000000FA00",  // one byte too many
        "3200000032000000320000003200000032000000XA",    // not a digit
        "",
    };
    for (const char* text : bad) {
        WriteBytes(iniPath, std::string("[Vantorel]\nColWidths=") + text + "\n");
        for (int& width : colWidths) width = -7;
        LoadSettings();
        for (int width : colWidths) EXPECT_EQ(width, 50) << text;
    }
    WriteBytes(iniPath, "[Vantorel]\nColWidths=64000000010000000200000003000000040000006E\n");
    LoadSettings();
    EXPECT_EQ(colWidths[0], 100);
    EXPECT_EQ(colWidths[4], 4);
}

TEST_F(AppSettingsTest, FolderWithALineBreakKeepsTheOldKeyAndTheOthersAreWritten) {
    WriteBytes(iniPath, "[Vantorel]\nDefPath=/old\n");
    LoadSettings();
    defPath = "/evil\nMaxFiles=999";
    maxFiles = 2;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadProfileString(iniPath, kSettingsSection, "DefPath", ""), "/old");
    EXPECT_EQ(ReadProfileInt(iniPath, kSettingsSection, "MaxFiles", 0), 2);
}

TEST_F(AppSettingsTest, UnwritableFolderFailsTheSave) {
    iniPath = folder_ / "missing-folder/vantorel.ini";
    LoadSettings();
    EXPECT_FALSE(SaveSettings());
}

}  // namespace
