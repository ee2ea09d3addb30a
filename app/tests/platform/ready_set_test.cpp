// The ready set: each member reported once per arming, with its key, and never
// after it was removed.
#include "ready_set.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<std::uint64_t> Ready(ReadySet& set) {
    std::uint64_t keys[8];
    return std::vector<std::uint64_t>(keys, keys + set.TakeReady(keys, 8));
}

TEST(ReadySet, ReportsEachReadyMemberOncePerArming) {
    ReadySet set;
    ASSERT_TRUE(set.Valid());
    const int a = eventfd(0, EFD_CLOEXEC);
    const int b = eventfd(0, EFD_CLOEXEC);
    ASSERT_TRUE(set.Add(a, 10));
    ASSERT_TRUE(set.Add(b, 20));
    EXPECT_TRUE(Ready(set).empty());

    ASSERT_EQ(eventfd_write(a, 1), 0);
    EXPECT_EQ(Ready(set), std::vector<std::uint64_t>{10});
    // Still readable, but reported already: silent until armed again.
    EXPECT_TRUE(Ready(set).empty());
    ASSERT_TRUE(set.Rearm(a, 11));
    EXPECT_EQ(Ready(set), std::vector<std::uint64_t>{11});

    set.Remove(b);
    ASSERT_EQ(eventfd_write(b, 1), 0);
    EXPECT_TRUE(Ready(set).empty());
    // A descriptor that is no member cannot be armed.
    EXPECT_FALSE(set.Rearm(b, 20));
    close(a);
    close(b);
}

}  // namespace
