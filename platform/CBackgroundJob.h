#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// One job at a time on a thread of its own: the sweep reads its next run
// here while it tests the run it has, so the device is never idle while
// the processor works, nor the processor while the device reads.
class CBackgroundJob {
public:
    CBackgroundJob();
    ~CBackgroundJob();
    CBackgroundJob(const CBackgroundJob&) = delete;
    CBackgroundJob& operator=(const CBackgroundJob&) = delete;

    // Starts job; the previous one must have been waited for.
    void start(std::function<bool()> job);
    // Waits until the job started last has run and returns its result.
    bool wait();
    bool busy() const { return pending; }

private:
    void loop();

    std::mutex lock;
    std::condition_variable changed;
    std::function<bool()> work;
    bool pending = false; // started and not yet waited for
    bool done = false;
    bool result = false;
    bool quitting = false;
    std::thread worker;
};
