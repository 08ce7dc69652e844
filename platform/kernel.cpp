#include "platform/kernel.h"

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

void AutoResetEvent::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    signal_.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

void AutoResetEvent::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    signal_.wait(lock, [this] { return set_; });
    set_ = false;
}

bool AutoResetEvent::WaitFor(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!signal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return set_; })) return false;
    set_ = false;
    return true;
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
