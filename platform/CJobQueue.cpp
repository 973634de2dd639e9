#include "platform/CJobQueue.h"

#include <utility>

CJobQueue::CJobQueue(size_t bufferCount) : bufferCount(bufferCount), worker([this] { loop(); }) {}

CJobQueue::~CJobQueue() {
    {
        std::lock_guard<std::mutex> guard(lock);
        quitting = true;
        queued.clear();
    }
    changed.notify_all();
    worker.join();
}

void CJobQueue::push(std::function<bool()> job) {
    {
        std::lock_guard<std::mutex> guard(lock);
        queued.push_back(std::move(job));
    }
    changed.notify_all();
}

bool CJobQueue::take() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return !results.empty(); });
    const bool result = results.front();
    results.pop_front();
    return result;
}

void CJobQueue::release() {
    {
        std::lock_guard<std::mutex> guard(lock);
        if (holding && released == failedJob)
            holding = false;
        ++released;
    }
    changed.notify_all();
}

void CJobQueue::cancel() {
    std::unique_lock<std::mutex> guard(lock);
    queued.clear();
    changed.wait(guard, [this] { return !running; });
    results.clear();
    started = released = failedJob = 0;
    holding = false;
}

bool CJobQueue::mayStart() const {
    return !queued.empty() && !holding && started < released + bufferCount;
}

void CJobQueue::loop() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return quitting || mayStart(); });
        if (quitting)
            return;
        std::function<bool()> job = std::move(queued.front());
        queued.pop_front();
        const uint64_t number = started++;
        running = true;
        guard.unlock();
        const bool ok = job();
        guard.lock();
        running = false;
        results.push_back(ok);
        if (!ok) {
            holding = true;
            failedJob = number;
        }
        changed.notify_all();
    }
}
