#include "list_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "list_save.h"
#include "model_fixture.h"

namespace {

using modeltest::AddJob;
using modeltest::Fields;
using modeltest::JobFields;
using modeltest::Jobs;
using modeltest::ReadFile;

class ListFileTest : public modeltest::ModelTest {};

TEST_F(ListFileTest, ThreeJobsComeBackInOrderAsWaitingJobs) {
    AddJob("http://127.0.0.1:1/a", "a.bin");
    AddJob("https://127.0.0.1:1/b?x=1", "b.bin");
    AddJob("http://127.0.0.1:1/c", "c.bin");
    Jobs()[1]->tries = 3;
    Jobs()[1]->status = STATUS_FAILED;
    SaveJobList();
    EXPECT_EQ(ReadFile(listPath),
              "\"http://127.0.0.1:1/a\" \"a.bin\"\n"
              "\"https://127.0.0.1:1/b?x=1\" \"b.bin\"\n"
              "\"http://127.0.0.1:1/c\" \"c.bin\"\n");

    modeltest::DestroyAllJobs();
    LoadJobList();
    const Fields expected = {{"http://127.0.0.1:1/a", "a.bin"},
                             {"https://127.0.0.1:1/b?x=1", "b.bin"},
                             {"http://127.0.0.1:1/c", "c.bin"}};
    EXPECT_EQ(JobFields(), expected);
    for (DownloadJob* job : Jobs()) {
        EXPECT_EQ(job->status.load(), STATUS_WAIT);
        EXPECT_EQ(job->tries, 0);
        EXPECT_EQ(job->deleteMark, 0);
        EXPECT_EQ(job->dataReceptor, job->fileName);  // the run writes to the job's file
    }
}

TEST_F(ListFileTest, DoneJobLeavesTheFileButStaysInTheQueue) {
    AddJob("u1", "f1");
    AddJob("u2", "f2")->status = STATUS_DONE;
    AddJob("u3", "f3")->status = STATUS_FAILED;
    SaveJobList();
    EXPECT_EQ(ReadFile(listPath), "\"u1\" \"f1\"\n\"u3\" \"f3\"\n");
    EXPECT_EQ(Jobs().size(), 3u);
}

TEST_F(ListFileTest, EmptyQueueWritesAnEmptyFile) {
    modeltest::WriteFile(listPath, "\"old\" \"old\"\n");
    SaveJobList();
    EXPECT_EQ(ReadFile(listPath), "");
}

TEST_F(ListFileTest, JobWithoutFileNameKeepsItsPlace) {
    DownloadJob* job = AddJob("u1", "f1");
    EXPECT_EQ(SetJobFileName(job, nullptr), 0);
    EXPECT_EQ(job->fileName, nullptr);
    EXPECT_EQ(job->dataReceptor, nullptr);
    AddJob("u2", "f2");
    SaveJobList();
    EXPECT_EQ(ReadFile(listPath), "\"u1\" \"\"\n\"u2\" \"f2\"\n");
}

TEST_F(ListFileTest, QuoteInsideAFieldNeverReachesTheFile) {
    // A quote would end its field early and pair every later URL with the wrong
    // file: the URL gets it percent-encoded, the name a '-'.
    AddJob("http://h/\"q\"", "a\"b");
    AddJob("u2", "f2");
    // The longest URL New File hands over, every byte after the host a quote.
    std::string encoded = "http://h/";
    for (int i = 0; i < 1014; ++i) encoded += "%22";
    AddJob("http://h/" + std::string(1014, '"'), "f3");
    SaveJobList();
    EXPECT_EQ(ReadFile(listPath),
              "\"http://h/%22q%22\" \"a-b\"\n\"u2\" \"f2\"\n\"" + encoded + "\" \"f3\"\n");
    modeltest::DestroyAllJobs();
    LoadJobList();
    const Fields expected = {{"http://h/%22q%22", "a-b"}, {"u2", "f2"}, {encoded, "f3"}};
    EXPECT_EQ(JobFields(), expected);
}

TEST_F(ListFileTest, ReaderTable) {
    const struct {
        const char* name;
        std::string bytes;
        Fields jobs;
    } cases[] = {
        {"empty file", "", {}},
        {"no quotes at all", "hello world\nno records here\n", {}},
        {"last line without line end", "\"a\" \"b\"", {{"a", "b"}}},
        {"CR LF line ends", "\"a\" \"b\"\r\n\"c\" \"d\"\r\n", {{"a", "b"}, {"c", "d"}}},
        {"text outside the quotes ignored", "x\"a\"y y\"b\"zz\n", {{"a", "b"}}},
        {"empty fields", "\"\" \"\"\n", {{"", ""}}},
        {"cut in the file name", "\"a\" \"b\"\n\"c\" \"d", {{"a", "b"}}},
        {"cut before the file name", "\"a\" \"b\"\n\"c\" ", {{"a", "b"}}},
        {"cut in the URL", "\"a\" \"b\"\n\"c", {{"a", "b"}}},
        {"cut after an opening quote", "\"a\" \"b\"\n\"", {{"a", "b"}}},
        {"NUL ends the text of a field", std::string("\"a\0b\" \"c\"\n", 10), {{"a", "c"}}},
        {"lone CR kept in a field", "\"a\rb\" \"c\"", {{"a\rb", "c"}}},
        {"CR LF in a field kept", "\"a\r\nb\" \"c\"", {{"a\r\nb", "c"}}},
        {"CR before EOF", "\"a\" \"b\"\r", {{"a", "b"}}},
        {"binary bytes", "\"\xff\x01\x7f\" \"\x80\"", {{"\xff\x01\x7f", "\x80"}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadBytes(c.bytes), c.jobs) << c.name;
    }
}

TEST_F(ListFileTest, LongFieldsAreCutAndPutTheRestOutOfStep) {
    const std::string url2047(kListUrlMax, 'u');
    const std::string name259(kListFileNameMax, 'n');
    // At the limit, fields stay whole and in step.
    EXPECT_EQ(LoadBytes("\"" + url2047 + "\" \"" + name259 + "\"\n\"a\" \"b\"\n"),
              (Fields{{url2047, name259}, {"a", "b"}}));
    // One over: the extra character is dropped and ends the field, so the real
    // closing quote is taken as the next opening one.
    EXPECT_EQ(LoadBytes("\"" + url2047 + "X\" \"f\"\n\"a\" \"b\"\n"),
              (Fields{{url2047, " "}, {"\n", " "}}));
    EXPECT_EQ(LoadBytes("\"u\" \"" + name259 + "X\"\n\"a\" \"b\"\n"),
              (Fields{{"u", name259}, {"\n", " "}}));
}

TEST_F(ListFileTest, LongestUrlComesBackWholeEvenWhenEveryByteWasAQuote) {
    for (const char fill : {'u', '"'}) {
        AddJob("http://h/" + std::string(kLongestUrl - 9, fill), "f");
        SaveJobList();
        const std::string expected = UrlWithoutQuotes(jobList->url);
        modeltest::DestroyAllJobs();
        LoadJobList();
        EXPECT_EQ(JobFields(), (Fields{{expected, "f"}})) << fill;
        modeltest::DestroyAllJobs();
    }
}

TEST_F(ListFileTest, LoadAppendsAfterExistingJobs) {
    AddJob("first", "1");
    modeltest::WriteFile(listPath, "\"second\" \"2\"\n");
    LoadJobList();
    EXPECT_EQ(JobFields(), (Fields{{"first", "1"}, {"second", "2"}}));
}

TEST_F(ListFileTest, MissingFileMeansNoJobs) {
    LoadJobList();
    EXPECT_EQ(jobList, nullptr);
    listPath = dir_.File("missing/filelist.dat");
    LoadJobList();
    EXPECT_EQ(jobList, nullptr);
}

// A link in the list file's place (planted, say, to read someone's file as a
// queue, or to make a save overwrite it) is neither read nor written through.
TEST_F(ListFileTest, ALinkInTheListFilesPlaceIsNeverFollowed) {
    const std::string elsewhere = dir_.File("elsewhere");
    modeltest::WriteFile(elsewhere, "\"http://host/a\" \"a\"\n");
    ASSERT_EQ(::symlink(elsewhere.c_str(), listPath.c_str()), 0);
    LoadJobList();
    EXPECT_EQ(jobList, nullptr);
    AddJob("http://host/b", "b");
    SaveJobList();
    EXPECT_EQ(ReadFile(elsewhere), "\"http://host/a\" \"a\"\n");
    EXPECT_EQ(ReadFile(listPath), "\"http://host/b\" \"b\"\n");
}

TEST_F(ListFileTest, UnwritableListFileIsSkippedSilently) {
    AddJob("u1", "f1");
    listPath = dir_.File("missing/filelist.dat");
    SaveJobList();
    EXPECT_FALSE(std::filesystem::exists(dir_.File("missing")));
    // A folder where the file should be: still there afterwards, and empty.
    listPath = dir_.File("folder");
    std::filesystem::create_directory(listPath);
    SaveJobList();
    EXPECT_TRUE(std::filesystem::is_directory(listPath));
    EXPECT_TRUE(std::filesystem::is_empty(listPath));
    EXPECT_EQ(JobFields(), (Fields{{"u1", "f1"}}));
    // Nothing else was left in the scratch folder either.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

// A running job being deleted waits for its run's end to leave the queue; a quit
// before that end must not bring it back at the next start.
TEST_F(ListFileTest, AJobMarkedForDeletionIsNeverWritten) {
    AddJob("u1", "f1");
    AddJob("u2", "f2")->deleteMark = 1;
    AddJob("u3", "f3");
    SaveJobList();
    EXPECT_EQ(ReadFile(listPath), "\"u1\" \"f1\"\n\"u3\" \"f3\"\n");
}

TEST_F(ListFileTest, AMillionRecords) {
    std::string bytes;
    for (int i = 0; i < 1000000; ++i) {
        bytes += "\"u" + std::to_string(i) + "\" \"f\"\n";
    }
    modeltest::WriteFile(listPath, bytes);
    LoadJobList();
    std::size_t count = 0;
    const DownloadJob* last = nullptr;
    for (const DownloadJob* job = jobList; job != nullptr; job = job->next) {
        ++count;
        last = job;
    }
    EXPECT_EQ(count, 1000000u);
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last->url, "u999999");
}

}  // namespace
