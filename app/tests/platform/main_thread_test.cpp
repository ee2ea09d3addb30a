// The check that the queue and the window are used from the user-interface
// thread only: silent there, a message with the caller's place and an abort
// anywhere else, in every build.
#include "main_thread.h"

#include <gtest/gtest.h>

#include <thread>

#include "job_queue.h"

namespace {

TEST(MainThreadDeathTest, ACallOffTheRecordedThreadSaysWhereAndAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RecordUiThread();
    CheckUiThread("here.cpp", 7);  // the recorded thread: nothing happens
    EXPECT_TRUE(OnUiThread());
    EXPECT_DEATH(std::thread([] { CheckUiThread("here.cpp", 7); }).join(),
                 "here\\.cpp:7: called off the user-interface thread");
    // The queue's entry points make the check.
    EXPECT_DEATH(std::thread([] { StartJobs(); }).join(),
                 "job_queue\\.cpp:[0-9]+: called off the user-interface thread");
}

}  // namespace
