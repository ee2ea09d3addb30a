// URLs on the command line of the real program: the first start queues its own,
// a second start for the same folder hands its URLs to the first and ends with 0,
// and a text too short for a URL is left out with a line on stderr.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

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

    ProgramRun handing(folder, {server.Url("/second.bin"), "abcde"});
    EXPECT_EQ(handing.WaitForExit(60000), 0) << handing.Output();
    EXPECT_NE(handing.Output().find("ignored \"abcde\""), std::string::npos) << handing.Output();

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

}  // namespace
}  // namespace vtest
