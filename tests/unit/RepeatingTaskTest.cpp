// The monitor's repeating task: joining it wakes it from its pause at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Platform.h"

// The pause is an hour: a join that waited it out would hang the suite.
TEST(RepeatingTask, JoinEndsAPauseAtOnce) {
    platform::RepeatingTask task;
    std::atomic<int> runs{0};
    ASSERT_TRUE(task.start([&] { return ++runs > 0; }, 3600 * 1000));
    for (int i = 0; i < 200 && runs.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // into the pause after the first run
    EXPECT_TRUE(task.join());
    EXPECT_EQ(1, runs.load());
}
