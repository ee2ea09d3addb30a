// The command line: `vantorel [--help | --version] [--] [URL...]`.
//
// Options come first or among the URLs; the first of --help, --version or an
// unknown option decides, and nothing is queued then. `--` ends the options: every
// argument after it is a URL, also one starting with '-'. A lone `-` is an unknown
// option (the program reads no URLs from its standard input). Every other argument
// is a URL, taken whole when it has at least 6 characters and at most kLongestUrl
// bytes, refused otherwise; the others are queued all the same.
//
// Threads: user-interface thread, at start-up.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class CommandAction {
    kRun,        // queue `urls` (none: just start)
    kHelp,       // print the usage on stdout, exit 0
    kVersion,    // print the version on stdout, exit 0
    kBadOption,  // print the usage on stderr, exit 2
};

// One text the command line or a running instance did not queue, and why.
struct RefusedUrl {
    std::string url;
    std::string reason;
};

struct CommandLine {
    CommandAction action = CommandAction::kRun;
    std::vector<std::string> urls;
    std::vector<RefusedUrl> refused;
    std::string badOption;
};

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // a URL refused, or the running instance unreachable
inline constexpr int kExitUsage = 2;    // an unknown option

CommandLine ReadCommandLine(int argc, char** argv);

// The why of a URL refused for its length ("" when its length is fine).
std::string UrlLengthProblem(std::string_view url);

// "Vantorel 1.2" and the usage text, each ending in a newline.
std::string VersionText();
std::string UsageText();

// The line on stderr for a refused URL: `vantorel: refused "URL": reason`, the
// URL cut short when it is very long.
void PrintRefusal(std::string_view url, std::string_view reason);
