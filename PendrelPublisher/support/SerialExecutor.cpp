#include "support/SerialExecutor.h"

#include <sys/resource.h>
#include <unistd.h>

namespace pendrel {

void runBelowInterfacePriority()
{
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), 5);
}

// The store's thread: background work.
SerialExecutor::SerialExecutor()
    : thread_([this] {
          runBelowInterfacePriority();
          run();
      })
{
}

SerialExecutor::~SerialExecutor()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SerialExecutor::post(std::function<void()> job)
{
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void SerialExecutor::waitForIdle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void SerialExecutor::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) // stopping, and everything posted has run
            break;
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        job();
        lock.lock();
        busy_ = false;
        if (jobs_.empty())
            idle_.notify_all();
    }
    idle_.notify_all();
}

} // namespace pendrel
