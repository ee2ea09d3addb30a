#include "command_line.h"

#include <cstdio>

#include "file_name_chars.h"

namespace {

// A refused URL is shown with this many bytes at most: enough to tell which.
constexpr std::size_t kShownUrlBytes = 200;

}  // namespace

std::string UrlLengthProblem(std::string_view url) {
    if (url.size() > kLongestUrl) {
        return "a URL has at most " + std::to_string(kLongestUrl) + " bytes";
    }
    if (DialogTextLength(url) < kShortestUrl) {
        return "a URL has at least " + std::to_string(kShortestUrl) + " characters";
    }
    return std::string();
}

CommandLine ReadCommandLine(int argc, char** argv) {
    CommandLine line;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        const std::string_view word = argv[i];
        if (options && word == "--") {
            options = false;
            continue;
        }
        if (options && !word.empty() && word.front() == '-') {
            line.urls.clear();
            line.refused.clear();
            if (word == "--help") {
                line.action = CommandAction::kHelp;
            } else if (word == "--version") {
                line.action = CommandAction::kVersion;
            } else {
                line.action = CommandAction::kBadOption;
                line.badOption = word;
            }
            return line;
        }
        std::string problem = UrlLengthProblem(word);
        if (problem.empty()) {
            line.urls.emplace_back(word);
        } else {
            line.refused.push_back({std::string(word), std::move(problem)});
        }
    }
    return line;
}

std::string VersionText() { return "Vantorel " VANTOREL_VERSION "\n"; }

std::string UsageText() {
    return "Usage: vantorel [--] [URL...]\n"
           "       vantorel --help | --version\n"
           "Queues each URL with the file name it proposes, in the Vantorel already\n"
           "running for the same state folder, or in a new window. A URL has from " +
           std::to_string(kShortestUrl) + " characters\nto " + std::to_string(kLongestUrl) +
           " bytes.\n"
           "  --help      show this text and exit\n"
           "  --version   show the version and exit\n"
           "  --          end of the options: every argument after it is a URL\n"
           "Exit status: 0 when every URL was queued, 1 when any was refused or the\n"
           "running Vantorel could not be reached, 2 for an unknown option.\n";
}

void PrintRefusal(std::string_view url, std::string_view reason) {
    const bool cut = url.size() > kShownUrlBytes;
    const std::string shown = CutDialogText(url, kShownUrlBytes);
    std::fprintf(stderr, "vantorel: refused \"%s%s\": %.*s\n", shown.c_str(), cut ? "..." : "",
                 static_cast<int>(reason.size()), reason.data());
}
