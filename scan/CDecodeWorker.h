#pragma once

#include "scan/CDuplicateFilter.h"
#include "scan/CJpegValidator.h"
#include "scan/CThoroughTracker.h"
#include "scan/CTwoPieceSearch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A carved file after decoding.
struct tagCheckedFile {
    tagCarvedFile file;
    CJpegValidator::Verdict verdict = CJpegValidator::Verdict::Corrupt;
    bool duplicate = false; // decodes, and equals a file checked before
};

// Decodes carved files on a thread of its own, so that the sweep goes on
// meanwhile. The queue is bounded (kQueueLimit files, each known only by
// its place on the volume, read again piece by piece while decoded), and so
// is libjpeg's memory (CJpegValidator::kMemoryLimit). Files are checked and
// handed back in the order they were queued. With a map of the free space,
// a file that breaks off or stops decoding is completed where it can be
// by its second piece (CTwoPieceSearch); files that break off are queued
// for that too.
class CDecodeWorker {
public:
    static constexpr size_t kQueueLimit = 32;

    // reader must be safe to call from the worker thread while the sweep
    // reads the same volume.
    CDecodeWorker(CJpegValidator::Reader reader, uint32_t sectorSize,
                  const CFreeSpaceMap* freeSpace = nullptr);
    // Cancels what is still queued and waits for the thread.
    ~CDecodeWorker();
    CDecodeWorker(const CDecodeWorker&) = delete;
    CDecodeWorker& operator=(const CDecodeWorker&) = delete;

    // Queues a file; false when the queue is full.
    bool trySubmit(const tagCarvedFile& file);
    // Waits until a result is ready, the queue has room, or timeout passed.
    void waitForChange(std::chrono::milliseconds timeout);
    // Results ready since the last call, in queue order.
    std::vector<tagCheckedFile> takeResults();
    // A cheap test whether takeResults has something.
    bool hasResults() const { return resultCount.load(std::memory_order_acquire) > 0; }
    // True when nothing is queued or being decoded.
    bool idle();
    // Stops decoding: the file being decoded and the queued ones are dropped.
    void cancel();

private:
    void work();
    void check(tagCheckedFile& checked);

    CJpegValidator validator;
    std::unique_ptr<CTwoPieceSearch> search;
    CDuplicateFilter duplicates;
    std::atomic<bool> cancelled{false};
    std::mutex lock;
    std::condition_variable wake;    // the worker: a file was queued, or cancel
    std::condition_variable changed; // the sweep: a result is ready, or room
    std::deque<tagCarvedFile> queue;
    std::vector<tagCheckedFile> results;
    std::atomic<size_t> resultCount{0};
    bool busy = false;
    std::thread thread;
};
