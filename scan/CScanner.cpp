#include "scan/CScanner.h"

#include "platform/CFolderDescriptor.h"
#include "scan/CScanFrontEnd.h"
#include "scan/CThoroughCarver.h"
#include "volume/CVolumeAccess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>

namespace {

template <typename... Args> std::string format(const char* pattern, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

} // namespace

namespace {

uint32_t sectorsHeld(uint32_t sectorSize) {
    if (sectorSize == 0)
        return CScanner::kBufferSectors;
    return uint32_t(
        std::min<size_t>(CScanner::kBufferSectors, CScanner::kMaxBufferBytes / sectorSize));
}

} // namespace

uint32_t CScanner::tickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

CScanner::CScanner(CVolumeAccess* access)
    : access(access), clusterCount(access->getClusterCount()),
      clusterSize(access->getClusterSize()), sectorSize(access->getSectorSize()),
      bufferSectors(sectorsHeld(sectorSize)), storage(size_t(sectorSize) * (bufferSectors + 1) + 4),
      spareStorage(size_t(sectorSize) * (bufferSectors + 1) + 4), reader(2) {
    sectorsPerCluster = sectorSize ? clusterSize / sectorSize : 0;
    clustersPerRun = sectorsPerCluster ? bufferSectors / sectorsPerCluster : 0;
    if (clustersPerRun == 0)
        clusterCount = 0; // a geometry the sweep cannot hold: nothing to sweep
    tracker = std::make_unique<CCandidateTracker>(sectorSize);
    buffers[0] = storage.data() + sectorSize;
    buffers[1] = spareStorage.data() + sectorSize;
    buffer = buffers[0];
    held.assign(size_t(sectorSize) * 2 + 4, 0);
}

CScanner::~CScanner() = default;

void CScanner::setThorough(bool keep) {
    thoroughMode = true;
    keepPartial = keep;
    // The thorough mode looks at every byte: it reads smaller runs, which
    // are still in the processor's cache when they are searched.
    if (clustersPerRun > 0)
        clustersPerRun = std::max<uint32_t>(
            1, std::min<uint32_t>(clustersPerRun, kThoroughReadBytes / clusterSize));
}

void CScanner::showText(int controlId, const std::string& text) {
    scanDialog->showLabelText(controlId, text);
}

CScanner::Outcome CScanner::run(CScanFrontEnd* frontEnd) {
    const uint32_t start = tickCount();
    sweep(frontEnd);
    if (scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Abandon)
        return Outcome::Abandoned;

    recoverAll();
#if VALLORA_WITH_THOROUGH
    if (thoroughMode)
        writePartialFiles();
#endif
#if VALLORA_WITH_REPORT
    if (reportWanted)
        writeReport();
#endif
    seconds = (tickCount() - start) / 1000;
    std::printf("The run time is:%us!\n", seconds);
    std::fflush(stdout);

    // A sweep taken up again counts what was written before it stopped.
    std::string summary =
        format("用时%d秒,成功恢复%u个文件", int(seconds), fileCount + writtenBefore);
    // No file is replaced: the summary says when names were taken.
    if (!renamed.empty())
        summary += format(",其中%u个因同名文件已存在而另存新名", unsigned(renamed.size()));
    if (identicalCount > 0)
        summary += format(",%u个已存在相同文件,未重复写入", identicalCount);
#if VALLORA_WITH_THOROUGH
    if (thoroughMode)
        summary += thoroughSummary();
#endif
    // Only a sweep that reached the end of the volume is complete.
    const bool untouched =
        scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Running && !lostSource;
    if (!sweptWhole())
        summary += "\n" + partialSweepText();
    scanDialog->showSummary(summary, untouched ? "扫描完成" : "扫描终止");
    fileCount = 0;
    scanDialog->showMainDialog();
    scanDialog->openOutputFolder();
    scanDialog->closeScanDialog();
    scanDialog->endProgram();
    return untouched ? Outcome::Completed : Outcome::Stopped;
}

void CScanner::sweep(CScanFrontEnd* frontEnd) {
    scanDialog = frontEnd;
    log.noteStart(std::time(nullptr));
    showText(
        CScanFrontEnd::kTotalLabel,
        format("总扇区:%llu", static_cast<unsigned long long>(sectorsPerCluster * clusterCount)));
    scanDialog->setProgressRange(clusterCount);
#if VALLORA_WITH_THOROUGH
    if (thoroughMode)
        carver = std::make_unique<CThoroughCarver>(
            access, sectorSize, keepPartial, [this] { return scanDialog->stopRequest(); },
            [this] { countFoundFile(); });
#endif

    resumeKept = resumeWanted && !carving() && outputFd >= 0;
    if (resumeKept)
        CResumeFile::removeStaleTemporaries(outputFd);
    if (fileCount > 0) { // found by the interrupted sweep, not written
        showText(CScanFrontEnd::kFoundLabel, format("找到%u个文件", fileCount + writtenBefore));
        scanDialog->publishFoundCount(fileCount);
    }

    // Cluster 0 is never swept.
    uint64_t i = 1;
    if (resumed)
        i = resumeState.sweepDone ? clusterCount : resumeState.nextCluster;
    if (i < clusterCount)
        i = access->firstFreeCluster(i, clusterCount);
    const uint64_t firstSwept = i;
    uint64_t lastSwept = 0;
    if (!resumed && i < clusterCount) {
        resumeState.nextCluster = i;
        resumeState.nextSector = access->clusterToSector(i);
    }
    lastResumeSave = tickCount();
    // Runs are looked for two ahead and read on the reader thread, into the
    // two buffers in turn, while the run before is tested. A stop that comes
    // while runs are looked for lets the runs found be swept; one that comes
    // while a run is tested ends the sweep after it.
    std::deque<tagRun> pending;
    uint64_t runsFound = 0;
    bool stopWhileFinding = false;
    auto stopRequested = [&] {
        return scanDialog->stopRequest() != CScanFrontEnd::StopRequest::Running;
    };
    auto findRun = [&] {
        if (stopWhileFinding || lostSource || i >= clusterCount || stopRequested())
            return;
        tagRun run;
        run.first = i;
        run.last = findFreeRun(i);
        run.into = buffers[runsFound++ % 2];
        i = skipUsedClusters(run.last);
        stopWhileFinding = stopRequested();
        pending.push_back(run);
        reader.push([this, run] { return access->readClusters(run.first, run.last, run.into); });
    };
    findRun();
    findRun();
    while (!pending.empty()) {
        const tagRun run = pending.front();
        const bool ok = reader.take();
        if (!stopWhileFinding && stopRequested())
            break;
        pending.pop_front();
        // A run that failed is read again piece by piece while it is tested:
        // the reads after it wait until that is done, and so does looking for
        // the next run.
        if (ok)
            findRun();
        buffer = run.into;
        testRun(run.first, run.last, ok);
        lastSwept = run.last;
        if (resumeKept && !lostSource) {
            noteResumePoint(run.first);
            saveResumePoint(false);
        }
        // A source lost while the failed run was read again, or a stop that
        // came while this run was tested: nothing more is read (the reads
        // queued are dropped).
        if (lostSource || (!stopWhileFinding && stopRequested()))
            break;
        reader.release();
        if (!ok)
            findRun();
    }
    reader.cancel();
    if (!pending.empty())
        i = pending.front().first;
    // Nothing follows the last sector swept.
    flushHeldSector();
#if VALLORA_WITH_THOROUGH
    if (carver)
        finishThoroughSweep();
#endif
    foundTotal = fileCount;
    if (lastSwept >= firstSwept) {
        const uint64_t from = access->sectorToByteOffset(access->clusterToSector(firstSwept));
        const uint64_t to =
            access->sectorToByteOffset(access->clusterToSector(lastSwept)) + clusterSize;
        log.noteSwept(from, to - from);
    }
    sweptTo = i < clusterCount ? i : clusterCount;
    if (resumeKept) {
        if (sweptWhole()) {
            resumeState.sweepDone = true;
            resumeFoundCount = tracker->foundFiles.size();
        }
        // An abandoned scan is given up: it leaves nothing in the folder.
        if (scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Abandon)
            removeResumeFile();
        else
            saveResumePoint(true);
    }
    // A sweep that ended early shows where it ended, on the bar and the labels.
    if (!sweptWhole() && scanDialog->stopRequest() != CScanFrontEnd::StopRequest::Abandon)
        reportProgress(sweptTo);
}

bool CScanner::sweptWhole() const {
    return sweptTo >= clusterCount && !lostSource;
}

uint64_t CScanner::sweptSectors() const {
    return sweptTo * sectorsPerCluster;
}

uint64_t CScanner::totalSectors() const {
    return clusterCount * sectorsPerCluster;
}

std::string CScanner::partialSweepText() const {
    const double share = clusterCount ? double(sweptTo) * 100 / double(clusterCount) : 0;
    return format("扫描未完成:已扫描%llu个扇区,共%llu个扇区(%.2f%%)",
                  static_cast<unsigned long long>(sweptSectors()),
                  static_cast<unsigned long long>(totalSectors()), share);
}

uint64_t CScanner::findFreeRun(uint64_t first) {
    // The run ends before the first used cluster, at the end of the volume,
    // or after clustersPerRun clusters; the progress is shown at every
    // kProgressEvery-th cluster on the way, the one that ends it included
    // unless the run was full.
    const uint64_t full = first + clustersPerRun;
    const uint64_t end = access->firstUsedCluster(first, std::min(full, clusterCount));
    reportProgressOver(first, end == full ? end - 1 : end);
    return end - 1;
}

uint64_t CScanner::skipUsedClusters(uint64_t last) {
    const uint64_t u = last + 1;
    if (u >= clusterCount)
        return u;
    const uint64_t free = access->firstFreeCluster(u, clusterCount);
    if (free > u)
        reportProgressOver(u, free - 1);
    return free;
}

void CScanner::reportProgressOver(uint64_t from, uint64_t to) {
    for (uint64_t u = (from + kProgressEvery - 1) / kProgressEvery * kProgressEvery; u <= to;
         u += kProgressEvery)
        reportProgress(u);
}

void CScanner::reportProgress(uint64_t cluster) {
    scanDialog->setProgressPos(cluster);
    showText(
        CScanFrontEnd::kSweptLabel,
        format("已扫描:%llu个扇区", static_cast<unsigned long long>(sectorsPerCluster * cluster)));
    const float share = static_cast<float>(double(cluster) * 100 / double(clusterCount));
    showText(CScanFrontEnd::kPercentLabel, format("%.2f%%", double(share)));
}

void CScanner::testRun(uint64_t first, uint64_t last, bool ok) {
    const uint32_t sectors = uint32_t(last - first + 1) * sectorsPerCluster;
    noteRead(ok);
    const bool continues = first - previousRunLast == 1;
    previousRunLast = last;
    // An image is only followed through consecutive sectors; the thorough
    // mode follows it on through the free clusters over used ones.
    if (!continues && !carving())
        breakStream();
    if (ok) {
        feedSectors(access->clusterToSector(first), sectors, buffer);
        return;
    }
    // What the buffer holds is not this run: none of it is tested. The
    // readable parts of the run are read again, piece by piece.
    failedReads = 1;
    lostSource = lostSource || access->isSourceLost();
    salvage(first, first, last);
}

void CScanner::salvage(uint64_t runFirst, uint64_t a, uint64_t b) {
    if (a == b || lostSource || failedReads >= kMaxFailedReadsPerRun) {
        markUnreadable(a, b);
        return;
    }
    const uint64_t middle = a + (b - a) / 2;
    const uint64_t halves[2][2] = {{a, middle}, {middle + 1, b}};
    for (const auto& half : halves) {
        if (lostSource || failedReads >= kMaxFailedReadsPerRun) {
            markUnreadable(half[0], half[1]);
            continue;
        }
        unsigned char* at = buffer + size_t(half[0] - runFirst) * clusterSize;
        const bool ok = access->readClusters(half[0], half[1], at);
        noteRead(ok);
        if (ok) {
            feedSectors(access->clusterToSector(half[0]),
                        uint32_t(half[1] - half[0] + 1) * sectorsPerCluster, at);
        } else {
            ++failedReads;
            lostSource = lostSource || access->isSourceLost();
            salvage(runFirst, half[0], half[1]);
        }
    }
}

void CScanner::markUnreadable(uint64_t a, uint64_t b) {
    const uint64_t sectors = (b - a + 1) * sectorsPerCluster;
    unreadable += sectors;
    log.noteUnreadable(access->sectorToByteOffset(access->clusterToSector(a)),
                       (b - a + 1) * clusterSize);
    const uint64_t first = access->clusterToSector(a);
    const uint64_t last = access->clusterToSector(b) + sectorsPerCluster - 1;
    if (!unreadableSpans.empty() && unreadableSpans.back().second + 1 == first)
        unreadableSpans.back().second = last;
    else
        unreadableSpans.push_back({first, last});
    failedStretchBytes += sectors * sectorSize;
    if (failedStretchBytes >= kDeadStretchBytes) {
        deadSource = true;
        lostSource = true;
    }
    breakStream();
}

void CScanner::noteRead(bool ok) {
    if (ok) {
        failedStretchBytes = 0;
        failedStretchReads = 0;
        return;
    }
    if (++failedStretchReads >= kDeadStretchReads) {
        deadSource = true;
        lostSource = true;
    }
}

void CScanner::feedSectors(uint64_t firstSector, uint32_t count, unsigned char* data) {
    if (firstSector < skipBelowSector) {
        // A resumed sweep: the sectors before its point were tested before.
        const uint32_t skipped = uint32_t(std::min<uint64_t>(count, skipBelowSector - firstSector));
        firstSector += skipped;
        count -= skipped;
        data += size_t(skipped) * sectorSize;
    }
    if (count == 0)
        return;
    unsigned char* bytes = data;
    if (holding) {
        // The thorough mode follows the stream of free clusters whether
        // or not they lie next to each other.
        if (heldSector + 1 == firstSector || carving()) {
            // The run continues the held sector: put it back in front, so
            // that its header walk reads this run's first bytes behind it.
            bytes = data - sectorSize;
            std::memcpy(bytes, held.data(), sectorSize);
            testSector(heldSector, bytes);
            bytes = data;
            holding = false;
        } else {
            flushHeldSector();
        }
    }
    // The buffer is far larger than the caches, and only each sector's first
    // bytes are usually looked at: fetch them ahead of the test.
    constexpr uint32_t kAhead = 16;
#if VALLORA_WITH_THOROUGH
    if (carver && count > 1)
        carver->feedSectors(firstSector, count - 1, bytes); // counts its photos as proven
#endif
    for (uint32_t k = 0; !carving() && k + 1 < count; ++k) {
        if (k + kAhead < count)
            __builtin_prefetch(bytes + size_t(k + kAhead) * sectorSize);
        testSector(firstSector + k, bytes + size_t(k) * sectorSize);
    }
    std::memcpy(held.data(), bytes + size_t(count - 1) * sectorSize, sectorSize);
    heldSector = firstSector + count - 1;
    holding = true;
}

void CScanner::flushHeldSector() {
    if (!holding)
        return;
    holding = false;
    // Zeros follow the held copy: nothing continues it.
    std::memset(held.data() + sectorSize, 0, held.size() - sectorSize);
    testSector(heldSector, held.data());
}

void CScanner::breakStream() {
    flushHeldSector();
#if VALLORA_WITH_THOROUGH
    if (carver) {
        carver->breakStream();
        return;
    }
#endif
    tracker->dropCandidate();
}

void CScanner::testSector(uint64_t sector, const unsigned char* bytes) {
#if VALLORA_WITH_THOROUGH
    if (carver) {
        carver->feedSector(sector, bytes); // counts its photos as they are proven
        return;
    }
#endif
    if (tracker->feedSector(sector, bytes))
        countFoundFile();
}

void CScanner::countFoundFile() {
    ++fileCount;
    showText(CScanFrontEnd::kFoundLabel, format("找到%u个文件", fileCount + writtenBefore));
    scanDialog->publishFoundCount(fileCount);
}

#if VALLORA_WITH_REPORT
void CScanner::writeReport() {
    reportFile.clear();
    // The output folder as the front end opened it, else by its name.
    const std::string folder = scanDialog->outputFolder();
    std::string openError;
    const int folderFd = outputFd >= 0 ? outputFd : CFolderDescriptor::open(folder, openError);
    if (folderFd < 0) {
        reportError = folder + ": " + openError;
        return;
    }
    tagReportScan scan;
    scan.clusterSize = clusterSize;
    scan.clusterCount = clusterCount;
    scan.outcome = lostSource ? "source lost"
                   : scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Running ? "completed"
                                                                                      : "stopped";
    bool written = false;
    try {
        const std::string text = CDfxmlReport::document(reportSource, scan, log);
        written = CDfxmlReport::write(folderFd, text, handOver ? ownerUser : uid_t(-1),
                                      handOver ? ownerGroup : gid_t(-1), reportFile, reportError);
    } catch (const std::exception& failure) {
        reportError = failure.what();
    }
    if (written)
        reportError.clear();
    if (folderFd != outputFd)
        CFolderDescriptor::close(folderFd);
}
#endif
