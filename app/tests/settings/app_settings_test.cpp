// The settings table: defaults on a first start, hand-written files, and the
// file written at shutdown.
#include "app_settings.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "job_queue.h"
#include "network_settings.h"
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
        connectionsPerDownload = -7;
        for (int& width : colWidths) width = -7;
        maxSpeed = -7;
        proxyMode = proxyHost = proxyUser = proxyPassword = "stale";
        proxyPort = -7;
        windowLeft = windowTop = windowWidth = windowHeight = -7;
        viewFilter = "stale";
    }

    TempFolder folder_;
};

const char kFiftyWidths[] =
    "32000000320000003200000032000000320000"
    "00FA";

// The keys after MaxTries with their defaults: Connections, the network's, then
// the window's.
const char kNetworkDefaults[] =
    "Connections=4\nMaxSpeed=0\nProxy=Environment\nProxyHost=\nProxyPort=0\nProxyUser="
    "\nProxyPassword=\n"
    "WindowLeft=0\nWindowTop=0\nWindowWidth=0\nWindowHeight=0\nViewFilter=All\n";

TEST_F(AppSettingsTest, FirstStartWithoutAFileGivesTheDefaultsAndWritesAllKeys) {
    LoadSettings();
    EXPECT_EQ(defPath, "");
    EXPECT_EQ(maxFiles, 1);
    EXPECT_EQ(maxTries, 5);
    for (int width : colWidths) EXPECT_EQ(width, 50);

    defPath = "/home/u/Desktop";  // what start-up puts there when the key was empty
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(ReadBytes(iniPath), std::string("[Vantorel]\nColWidths=") + kFiftyWidths +
                                      "\nDefPath=/home/u/Desktop\nMaxFiles=1\nMaxTries=5\n" +
                                      kNetworkDefaults);
}

TEST_F(AppSettingsTest, EverySettingSurvivesARoundTrip) {
    defPath = " /srv/my downloads ";
    maxFiles = 32;
    maxTries = kMostTries;
    const int widths[kColumnCount] = {300, 0, -5, 65536, 2147483647};
    for (int i = 0; i < kColumnCount; ++i) colWidths[i] = widths[i];
    windowLeft = -40;  // a screen left of the primary one
    windowTop = 30;
    windowWidth = 900;
    windowHeight = 500;
    viewFilter = "Paused";
    ASSERT_TRUE(SaveSettings());

    SetUp();
    LoadSettings();
    EXPECT_EQ(defPath, " /srv/my downloads ");
    EXPECT_EQ(maxFiles, 32);
    EXPECT_EQ(maxTries, kMostTries);
    for (int i = 0; i < kColumnCount; ++i) EXPECT_EQ(colWidths[i], widths[i]) << i;
    EXPECT_EQ(windowLeft, -40);
    EXPECT_EQ(windowTop, 30);
    EXPECT_EQ(windowWidth, 900);
    EXPECT_EQ(windowHeight, 500);
    EXPECT_EQ(viewFilter, "Paused");
}

TEST_F(AppSettingsTest, HandWrittenFileIsReadAndItsOtherLinesKept) {
    const std::string handWritten =
        "# only a semicolon starts a comment: this is an ordinary line\n"
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
              "# only a semicolon starts a comment: this is an ordinary line\n"
              "[vantorel]\n"
              "maxfiles = 3\n"
              "DefPath=/tmp\n"
              "Theme=dark\n"
              "ColWidths=" +
                  std::string(kFiftyWidths) +
                  "\n"
                  "MaxTries=5\n" +
                  kNetworkDefaults);
}

TEST_F(AppSettingsTest, NetworkSettingsReadBackAndInvalidValuesTakeTheirDefaults) {
    const struct {
        const char* lines;
        const char* mode;
        int port;
        int speed;
    } cases[] = {
        {"Proxy=Manual\nProxyHost=proxy.lan\nProxyPort=3128\nProxyUser=me\n"
         "ProxyPassword=\" p w \"\nMaxSpeed=512\n",
         kProxyManual, 3128, 512},
        {"Proxy=None\nProxyPort=65535\n", kProxyNone, 65535, 0},
        {"Proxy=manual\nProxyPort=65536\nMaxSpeed=-5\n", kProxyFromEnvironment, 0, 0},
        {"Proxy=\nProxyPort=-1\nMaxSpeed=x\n", kProxyFromEnvironment, 0, 0},
        {"ProxyPort=0\nMaxSpeed=99999999999\n", kProxyFromEnvironment, 0, 2147483647},
    };
    for (const auto& c : cases) {
        SetUp();
        WriteBytes(iniPath, std::string("[Vantorel]\n") + c.lines);
        LoadSettings();
        EXPECT_EQ(proxyMode, c.mode) << c.lines;
        EXPECT_EQ(proxyPort, c.port) << c.lines;
        EXPECT_EQ(maxSpeed, c.speed) << c.lines;
    }
    // The first case's texts, the password with its blanks, survive a save.
    SetUp();
    WriteBytes(iniPath, std::string("[Vantorel]\n") + cases[0].lines);
    LoadSettings();
    ASSERT_TRUE(SaveSettings());
    SetUp();
    LoadSettings();
    EXPECT_EQ(proxyHost, "proxy.lan");
    EXPECT_EQ(proxyUser, "me");
    EXPECT_EQ(proxyPassword, " p w ");
    EXPECT_EQ(maxSpeed, 512);
}

