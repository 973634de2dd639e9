#include "platform/CBackgroundJob.h"

#include <utility>

CBackgroundJob::CBackgroundJob() : worker([this] { loop(); }) {}

CBackgroundJob::~CBackgroundJob() {
    {
        std::lock_guard<std::mutex> guard(lock);
        quitting = true;
    }
    changed.notify_all();
    worker.join();
}

void CBackgroundJob::start(std::function<bool()> job) {
    {
        std::lock_guard<std::mutex> guard(lock);
        work = std::move(job);
        pending = true;
        done = false;
    }
    changed.notify_all();
}

bool CBackgroundJob::wait() {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return done || !pending; });
    pending = false;
    done = false;
    return result;
}

void CBackgroundJob::loop() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return quitting || (pending && work); });
        if (quitting)
            return;
        std::function<bool()> job = std::move(work);
        work = nullptr;
        guard.unlock();
        const bool ok = job();
        guard.lock();
        result = ok;
        done = true;
        changed.notify_all();
    }
}
