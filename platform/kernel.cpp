#include "platform/kernel.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

const char* ThreadPriorityName(ThreadPriority priority) {
    switch (priority) {
        case ThreadPriority::Normal: return "normal";
        case ThreadPriority::Nice: return "nice";
        case ThreadPriority::RealTime: return "real-time";
    }
    return "normal";
}

SuspendedThread::~SuspendedThread() {
    if (!thread_.joinable()) return;
    Resume();
    thread_.join();
}

bool SuspendedThread::Create(std::function<void()> body) {
    if (thread_.joinable() || !body) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        resumed_ = false;
        tidKnown_ = false;
    }
    // std::thread reports a thread that cannot start by throwing; here it is a false.
    try {
        thread_ = std::thread([this, body = std::move(body)] {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                tid_ = static_cast<int>(syscall(SYS_gettid));
                tidKnown_ = true;
                gate_.notify_all();
                gate_.wait(lock, [this] { return resumed_; });
            }
            body();
        });
    } catch (...) {
        return false;
    }
    return true;
}

ThreadPriority SuspendedThread::RaisePriority() {
    if (!thread_.joinable()) return ThreadPriority::Normal;
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 1;
    if (pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &param) == 0) return ThreadPriority::RealTime;

    // Nice values are per thread on Linux; the thread's id is known once it has reached
    // its start gate (or has run past it).
    int tid = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        gate_.wait(lock, [this] { return tidKnown_; });
        tid = tid_;
    }
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno != 0) return ThreadPriority::Normal;
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice - 1) == 0) return ThreadPriority::Nice;
    return ThreadPriority::Normal;
}

void SuspendedThread::Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    resumed_ = true;
    gate_.notify_all();
}

void SuspendedThread::Join() {
    if (thread_.joinable()) thread_.join();
}

// The futex calls take the atomic's address as the kernel's 32-bit word.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);

namespace {
// Sleeps while `word` is 0, until woken, interrupted or `timeout` (null: none) passes.
void SleepWhileClear(std::atomic<uint32_t>* word, const timespec* timeout) {
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, 0, timeout, nullptr, 0);
}
}  // namespace

void AutoResetEvent::Set() {
    // Only the change from clear to set can find a waiter asleep: a waiter sleeps only
    // while the flag is clear, and the kernel checks that atomically with going to sleep.
    if (set_.exchange(1, std::memory_order_release) == 0) {
        syscall(SYS_futex, &set_, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
}

void AutoResetEvent::Reset() {
    set_.store(0, std::memory_order_relaxed);
}

void AutoResetEvent::Wait() {
    for (;;) {
        uint32_t expected = 1;
        if (set_.compare_exchange_strong(expected, 0, std::memory_order_acquire)) return;
        SleepWhileClear(&set_, nullptr);
    }
}

bool AutoResetEvent::WaitFor(uint32_t milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        // Tried before the deadline is checked: a waiter a Set woke must take the flag,
        // or another waiter would sleep on with the event set.
        uint32_t expected = 1;
        if (set_.compare_exchange_strong(expected, 0, std::memory_order_acquire)) return true;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) return false;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        SleepWhileClear(&set_, &timeout);
    }
}

void Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t QueryPerformanceCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t QueryPerformanceFrequency() {
    return 1000000000;  // the counter counts nanoseconds
}
