// The thread and event primitives the host's workers stand on.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel.h"

TEST(Kernel, SuspendedThreadRunsOnlyOnceResumed) {
    AutoResetEvent ran;
    std::atomic<int> runs{0};
    SuspendedThread thread;
    ASSERT_TRUE(thread.Create([&] { ++runs, ran.Set(); }));
    EXPECT_FALSE(thread.Create([] {}));  // one body per thread
    EXPECT_FALSE(ran.WaitFor(20));       // held at the gate
    thread.Resume();
    thread.Join();
    EXPECT_EQ(runs.load(), 1);
    std::atomic<bool> ranAtEnd{false};
    {  // destroying a thread that was never resumed lets it run and joins it
        SuspendedThread never;
        ASSERT_TRUE(never.Create([&] { ranAtEnd = true; }));
    }
    EXPECT_TRUE(ranAtEnd.load());
}

TEST(Kernel, AutoResetEventWakesOneWaiterAndClears) {
    AutoResetEvent event;
    EXPECT_FALSE(event.WaitFor(0));
    event.Set();
    event.Set();  // sets do not count up
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_FALSE(event.WaitFor(0));
    std::atomic<int> woken{0};  // two waiters, one Set: exactly one wakes until the second
    std::thread a([&] { event.Wait(), ++woken; });
    std::thread b([&] { event.Wait(), ++woken; });
    event.Set();
    while (woken.load() == 0) std::this_thread::yield();
    EXPECT_EQ(woken.load(), 1);
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_FALSE(event.WaitFor(0));
}
