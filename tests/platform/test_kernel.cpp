// The thread and event primitives the host's workers stand on.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

TEST(Kernel, RaisedPriorityIsWhatItReports) {
    std::atomic<int> policy{-1}, niceValue{0};
    SuspendedThread thread;
    ASSERT_TRUE(thread.Create([&] {
        sched_param param{};
        int p = -1;
        pthread_getschedparam(pthread_self(), &p, &param);
        policy = p;
        niceValue = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
    }));
    const ThreadPriority got = thread.RaisePriority();
    thread.Resume();
    thread.Join();
    const int processNice = getpriority(PRIO_PROCESS, 0);
    EXPECT_EQ(policy.load(), got == ThreadPriority::RealTime ? SCHED_FIFO : SCHED_OTHER);
    if (got != ThreadPriority::RealTime) {
        EXPECT_EQ(niceValue.load(), got == ThreadPriority::Nice ? processNice - 1 : processNice);
    }
    SuspendedThread none;
    EXPECT_EQ(none.RaisePriority(), ThreadPriority::Normal);
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
