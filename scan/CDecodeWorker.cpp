#include "scan/CDecodeWorker.h"

CDecodeWorker::CDecodeWorker(CJpegValidator::Reader reader, uint32_t sectorSize)
    : validator(reader, sectorSize, &cancelled), duplicates(reader, sectorSize),
      thread([this] { work(); }) {}

CDecodeWorker::~CDecodeWorker() {
    cancel();
    thread.join();
}

bool CDecodeWorker::trySubmit(const tagCarvedFile& file) {
    {
        std::lock_guard<std::mutex> guard(lock);
        if (queue.size() >= kQueueLimit)
            return false;
        queue.push_back(file);
    }
    wake.notify_one();
    return true;
}

void CDecodeWorker::waitForChange(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait_for(guard, timeout, [this] {
        return !results.empty() || queue.size() < kQueueLimit || cancelled.load();
    });
}

std::vector<tagCheckedFile> CDecodeWorker::takeResults() {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<tagCheckedFile> taken;
    taken.swap(results);
    resultCount.store(0, std::memory_order_release);
    return taken;
}

bool CDecodeWorker::idle() {
    std::lock_guard<std::mutex> guard(lock);
    return queue.empty() && !busy;
}

void CDecodeWorker::cancel() {
    {
        std::lock_guard<std::mutex> guard(lock);
        cancelled.store(true);
        queue.clear();
    }
    wake.notify_all();
    changed.notify_all();
}

void CDecodeWorker::work() {
    for (;;) {
        tagCheckedFile checked;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return !queue.empty() || cancelled.load(); });
            if (cancelled.load())
                return;
            checked.file = queue.front();
            queue.pop_front();
            busy = true;
        }
        changed.notify_all(); // room in the queue
        checked.verdict = validator.check(checked.file.startSector, checked.file.primaryLength);
        using V = CJpegValidator::Verdict;
        if (checked.verdict == V::Decodes || checked.verdict == V::TooLarge)
            checked.duplicate =
                duplicates.isDuplicate(checked.file.startSector, checked.file.length);
        {
            std::lock_guard<std::mutex> guard(lock);
            busy = false;
            if (checked.verdict != V::Cancelled && !cancelled.load()) {
                results.push_back(checked);
                resultCount.store(results.size(), std::memory_order_release);
            }
        }
        changed.notify_all();
    }
}
