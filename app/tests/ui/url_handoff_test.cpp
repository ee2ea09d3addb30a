// URLs on the command line of the real program: the first start queues its own,
// a second start for the same folder hands its URLs to the first, prints what it
// refused and ends with 1 when anything was; and the hand-off itself, in one
// process: answers per URL, long URLs whole, batches split, both ends checking
// the other's user.
#include "url_handoff.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "file_name_chars.h"
#include "program_runner.h"
#include "queue_checks.h"
#include "test_server.h"

namespace vtest {
namespace {

using std::chrono::seconds;

TEST(UrlHandoffTest, SecondStartHandsItsUrlsToTheRunningInstance) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    TestServer server;
    server.Set("/first.bin", Route{.size = 3000});
    // Slow enough that its record is seen in the list file before it is Done.
    server.Set("/second.bin", Route{.size = 20000, .bytesPerSecond = 20000});
    const std::string first = folder.desktop() + "/first.bin";
    const std::string second = folder.desktop() + "/second.bin";

    ProgramRun run(folder, {server.Url("/first.bin")});
    ASSERT_TRUE(run.WaitUntilListening()) << run.Output();
    ASSERT_TRUE(WaitUntil([&] { return LengthOf(first) == 3000; }, seconds(60))) << run.Output();
    EXPECT_EQ(CheckBodyPrefix(first, 3000, true), "");

    const std::string tooLong = "http://h/" + std::string(kLongestUrl - 8, 'a');
    ProgramRun handing(folder, {server.Url("/second.bin"), "abcde", tooLong});
    EXPECT_EQ(handing.WaitForExit(60000), 1) << handing.Output();
    EXPECT_NE(handing.Output().find("refused \"abcde\": a URL has at least 6"), std::string::npos)
        << handing.Output();
    EXPECT_NE(handing.Output().find("...\": a URL has at most 8192 bytes"), std::string::npos)
        << handing.Output();

    const ListRecord record{server.Url("/second.bin"), "second.bin"};
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto list = ParseWholeList(ReadWholeFile(folder.listPath()));
            return list && Contains(*list, record);
        },
        seconds(60)))
        << ReadWholeFile(folder.listPath());
    ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(folder.listPath()).empty(); }, seconds(60)))
        << run.Output();
    EXPECT_EQ(CheckBodyPrefix(second, 20000, true), "");
    EXPECT_EQ(server.RequestsFor("/second.bin").size(), 1u);

    run.Signal(SIGTERM);
    EXPECT_EQ(run.WaitForExit(60000), 0) << run.Output();
}

// Hands `urls` over from another thread, as a second process would, while this
// one serves; returns the sender's exit status and what it printed.
int HandOver(const QString& name, const std::vector<std::string>& urls, uid_t user,
             std::string* printed) {
    std::atomic<int> status{-1};
    testing::internal::CaptureStderr();
    std::thread sender([&] { status = HandUrlsToRunningInstance(name, urls, user); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return status >= 0; }, 90000));
    sender.join();
    *printed = testing::internal::GetCapturedStderr();
    return status;
}

TEST(UrlHandoffTest, EachUrlIsAnsweredAndLongOnesTravelWhole) {
    TempDir temp;
    const QString name = QString::fromStdString(temp / "handoff");
    std::vector<std::string> taken;
    int batches = 0;
    UrlHandoffServer server([&](const std::vector<HandedDownload>& downloads) {
        ++batches;
        std::vector<NewFileOutcome> outcomes;
        for (const HandedDownload& download : downloads) {
            const std::string& url = download.url;
            taken.push_back(url);
            outcomes.push_back(url.find("name") != std::string::npos ? kFileNameTooLong
                                                                     : kJobAdded);
        }
        return outcomes;
    });
    ASSERT_TRUE(server.Listen(name));

    const std::string longest = "http://h/" + std::string(kLongestUrl - 9, 'a');
    const std::vector<std::string> urls = {"http://h/ok", longest, longest + "b", "http://h/name"};
    std::string printed;
    EXPECT_EQ(HandOver(name, urls, ::geteuid(), &printed), 1);
    EXPECT_EQ(taken, (std::vector<std::string>{"http://h/ok", longest, "http://h/name"}));
    EXPECT_NE(printed.find("refused \"http://h/name\": the file name it proposes is over 255"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("\": a URL has at most 8192 bytes"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("http://h/ok"), std::string::npos) << printed;

    // More than one batch may hold: the sender splits, every URL is answered.
    taken.clear();
    batches = 0;
    const std::vector<std::string> many(300, longest);
    EXPECT_EQ(HandOver(name, many, ::geteuid(), &printed), 0) << printed;
    EXPECT_EQ(taken.size(), many.size());
    EXPECT_GE(batches, 2);
}

TEST(UrlHandoffTest, NothingPassesBetweenDifferentUsers) {
    TempDir temp;
    const QString name = QString::fromStdString(temp / "handoff");
    int calls = 0;
    const auto handler = [&calls](const std::vector<HandedDownload>& downloads) {
        ++calls;
        return std::vector<NewFileOutcome>(downloads.size(), kJobAdded);
    };
    struct Case {
        uid_t serves;      // the user the instance serves
        uid_t sendsTo;     // the user the sender expects
        const char* says;  // the sender's line
    };
    const Case cases[] = {
        {::geteuid() + 1, ::geteuid(), "did not answer"},
        {::geteuid(), ::geteuid() + 1, "served by another user"},
    };
    for (const Case& c : cases) {
        UrlHandoffServer server(handler, c.serves);
        ASSERT_TRUE(server.Listen(name));
        std::string printed;
        EXPECT_EQ(HandOver(name, {"http://h/token=secret"}, c.sendsTo, &printed), 1);
        EXPECT_NE(printed.find(c.says), std::string::npos) << printed;
        server.Close();
    }
    EXPECT_EQ(calls, 0);
}

// The options, on the real program: nothing is queued, nothing is started.
TEST(UrlHandoffTest, HelpVersionAndUnknownOptions) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: vantorel"},
        {{"--version"}, 0, "Vantorel 1.2\n"},
        {{"http://host/x", "-x"}, 2, "unknown option \"-x\"\nUsage: vantorel"},
    };
    for (const Case& c : cases) {
        ProgramRun run(folder, c.args);
        EXPECT_EQ(run.WaitForExit(30000), c.status) << run.Output();
        EXPECT_NE(run.Output().find(c.says), std::string::npos) << run.Output();
    }
    EXPECT_EQ(ReadWholeFile(folder.listPath()), "");
}

}  // namespace
}  // namespace vtest
