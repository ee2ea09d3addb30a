// The real program, started in a program folder of its own: first start, a
// hand-written setting, the instance lock, and leaving through the signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "concat.h"
#include "profile_file.h"
#include "program_runner.h"
#include "test_certs.h"
#include "test_server.h"

namespace vtest {
namespace {

constexpr int kExitPatienceMs = 60000;

std::uint64_t SizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

// Polls `done` until it holds; false after a minute.
template <typename Predicate>
bool Eventually(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string Record(const std::string& url, const std::string& name) {
    return "\"" + url + "\" \"" + name + "\"\n";
}

void ExpectAllFourKeys(const std::string& ini, const std::string& defPath, int maxFiles) {
    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "DefPath", "<none>"), defPath);
    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "MaxFiles", "<none>"), std::to_string(maxFiles));
    EXPECT_EQ(ReadProfileString(ini, "Vantorel", "MaxTries", "<none>"), "5");
    std::int32_t widths[5] = {};
    EXPECT_TRUE(ReadProfileStruct(ini, "Vantorel", "ColWidths", widths, sizeof widths));
    for (std::int32_t width : widths) EXPECT_EQ(width, 50);
}

TEST(ProgramTest, FirstStartDownloadsToTheDesktopOneAtATimeAndWritesAllSettings) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    TestServer server;
    Route slow;
    slow.size = 40000;
    slow.bytesPerSecond = 40000;
    server.Set("/a", slow);
    Route small;
    small.size = 1000;
    server.Set("/b", small);
    WriteWholeFile(folder.listPath(),
                   Record(server.Url("/a"), "a.bin") + Record(server.Url("/b"), "b.bin"));

    ProgramRun run(folder);
    ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
    // One at a time: b is asked for only once a is complete.
    ASSERT_TRUE(Eventually([&] { return !server.RequestsFor("/b").empty(); })) << run.Output();
    EXPECT_EQ(SizeOf(folder.desktop() + "/a.bin"), 40000u);
    ASSERT_TRUE(Eventually([&] { return SizeOf(folder.desktop() + "/b.bin") == 1000; }));
    EXPECT_FALSE(FileExists(folder.startDir() + "/a.bin"));
    // Both Done: the list file lost them once each had ended.
    ASSERT_TRUE(Eventually([&] { return ReadWholeFile(folder.listPath()).empty(); }));

    run.Signal(SIGTERM);
    ASSERT_EQ(run.WaitForExit(kExitPatienceMs), 0) << run.Output();
    ExpectAllFourKeys(folder.iniPath(), folder.desktop(), 1);
}

TEST(ProgramTest, WithoutADesktopTheStartFolderIsUsedAndAnEmptyFolderWrittenBack) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/false);
    TestServer server;
    Route small;
    small.size = 500;
    server.Set("/c", small);
    WriteWholeFile(folder.listPath(), Record(server.Url("/c"), "c.bin"));

    ProgramRun run(folder);
    ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
    ASSERT_TRUE(Eventually([&] { return SizeOf(folder.startDir() + "/c.bin") == 500; }));
    run.Signal(SIGTERM);
    ASSERT_EQ(run.WaitForExit(kExitPatienceMs), 0) << run.Output();
    ExpectAllFourKeys(folder.iniPath(), "", 1);
}

TEST(ProgramTest, HandWrittenMaxFilesOfThreeRunsThreeAtOnceAndSigtermKeepsPartialFiles) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    const std::string saveDir = temp / "downloads";
    std::filesystem::create_directories(saveDir);
    WriteWholeFile(folder.iniPath(), "[Vantorel]\r\nMaxFiles=3\r\nDefPath=" + saveDir + "\r\n");
    TestServer server;
    Route slow;
    slow.size = 1 << 20;
    slow.bytesPerSecond = 8000;  // minutes per file: all are still running at the end
    server.Set("/s", slow);
    std::string list;
    for (int i = 0; i < 4; ++i)
        list +=
            Record(server.Url(Concat("/s?", std::to_string(i))), Concat("s", std::to_string(i)));
    WriteWholeFile(folder.listPath(), list);

    ProgramRun run(folder);
    ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
    // Three files under way; by the time each holds a second's worth, a fourth
    // run, had it been started, would long have asked for its file.
    ASSERT_TRUE(Eventually([&] {
        for (int i = 0; i < 3; ++i) {
            if (SizeOf(saveDir + "/s" + std::to_string(i)) < 8000) return false;
        }
        return true;
    })) << run.Output();
    EXPECT_EQ(server.RequestsFor("/s").size(), 3u);
    EXPECT_FALSE(FileExists(saveDir + "/s3"));

    run.Signal(SIGTERM);
    ASSERT_EQ(run.WaitForExit(kExitPatienceMs), 0) << run.Output();
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t size = SizeOf(saveDir + "/s" + std::to_string(i));
        EXPECT_GE(size, 8000u);
        EXPECT_LT(size, slow.size);
    }
    EXPECT_EQ(ReadWholeFile(folder.listPath()), list);  // the stopped jobs are kept
    ExpectAllFourKeys(folder.iniPath(), saveDir, 3);
}

