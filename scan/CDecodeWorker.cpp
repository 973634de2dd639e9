#include "scan/CDecodeWorker.h"

CDecodeWorker::CDecodeWorker(CJpegValidator::Reader reader, uint32_t sectorSize,
                             const CFreeSpaceMap* freeSpace)
    : validator(reader, sectorSize, &cancelled), duplicates(reader, sectorSize) {
    if (freeSpace)
        search = std::make_unique<CTwoPieceSearch>(reader, sectorSize, *freeSpace, validator,
                                                   &cancelled);
    thread = std::thread([this] { work(); });
}

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
        check(checked);
        using V = CJpegValidator::Verdict;
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

void CDecodeWorker::check(tagCheckedFile& checked) {
    using V = CJpegValidator::Verdict;
    tagCarvedFile& file = checked.file;
    uint64_t stop = file.length; // where a file that broke off stops fitting
    if (file.complete) {
        checked.verdict = validator.check(file.pieces, file.primaryLength);
        stop = validator.stoppedAt();
    } else {
        checked.verdict = V::Corrupt;
    }
    if (checked.verdict == V::Corrupt && !file.listed && search && search->complete(file, stop))
        checked.verdict = V::Decodes;
    if (checked.verdict == V::Decodes || checked.verdict == V::TooLarge)
        checked.duplicate = duplicates.isDuplicate(file.pieces, file.length);
}
