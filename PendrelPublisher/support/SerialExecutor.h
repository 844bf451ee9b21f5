#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace pendrel {

// Puts the calling thread below the interface thread's priority (nice +5;
// per thread on Linux): reading, packing and saving a long history must
// not take the core the interface is waiting for. For good: a thread may
// not raise itself again.
void runBelowInterfacePriority();

// One background thread that runs posted jobs one at a time, in the order
// they were posted. The destructor finishes every posted job before it
// returns, so nothing handed over is lost at shutdown.
class SerialExecutor {
public:
    SerialExecutor();
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    void post(std::function<void()> job);
    // Blocks until every job posted so far has finished.
    void waitForIdle();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace pendrel
