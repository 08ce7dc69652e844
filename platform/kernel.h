// Kernel objects: threads created suspended with a priority, auto-reset events, sleep
// and the performance counter.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// What a request for a raised priority obtained.
enum class ThreadPriority {
    Normal,    // nothing better was allowed
    Nice,      // a lower nice value than the process's
    RealTime,  // SCHED_FIFO at a low real-time priority
};

const char* ThreadPriorityName(ThreadPriority priority);

// A thread that is created waiting on a start gate and runs its body once resumed.
// Destroying a thread that was created but never resumed resumes it first and joins;
// destroying a running one joins it.
class SuspendedThread {
public:
    SuspendedThread() = default;
    ~SuspendedThread();
    SuspendedThread(const SuspendedThread&) = delete;
    SuspendedThread& operator=(const SuspendedThread&) = delete;

    // Creates the thread; its body waits for Resume. False if the thread cannot start.
    bool Create(std::function<void()> body);
    // "One step above normal": SCHED_FIFO at a low priority, else a lower nice value,
    // else normal. Call after Create, before or after Resume.
    ThreadPriority RaisePriority();
    void Resume();
    // Waits without limit for the body to return.
    void Join();
    bool Created() const { return thread_.joinable(); }

private:
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable gate_;
    bool resumed_ = false;
    bool tidKnown_ = false;
    int tid_ = 0;
};

// Auto-reset event: Set wakes one waiter (or the next one to wait) and clears itself.
// Set never waits: it is a flag and, when that flag was clear, one futex wake, so a
// real-time thread may signal without taking a lock.
class AutoResetEvent {
public:
    void Set();
    void Reset();
    void Wait();
    // False on time-out.
    bool WaitFor(uint32_t milliseconds);

private:
    std::atomic<uint32_t> set_{0};  // 1 while set; the futex word
};

void Sleep(uint32_t milliseconds);
// Steady-clock ticks and their frequency (ticks per second).
int64_t QueryPerformanceCounter();
int64_t QueryPerformanceFrequency();
