#include "job_texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

namespace {

struct SizeCase {
    std::uint64_t bytes;
    const char* text;
};

TEST(FormatSize, KeepsFourCharactersAndTheUnit) {
    constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
    const SizeCase cases[] = {
        {0, "0.00b"},
        {5, "5.00b"},
        {512, "512b"},
        {1000, "1000b"},
        {1023, "1023b"},
        {1024, "1.00K"},
        {1536, "1.50K"},
        {10240, "10.0K"},
        {102400, "100K"},
        {1048575, "1023K"},
        {1048576, "1.00Mb"},
        {5767168, "5.50Mb"},
        {4294967295u, "4096Mb"},  // 4095.99... prints as 4096.000
        // Counts the 32-bit library could not hold go on in larger units, never
        // showing a number that lost its leading digits.
        {std::uint64_t{1} << 32, "4.00Gb"},
        {5 * kGiB, "5.00Gb"},
        {100 * kGiB, "100Gb"},
        {1023 * kGiB, "1023Gb"},
        {1024 * kGiB, "1.00Tb"},
        {(std::uint64_t{1} << 50) * 3, "3.00Pb"},
        {~std::uint64_t{0}, "16.0Eb"},
    };
    for (const SizeCase& c : cases) {
        char out[64];
        EXPECT_STREQ(FormatSize(out, c.bytes), c.text) << c.bytes;
    }
}

TEST(FormatSize, NeverLongerThanSevenCharacters) {
    // Every boundary of every unit, and either side of it.
    for (int bit = 0; bit < 64; ++bit) {
        for (std::uint64_t delta : {0, 1}) {
            const std::uint64_t bytes = (std::uint64_t{1} << bit) - delta;
            char out[64];
            const std::string text = FormatSize(out, bytes);
            EXPECT_LE(text.size(), 7u) << bytes << " -> " << text;
            EXPECT_NE(text[0], '.') << bytes;
        }
    }
}

TEST(StatusText, LabelsOfTheStatusCodes) {
    const struct {
        long long status;
        const char* text;
    } cases[] = {
        {STATUS_DONE, "Done"},       {STATUS_FAILED, "Failed"},   {STATUS_WAIT, "Wait"},
        {STATUS_OPENING, "Opening"}, {STATUS_CONNECT, "Connect"}, {STATUS_REQUEST, "Request"},
        {STATUS_CATCH, "Catch"},
    };
    DownloadJob job;
    for (const auto& c : cases) {
        job.status = c.status;
        EXPECT_STREQ(StatusText(&job), c.text);
    }
}

TEST(StatusText, ByteCountWithPercentage) {
    const struct {
        long long status;
        std::uint64_t total;
        const char* text;
    } cases[] = {
        {1536, 10240, "1.50K (15.0%)"},
        {0, 10240, "0.00b (0.0%)"},
        {10240, 10240, "10.0K (100.0%)"},
        // 64-bit counts keep an exact percentage.
        {std::int64_t{3} << 32, std::uint64_t{4} << 32, "12.0Gb (75.0%)"},
        // No percentage when the length is unknown.
        {1536, SIZE_UNKNOWN, "1.50K"},
        // An empty body without length, just ending: no division by zero.
        {0, 0, "0.00b"},
        {1536, 0, "1.50K"},
    };
    DownloadJob job;
    for (const auto& c : cases) {
        job.status = c.status;
        job.totalSize = c.total;
        EXPECT_STREQ(StatusText(&job), c.text) << c.status << " of " << c.total;
    }
}

TEST(StatusText, ExtremeCountsFitTheBuffer) {
    DownloadJob job;
    job.status = LLONG_MAX;
    job.totalSize = 1;
    const std::string text = StatusText(&job);
    EXPECT_EQ(text.substr(0, 9), "8.00Eb (9");
    EXPECT_EQ(text.substr(text.size() - 4), ".0%)");
    EXPECT_EQ(text.find("inf"), std::string::npos);
}

TEST(ResultLabel, EveryCode) {
    const struct {
        unsigned long result;
        const char* label;
    } cases[] = {
        {0, ""},
        {1, "FOpen"},
        {2, "NoFile"},
        {3, "FProblem"},
        {4, "BadURL"},
        {5, "BadURL"},
        {6, "Unsupported"},
        {7, "NoConnect"},
        {8, "BadRequest"},
        {9, "BadSendRequest"},
        {10, "FileWrongLength"},
        {11, "Dropped"},
        {12, "Interrupted"},
        {13, "TimeOut"},
        {14, "Eh?"},
        {300, "Eh?"},
        {400, "BadReq"},
        {401, "Unauth"},
        {402, "Pay!"},
        {403, "Forbidden"},
        {405, "BadMethod"},
        {406, "NotAccept"},
        {407, "AuthReq"},
        {408, "TimeOut"},
        {409, "Eh?"},
        {410, "Gone"},
        {500, "ServError"},
        {503, "Later"},
        {504, "GTimeOut"},
        {0xFFFFFFFFUL, "Eh?"},
    };
    DownloadJob job;
    for (const auto& c : cases) {
        job.result = c.result;
        job.tries = 3;
        EXPECT_STREQ(ResultLabel(&job), c.label) << c.result;
        EXPECT_EQ(job.tries, 3) << "only 404 changes tries, not " << c.result;
    }
}

TEST(ResultLabel, NotFoundAddsTwentyEachTime) {
    DownloadJob job;
    job.result = 404;
    EXPECT_STREQ(ResultLabel(&job), "NotFound");
    EXPECT_EQ(job.tries, 20);
    EXPECT_STREQ(ResultLabel(&job), "NotFound");
    EXPECT_EQ(job.tries, 40);
    // Endless refreshes never overflow the count.
    job.tries = INT_MAX - 25;
    ResultLabel(&job);
    EXPECT_EQ(job.tries, INT_MAX - 5);
    ResultLabel(&job);
    EXPECT_EQ(job.tries, INT_MAX);
    ResultLabel(&job);
    EXPECT_EQ(job.tries, INT_MAX);
}

TEST(LastErrorText, EmptyUntilRestarted) {
    DownloadJob job;
    job.result = 404;  // even a 404 shows nothing, and is not counted, before a restart
    EXPECT_STREQ(LastErrorText(&job), "");
    EXPECT_EQ(job.tries, 0);
}

TEST(LastErrorText, LabelAndTheCountBeforeTheChange) {
    DownloadJob job;
    job.tries = 1;
    job.result = 503;
    EXPECT_STREQ(LastErrorText(&job), "Later:1");
    job.result = 0;  // completed on the first restart
    EXPECT_STREQ(LastErrorText(&job), ":1");
    job.result = 404;
    EXPECT_STREQ(LastErrorText(&job), "NotFound:1");
    EXPECT_EQ(job.tries, 21);
    EXPECT_STREQ(LastErrorText(&job), "NotFound:21");
    EXPECT_EQ(job.tries, 41);
}

}  // namespace
