// Random job states, from a fixed seed, through the Status and LastError texts.
// Run under ASan+UBSan this is the sanitizer-checked fuzz run of StatusText,
// ResultLabel and LastErrorText: every text ends inside textBuffer, labels come
// from the table, and the 404 rule changes `tries` as it should, never overflowing.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "job_texts.h"
#include "random_counts.h"

namespace {

constexpr int kJobCases = 60000;

// The label tables, written out again so the texts are checked against the rule
// rather than against the code's own tables.
template <typename Code>
struct Label {
    Code code;
    const char* text;
};

// clang-format off
constexpr Label<unsigned long> kResultLabels[] = {
    {0, ""}, {1, "FOpen"}, {2, "NoFile"}, {3, "FProblem"}, {4, "BadURL"}, {5, "BadURL"},
    {6, "Unsupported"}, {7, "NoConnect"}, {8, "BadRequest"}, {9, "BadSendRequest"},
    {10, "FileWrongLength"}, {11, "Dropped"}, {12, "Interrupted"}, {13, "TimeOut"},
    {400, "BadReq"}, {401, "Unauth"}, {402, "Pay!"}, {403, "Forbidden"}, {404, "NotFound"},
    {405, "BadMethod"}, {406, "NotAccept"}, {407, "AuthReq"}, {408, "TimeOut"}, {410, "Gone"},
    {500, "ServError"}, {503, "Later"}, {504, "GTimeOut"},
};
// clang-format on

constexpr Label<long long> kStatusLabels[] = {
    {STATUS_DONE, "Done"},       {STATUS_FAILED, "Failed"},   {STATUS_WAIT, "Wait"},
    {STATUS_OPENING, "Opening"}, {STATUS_CONNECT, "Connect"}, {STATUS_REQUEST, "Request"},
    {STATUS_CATCH, "Catch"},
};

template <typename Code, std::size_t N>
const char* Find(const Label<Code> (&table)[N], Code code, const char* otherwise) {
    for (const auto& entry : table) {
        if (entry.code == code) return entry.text;
    }
    return otherwise;
}

const char* ExpectedLabel(unsigned long result) { return Find(kResultLabels, result, "Eh?"); }

const char* ExpectedStatusLabel(long long status) {
    return Find(kStatusLabels, status, static_cast<const char*>(nullptr));
}

// A text the buffer holds must end inside it.
bool EndsInsideTheBuffer(const char* text) {
    return text != textBuffer || std::memchr(textBuffer, '\0', sizeof textBuffer) != nullptr;
}

class JobStates {
public:
    explicit JobStates(std::uint32_t seed) : counts_(seed) {}

    long long Status() {
        auto& rng = counts_.Rng();
        switch (rng() % 4) {
            case 0: {
                static const long long kCodes[] = {STATUS_DONE,    STATUS_FAILED,  STATUS_WAIT,
                                                   STATUS_OPENING, STATUS_CONNECT, STATUS_REQUEST,
                                                   STATUS_CATCH};
                return kCodes[rng() % 7];
            }
            case 1:  // negative values between and around the codes, and the extremes
                return rng() % 8 == 0 ? (rng() % 2 ? LLONG_MIN : LLONG_MAX)
                                      : -static_cast<long long>(rng() % 40);
            default:
                return static_cast<long long>(counts_.Next());
        }
    }

    std::uint64_t Total() {
        auto& rng = counts_.Rng();
        switch (rng() % 4) {
            case 0:
                return rng() % 2 ? SIZE_UNKNOWN : 0;
            case 1:
                return 1 + rng() % 3;
            default:
                return counts_.Next();
        }
    }

    unsigned long Result() {
        auto& rng = counts_.Rng();
        switch (rng() % 3) {
            case 0:
                return rng() % 16;
            case 1:
                return 100 + rng() % 500;
            default:
                return static_cast<unsigned long>(counts_.Full());
        }
    }

    int Tries() {
        auto& rng = counts_.Rng();
        switch (rng() % 4) {
            case 0:
                return 0;
            case 1:
                return static_cast<int>(rng() % 30);
            case 2:
                return INT_MAX - static_cast<int>(rng() % 45);
            default:
                return static_cast<int>(rng());
        }
    }

private:
    modeltest::RandomCounts counts_;
};

TEST(StatusTextFuzz, LabelsOrSizeAndPercentageWithinTheBuffer) {
    JobStates states(20240918);
    DownloadJob job;
    for (int i = 0; i < kJobCases; ++i) {
        const long long status = states.Status();
        const std::uint64_t total = states.Total();
        job.status = status;
        job.totalSize = total;
        std::memset(textBuffer, 'X', sizeof textBuffer);
        const char* text = StatusText(&job);
        ASSERT_TRUE(EndsInsideTheBuffer(text)) << status << " of " << total;
        if (const char* label = ExpectedStatusLabel(status)) {
            ASSERT_STREQ(text, label);
            continue;
        }
        char size[64];
        std::string expected = FormatSize(size, static_cast<std::uint64_t>(status));
        if (total != SIZE_UNKNOWN && total != 0) {
            char percent[64];
            std::snprintf(percent, sizeof percent, " (%.1f%%)",
                          static_cast<double>(status) * 100.0 / static_cast<double>(total));
            expected += percent;
        }
        ASSERT_EQ(text, textBuffer) << status;
        ASSERT_EQ(std::string(text), expected) << status << " of " << total;
        ASSERT_EQ(std::string(text).find("inf"), std::string::npos) << text;
        ASSERT_EQ(std::string(text).find("nan"), std::string::npos) << text;
    }
}

TEST(LastErrorTextFuzz, LabelsFromTheTableAndTheCountBefore) {
    JobStates states(20240919);
    DownloadJob job;
    for (int i = 0; i < kJobCases; ++i) {
        const unsigned long result = states.Result();
        const int tries = states.Tries();
        job.result = result;
        job.tries = tries;
        // A 404 adds 20 each time its label is produced, held at INT_MAX.
        const int afterLabel = result != 404 ? tries : tries > INT_MAX - 20 ? INT_MAX : tries + 20;

        std::memset(textBuffer, 'X', sizeof textBuffer);
        const char* text = LastErrorText(&job);
        ASSERT_TRUE(EndsInsideTheBuffer(text)) << result << " " << tries;
        if (tries == 0) {
            ASSERT_STREQ(text, "");
            ASSERT_EQ(job.tries, 0) << "a job never restarted is not counted, result " << result;
        } else {
            ASSERT_EQ(text, textBuffer);
            ASSERT_EQ(std::string(text),
                      std::string(ExpectedLabel(result)) + ":" + std::to_string(tries));
            ASSERT_EQ(job.tries, afterLabel) << result << " " << tries;
        }

        job.tries = tries;
        const char* label = ResultLabel(&job);
        ASSERT_STREQ(label, ExpectedLabel(result)) << result;
        ASSERT_NE(label, textBuffer) << "labels are constant texts";
        ASSERT_EQ(job.tries, afterLabel) << result << " " << tries;
    }
}

}  // namespace
