// Random and mutated list files, from a fixed seed, through the real reader and
// writer. Run under ASan+UBSan this is the sanitizer-checked fuzz run; the
// properties below also catch wrong results, not only crashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "list_file.h"
#include "list_save.h"
#include "model_fixture.h"

namespace {

using modeltest::Fields;
using modeltest::JobFields;

constexpr int kCases = 12000;

// Each case saves the list, and a save syncs to the disk: on tmpfs, where that
// costs nothing, when the machine has it.
std::string FastFolder() {
    std::error_code ignored;
    return std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : "";
}

class ListFileFuzz : public modeltest::ModelTest {
protected:
    ListFileFuzz() : ModelTest(FastFolder()) {}

    std::mt19937 rng_{20240611};

    std::size_t Below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }

    // Bytes that matter to the reader come up often; the rest covers all 256.
    char RandomByte() {
        static const char kReaderBytes[] = {'"', '"', ' ', '\r', '\n', '\0', 'a', 'Z'};
        if (Below(2) == 0) {
            return kReaderBytes[Below(sizeof kReaderBytes)];
        }
        return static_cast<char>(Below(256));
    }

    // A field without quotes or NULs: what the writer can give back unchanged.
    std::string CleanField(std::size_t maxLength) {
        std::string field;
        const std::size_t length = Below(4) == 0 ? maxLength - Below(3) : Below(40);
        while (field.size() < length) {
            char c = RandomByte();
            if (c == '"' || c == '\0') {
                c = 'q';
            }
            field.push_back(c);
        }
        return field;
    }

    Fields CleanJobs() {
        Fields jobs(Below(8));
        for (auto& [url, name] : jobs) {
            url = CleanField(Below(8) == 0 ? kListUrlMax : 60);
            name = CleanField(Below(8) == 0 ? kListFileNameMax : 20);
        }
        return jobs;
    }

    static std::string Serialise(const Fields& jobs) {
        std::string bytes;
        for (const auto& [url, name] : jobs) {
            bytes += "\"" + url + "\" \"" + name + "\"\n";
        }
        return bytes;
    }

    std::string Mutate(std::string bytes) {
        const std::size_t edits = 1 + Below(4);
        for (std::size_t i = 0; i < edits; ++i) {
            const std::size_t at = bytes.empty() ? 0 : Below(bytes.size());
            switch (Below(5)) {
                case 0:  // truncate
                    bytes.resize(at);
                    break;
                case 1:  // insert
                    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), RandomByte());
                    break;
                case 2:  // delete
                    if (!bytes.empty()) bytes.erase(at, 1);
                    break;
                case 3:  // overwrite
                    if (!bytes.empty()) bytes[at] = RandomByte();
                    break;
                default:  // a long run, to cross the field limits
                    bytes.insert(at, std::string(Below(2400), RandomByte()));
                    break;
            }
        }
        return bytes;
    }

    std::string RandomBytes() {
        std::string bytes(Below(600), '\0');
        std::generate(bytes.begin(), bytes.end(), [this] { return RandomByte(); });
        return bytes;
    }
};

std::size_t LongestRunWithoutQuote(const std::string& bytes) {
    std::size_t longest = 0;
    std::size_t run = 0;
    for (char c : bytes) {
        run = c == '"' ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

// Whatever the bytes, every job read is whole and within the limits, there are
// never more jobs than the quotes allow, and saving what was read and reading
// that again gives the same jobs (the reader's output is the writer's fixed point).
TEST_F(ListFileFuzz, ReadAnythingThenRoundTrip) {
    for (int i = 0; i < kCases; ++i) {
        std::string bytes;
        switch (i % 3) {
            case 0:
                bytes = RandomBytes();
                break;
            case 1:
                bytes = Mutate(Serialise(CleanJobs()));
                break;
            default:
                bytes = Mutate(RandomBytes());
                break;
        }
        const Fields loaded = LoadBytes(bytes);
        // A record takes two quotes at least (the opening ones), four unless a
        // field ran into its limit, which needs a long stretch without quotes.
        const auto quotes = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '"'));
        ASSERT_LE(loaded.size(),
                  LongestRunWithoutQuote(bytes) > kListFileNameMax ? quotes / 2 : quotes / 4)
            << "case " << i;
        for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
            ASSERT_NE(job->fileName, nullptr) << "case " << i;
            ASSERT_LE(std::string(job->url).size(), kListUrlMax) << "case " << i;
            ASSERT_LE(std::string(job->fileName).size(), kListFileNameMax) << "case " << i;
            ASSERT_EQ(job->dataReceptor, job->fileName) << "case " << i;
            ASSERT_EQ(job->status.load(), STATUS_WAIT) << "case " << i;
        }
        SaveJobList();
        const std::string saved = modeltest::ReadFile(listPath);
        ASSERT_EQ(LoadBytes(saved), loaded) << "case " << i;
    }
}

// Lists the writer can hold exactly survive a save and a load unchanged.
TEST_F(ListFileFuzz, CleanListsRoundTripExactly) {
    for (int i = 0; i < kCases / 4; ++i) {
        const Fields jobs = CleanJobs();
        modeltest::DestroyAllJobs();
        for (const auto& [url, name] : jobs) {
            modeltest::AddJob(url, name);
        }
        SaveJobList();
        ASSERT_EQ(modeltest::ReadFile(listPath), Serialise(jobs)) << "case " << i;
        modeltest::DestroyAllJobs();
        LoadJobList();
        ASSERT_EQ(JobFields(), jobs) << "case " << i;
    }
}

}  // namespace
