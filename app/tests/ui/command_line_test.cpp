// The command line: options, URLs taken whole up to the longest, refusals.
#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_name_chars.h"

namespace {

TEST(CommandLineTest, OptionsDecideAndUrlsAreTakenWholeUpToTheLongest) {
    const std::string longest = "http://h/" + std::string(kLongestUrl - 9, 'a');
    const std::string tooLong = longest + "a";
    const std::string url = "http://host/file.zip";
    struct Case {
        std::vector<std::string> args;
        CommandAction action;
        std::vector<std::string> urls;
        std::vector<std::string> refused;
    };
    const Case cases[] = {
        {{}, CommandAction::kRun, {}, {}},
        {{url, longest}, CommandAction::kRun, {url, longest}, {}},
        {{"abcde", url, tooLong}, CommandAction::kRun, {url}, {"abcde", tooLong}},
        {{"--help"}, CommandAction::kHelp, {}, {}},
        {{url, "--version", "-x"}, CommandAction::kVersion, {}, {}},
        {{url, "-x", "--help"}, CommandAction::kBadOption, {}, {}},
        {{"-"}, CommandAction::kBadOption, {}, {}},
        {{"-help"}, CommandAction::kBadOption, {}, {}},
        {{"--", "--help", "-http://x"}, CommandAction::kRun, {"--help", "-http://x"}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = c.args;
        std::vector<char*> argv = {const_cast<char*>("vantorel")};
        for (std::string& word : words) argv.push_back(word.data());
        const CommandLine line = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
        const std::string label = c.args.empty() ? "<none>" : c.args.front().substr(0, 20);
        EXPECT_EQ(line.action, c.action) << label;
        EXPECT_EQ(line.urls, c.urls) << label;
        std::vector<std::string> refused;
        for (const RefusedUrl& r : line.refused) {
            refused.push_back(r.url);
            EXPECT_FALSE(r.reason.empty()) << label;
        }
        EXPECT_EQ(refused, c.refused) << label;
    }
    EXPECT_EQ(UrlLengthProblem(tooLong), "a URL has at most 8192 bytes");
    EXPECT_EQ(VersionText(), "Vantorel 1.2\n");
}

}  // namespace
