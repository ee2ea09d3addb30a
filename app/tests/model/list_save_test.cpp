// The coalesced list save: written on the writer thread, it never lands after a
// newer save made at once (an add, a delete), and the shutdown writes what is
// still pending.
#include "list_save.h"

#include <gtest/gtest.h>

#include <string>

#include "list_file.h"
#include "model_fixture.h"

namespace {

using modeltest::AddJob;
using modeltest::ReadFile;

class ListSaveTest : public modeltest::ModelTest {
protected:
    void TearDown() override {
        FinishListSaves();
        ModelTest::TearDown();
    }
};

TEST_F(ListSaveTest, ABackgroundSaveNeverLandsAfterANewerOne) {
    for (int i = 0; i < 200; ++i) AddJob("http://127.0.0.1:1/" + std::to_string(i), "f");
    for (int round = 0; round < 40; ++round) {
        SaveJobListSoon();
        SaveJobListInBackground();
        EXPECT_FALSE(JobListSavePending());
        // Another while that one may still be written: it is taken all the same,
        // and lands after it.
        AddJob("http://127.0.0.1:1/more" + std::to_string(round), "g");
        SaveJobListSoon();
        SaveJobListInBackground();
        EXPECT_FALSE(JobListSavePending());
        TakeOverListSaves();
        ASSERT_EQ(ReadFile(listPath), JobListBytes()) << "round " << round;
        AddJob("http://127.0.0.1:1/new" + std::to_string(round), "g");  // then an add
        SaveJobList();
        ASSERT_EQ(ReadFile(listPath), JobListBytes()) << "round " << round;
    }
    // The shutdown: a save still pending is written before it returns.
    jobList->status = STATUS_DONE;
    SaveJobListSoon();
    FinishListSaves();
    EXPECT_FALSE(JobListSavePending());
    EXPECT_EQ(ReadFile(listPath), JobListBytes());
    EXPECT_EQ(ReadFile(listPath).find("http://127.0.0.1:1/0\""), std::string::npos);
}

}  // namespace
