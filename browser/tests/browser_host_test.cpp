// The native messaging host alone: what it refuses, with a reason, and a good
// message reaching a running Vantorel with the browser's fields.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "allowed_callers.h"
#include "native_message.h"
#include "program_runner.h"
#include "queue_checks.h"
#include "test_server.h"

namespace vtest {
namespace {

using std::chrono::seconds;

std::string Framed(const std::string& json) {
    const auto length = static_cast<std::uint32_t>(json.size());
    std::string bytes(sizeof length, '\0');
    std::memcpy(bytes.data(), &length, sizeof length);
    return bytes + json;
}

// Runs `host` with `args` and the folders of `root`, feeding it `input`; the
// JSON of every answer it wrote.
std::vector<std::string> RunHost(const std::string& host, const std::string& root,
                                 const std::vector<std::string>& args, const std::string& input) {
    const std::string inPath = root + "/host-in", outPath = root + "/host-out";
    WriteWholeFile(inPath, input);
    std::vector<std::string> environment = {
        "HOME=" + root + "/home", "XDG_CONFIG_HOME=" + root + "/config",
        "XDG_RUNTIME_DIR=" + root + "/runtime", "QT_QPA_PLATFORM=offscreen", "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = args;
    std::string program = host;
    std::vector<char*> argv = {program.data()};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(inPath.c_str(), O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string output = ReadWholeFile(outPath);
    std::vector<std::string> answers;
    for (std::size_t at = 0; at + 4 <= output.size();) {
        std::uint32_t length = 0;
        std::memcpy(&length, output.data() + at, sizeof length);
        answers.push_back(output.substr(at + 4, length));
        at += 4 + length;
    }
    return answers;
}

const std::string kOrigin = std::string("chrome-extension://") + kChromiumExtensionIds[0] + "/";

TEST(BrowserHostTest, RefusesWhatIsNotAGoodMessageFromOurExtension) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    const std::string good = R"({"url":"http://127.0.0.1:1/x"})";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string input;
        std::vector<std::string> answers;
    };
    const Case cases[] = {
        {"another extension",
         {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"},
         Framed(good),
         {R"({"reason":"the caller is not the Vantorel extension","status":"refused"})"}},
        {"another Firefox extension",
         {"/usr/lib/mozilla/native-messaging-hosts/x.json", "other@example.org"},
         Framed(good),
         {R"({"reason":"the caller is not the Vantorel extension","status":"refused"})"}},
        {"not JSON, then no URL",
         {kOrigin},
         Framed("{url:") + Framed(R"({"referer":"http://h/"})"),
         {R"({"reason":"the message is not a JSON object","status":"refused"})",
          R"({"reason":"the message holds no URL","status":"refused"})"}},
        {"over the limit",
         {kOrigin},
         Framed(std::string(kMaxMessageBytes + 1, ' ')),
         {R"({"reason":"the message is over 262144 bytes","status":"refused"})"}},
        {"cut short", {kOrigin}, Framed(good).substr(0, 10), {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunHost(VANTOREL_HOST, temp.path(), c.args, c.input), c.answers) << c.what;
    }
}

TEST(BrowserHostTest, AGoodMessageReachesTheRunningInstanceWithTheBrowsersFields) {
    TempDir temp;
    ProgramFolder folder(temp.path(), /*withDesktop=*/true);
    const std::string host = folder.programDir() + "/vantorel-browser-host";
    std::filesystem::copy_file(VANTOREL_HOST, host);
    TestServer server;
    server.Set("/get", Route{.size = 5000});
    ProgramRun run(folder);
    ASSERT_TRUE(run.WaitUntilListening()) << run.Output();

    const std::string message =
        R"({"url":")" + server.Url("/get?id=7") +
        R"(","referer":"http://127.0.0.1:1/page","userAgent":"Browser/2.0",)"
        R"("fileName":"report.pdf","cookies":[{"domain":"127.0.0.1",)"
        R"("hostOnly":true,"path":"/","secure":false,"httpOnly":true,)"
        R"("session":true,"name":"sid","value":"s3cret"}]})";
    EXPECT_EQ(RunHost(host, temp.path(), {kOrigin}, Framed(message)),
              std::vector<std::string>{R"({"status":"queued"})"});
    const std::string file = folder.desktop() + "/report.pdf";
    ASSERT_TRUE(WaitUntil([&] { return LengthOf(file) == 5000; }, seconds(60))) << run.Output();
    const auto requests = server.RequestsFor("/get");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].Header("Cookie"), "sid=s3cret");
    EXPECT_EQ(requests[0].Header("Referer"), "http://127.0.0.1:1/page");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Browser/2.0");
}

}  // namespace
}  // namespace vtest
