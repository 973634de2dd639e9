#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Jobs run one after another, in the order they were queued, on a thread of
// their own: the sweep reads its next runs here while it tests the one it
// has, and the thread goes from one read to the next without waiting for
// the sweep to wake up. The jobs fill `bufferCount` buffers in turn, so a job
// starts only once the caller has released the job `bufferCount` places before
// it. A job that fails holds the later ones back until the caller releases
// it: the caller reads the failed stretch again before anything else is read.
class CJobQueue {
public:
    explicit CJobQueue(size_t bufferCount);
    ~CJobQueue();
    CJobQueue(const CJobQueue&) = delete;
    CJobQueue& operator=(const CJobQueue&) = delete;

    void push(std::function<bool()> job);
    // Waits for the oldest job not yet taken (one must have been pushed) and
    // returns its result.
    bool take();
    // The caller is done with the job it took last.
    void release();
    // Drops the jobs not started, waits for the one running and starts
    // afresh.
    void cancel();

private:
    void loop();
    bool mayStart() const;

    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<bool()>> queued; // not started
    std::deque<bool> results;                 // finished, not taken
    const size_t bufferCount;
    uint64_t started = 0;
    uint64_t released = 0;
    uint64_t failedJob = 0; // the job that holds the later ones back
    bool holding = false;
    bool running = false;
    bool quitting = false;
    std::thread worker;
};