TEST_F(AppSettingsTest, LimitsPastTheirRangeAreBroughtIntoIt) {
    struct Case {
        const char* text;
        int files;  // kMostFiles is 100, kMostTries 1000
        int tries;
    };
    const Case cases[] = {
        {"MaxFiles=99999999999999\nMaxTries=99999999999999\n", 100, 1000},
        {"MaxFiles=101\nMaxTries=1001\n", 100, 1000},
        {"MaxFiles=100\nMaxTries=1000\n", 100, 1000},
        {"MaxFiles=-1\nMaxTries=-2147483648\n", 0, 0},  // as an older version wrote them
    };
    for (const Case& c : cases) {
        WriteBytes(iniPath, std::string("[Vantorel]\n") + c.text);
        LoadSettings();
        EXPECT_EQ(maxFiles, c.files) << c.text;
        EXPECT_EQ(maxTries, c.tries) << c.text;
    }
}

TEST_F(AppSettingsTest, ConnectionsFromOneToSixteenAreKeptAnythingElseGivesFour) {
    const struct {
        const char* line;
        int connections;
    } cases[] = {
        {"", 4},  // missing
        {"Connections=1\n", 1},
        {"Connections=16\n", 16},
        {"connections = 9\n", 9},
        {"Connections=\"12\"\n", 12},
        {"Connections=0\n", 4},
        {"Connections=17\n", 4},
        {"Connections=-3\n", 4},
        {"Connections=99999999999\n", 4},
        {"Connections=many\n", 4},
        {"Connections=\n", 4},
    };
    for (const auto& c : cases) {
        SetUp();
        WriteBytes(iniPath, std::string("[Vantorel]\n") + c.line);
        LoadSettings();
        EXPECT_EQ(connectionsPerDownload, c.connections) << c.line;
        // What was taken is what the next start reads.
        ASSERT_TRUE(SaveSettings());
        SetUp();
        LoadSettings();
        EXPECT_EQ(connectionsPerDownload, c.connections) << c.line;
    }
}

TEST_F(AppSettingsTest, ColumnWidthsThatCannotBeReadAreFiftyEach) {
    // 100, 1, 2, 3, 4: sum 0x6E. The struct rules themselves are tested with the codec.
    const std::string good = "64000000010000000200000003000000040000006E";
    WriteBytes(iniPath, "[Vantorel]\nColWidths=" + good + "\n");
    LoadSettings();
    EXPECT_EQ(colWidths[0], 100);
    EXPECT_EQ(colWidths[4], 4);
    WriteBytes(iniPath, "[Vantorel]\nColWidths=" + good.substr(0, 40) + "6F\n");
    LoadSettings();
    for (int width : colWidths) EXPECT_EQ(width, 50);
}

// Whatever the file held before, a save leaves one that loads back exactly
// what was saved. Random bytes with a fixed seed, so a failure repeats.
TEST_F(AppSettingsTest, SavingOverAHostileFileLoadsBackWhatWasSaved) {
    std::mt19937 random(4242);
    const std::string alphabet("[Vantorel]=;\"\r\n\t MaxFilesColWidthsDefPath\0", 42);
    for (int round = 0; round < 100; ++round) {
        std::string bytes(random() % 400, ' ');
        for (char& c : bytes) {
            c = random() % 4 == 0 ? static_cast<char>(random())
                                  : alphabet[random() % alphabet.size()];
        }
        WriteBytes(iniPath, bytes);
        LoadSettings();  // must not crash; the values are whatever the bytes say
        defPath = "/d" + std::to_string(round);
        maxFiles = round;
        maxTries = round * 10;  // within 0..kMostTries, as loading keeps it
        for (int i = 0; i < kColumnCount; ++i) colWidths[i] = round * 7 + i;
        ASSERT_TRUE(SaveSettings()) << round;
        SetUp();
        LoadSettings();
        ASSERT_EQ(defPath, "/d" + std::to_string(round));
        ASSERT_EQ(maxFiles, round);
        ASSERT_EQ(maxTries, round * 10);
        for (int i = 0; i < kColumnCount; ++i) ASSERT_EQ(colWidths[i], round * 7 + i) << round;
    }
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
