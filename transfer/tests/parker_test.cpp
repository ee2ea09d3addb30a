// The futex sleep under the pool and the transfers: no wake-up lost, none
// invented, and what the waker wrote is there for the sleeper.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "parker.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(Parker, KeepsOneUnparkAndWakesASleeperWithWhatItWrote) {
    brindlex::Parker parker;
    // Nobody unparked: the park lasts its whole time.
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(parker.Park(milliseconds(50)));
    EXPECT_GE(Clock::now() - start, milliseconds(50));

    // Unparks before the park are kept, as one.
    parker.Unpark();
    parker.Unpark();
    EXPECT_TRUE(parker.Park(milliseconds(5000)));
    EXPECT_FALSE(parker.Park(milliseconds(10)));

    // A sleeper is woken at once, and sees the waker's plain writes.
    for (int round = 0; round < 200; ++round) {
        int published = 0;
        std::thread waker([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(round % 4 == 0 ? 500 : 0));
            published = round + 1;
            parker.Unpark();
        });
        start = Clock::now();
        parker.ParkUntilUnparked();
        EXPECT_EQ(published, round + 1);
        EXPECT_LT(Clock::now() - start, milliseconds(2000));
        waker.join();
    }
}

}  // namespace