TEST(ProgramTest, EveryShutdownSignalEndsTheProgramNormally) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir temp;
        ProgramFolder folder(temp.path(), /*withDesktop=*/true);
        ProgramRun run(folder);
        ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
        run.Signal(signal);
        ASSERT_EQ(run.WaitForExit(kExitPatienceMs), 0) << run.Output();
        ExpectAllFourKeys(folder.iniPath(), folder.desktop(), 1);
    }
}

// A write to a closed connection must fail, not end the program with its queue.
TEST(ProgramTest, BrokenPipeIsIgnoredFromStartUp) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    ProgramRun run(folder);
    ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
    EXPECT_TRUE(run.Ignores(SIGPIPE));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitForExit(kExitPatienceMs), 0) << run.Output();
}

TEST(ProgramTest, SecondInstanceInTheSameFolderEndsAtOnceSilently) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    ProgramRun first(folder);
    ASSERT_TRUE(first.WaitUntilListening()) << first.Output();

    ProgramRun second(folder);
    EXPECT_EQ(second.WaitForExit(kExitPatienceMs), 0);
    EXPECT_EQ(second.Output(), "");
    EXPECT_FALSE(FileExists(folder.iniPath()));  // it wrote nothing

    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitForExit(kExitPatienceMs), 0) << first.Output();
}

TEST(ProgramTest, InstanceKilledWithSigkillLeavesNoLockBehind) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    ProgramRun first(folder);
    ASSERT_TRUE(first.WaitUntilListening()) << first.Output();
    first.Signal(SIGKILL);
    ASSERT_EQ(first.WaitForExit(kExitPatienceMs), -SIGKILL);

    ProgramRun next(folder);
    ASSERT_TRUE(next.WaitUntilListening()) << next.Output();
    next.Signal(SIGTERM);
    EXPECT_EQ(next.WaitForExit(kExitPatienceMs), 0) << next.Output();
}

// The save folder becomes the current one: a relative certificate file named at
// start-up must still be the one in the start folder.
TEST(ProgramTest, RelativeCertificateFileIsTakenFromTheStartFolder) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    TestServer server(TestServer::Mode::Https);
    server.Set("/secure.bin", Route{.size = 5000});
    WriteWholeFile(folder.startDir() + "/ca.pem", TestCaPem());
    WriteWholeFile(folder.listPath(), Record(server.Url("/secure.bin"), "secure.bin"));

    ProgramRun run(folder, {}, {"SSL_CERT_FILE=ca.pem"});
    EXPECT_TRUE(Eventually([&] { return SizeOf(folder.desktop() + "/secure.bin") == 5000; }))
        << run.Output();
    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitForExit(kExitPatienceMs), 0) << run.Output();
}

// A pause outlasts the program: the paused download, first in the queue, is
// passed over at each start while the ones behind it are fetched.
TEST(ProgramTest, APausedDownloadIsStillPausedAfterARestart) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    TestServer server;
    for (const char* path : {"/held", "/q", "/r.bin"}) server.Set(path, Route{.size = 700});
    const std::string held = Record(server.Url("/held"), "held.bin");
    WriteWholeFile(folder.listPath(), held + Record(server.Url("/q"), "q.bin"));
    const std::string pausedPath = folder.programDir() + "/paused.dat";
    WriteWholeFile(pausedPath, held);

    for (const char* next : {"q.bin", "r.bin"}) {
        SCOPED_TRACE(next);
        // The second start gets its next download from the command line.
        ProgramRun run(folder, next == std::string("r.bin")
                                   ? std::vector<std::string>{server.Url("/r.bin")}
                                   : std::vector<std::string>{});
        ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
        ASSERT_TRUE(Eventually([&] { return SizeOf(folder.desktop() + "/" + next) == 700; }))
            << run.Output();
        run.Signal(SIGTERM);
        ASSERT_EQ(run.WaitForExit(kExitPatienceMs), 0) << run.Output();
        EXPECT_TRUE(server.RequestsFor("/held").empty());
        EXPECT_EQ(ReadWholeFile(folder.listPath()), held);
        EXPECT_EQ(ReadWholeFile(pausedPath), held);
    }
}

}  // namespace
}  // namespace vtest
