#pragma once

#include "platform/CHugePageBuffer.h"
#include "platform/CJobQueue.h"
#include "platform/OwnerIds.h"
#include "scan/CCandidateTracker.h"
#include "scan/CDfxmlReport.h"
#include "scan/CRecoveryLog.h"
#include "scan/CResumeFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CVolumeAccess;
class CRecoveredFile;
class CScanFrontEnd;
class CThoroughCarver;

// A recovered file that could not be written, and why.
struct tagWriteFailure {
    std::string fileName; // "N.jpg"
    std::string reason;
};

// A recovered file whose name was taken by another file in the folder.
struct tagRenamedFile {
    std::string fileName;  // "N.jpg"
    std::string savedName; // "N_1.jpg"
};

// Sweeps the free clusters of one volume, hands every sector to the JPEG
// recogniser, then writes every found image into the output folder.
class CScanner {
public:
    static constexpr uint32_t kBufferSectors = 40000;
    // Bytes the thorough mode reads at once (it follows images from one
    // read to the next, so this only sets the pace).
    static constexpr uint32_t kThoroughReadBytes = 2048 * 1024;
    // A run holds kBufferSectors sectors, or fewer where they would pass
    // this many bytes (large sectors): the sweep reads such a run in more
    // pieces, which follow each other as one stream.
    static constexpr size_t kMaxBufferBytes = size_t(160) << 20;
    // Sectors the sweep reads and the writer writes at once.
    uint32_t runSectors() const { return bufferSectors; }
    static constexpr uint32_t kProgressEvery = 2048; // clusters
    // Failed reads spent on one run while narrowing down its unreadable
    // clusters; a damaged card may take seconds for each.
    static constexpr uint32_t kMaxFailedReadsPerRun = 64;
    // A source whose every read fails over this long a stretch (bytes, or
    // reads) is dead (a dead card, a failing reader): the sweep ends as if
    // it had gone away, instead of retrying for hours.
    static constexpr uint64_t kDeadStretchBytes = uint64_t(64) << 20;
    static constexpr uint32_t kDeadStretchReads = 1000;

    // How run ended.
    enum class Outcome {
        Abandoned, // stop request 2 during the sweep: nothing written, no summary
        Completed, // the sweep reached the end of the volume; files written
        Stopped,   // the sweep was stopped (stop request 1) or the writing abandoned
    };

    explicit CScanner(CVolumeAccess* access);
    ~CScanner();
    CScanner(const CScanner&) = delete;
    CScanner& operator=(const CScanner&) = delete;

    // Sweeps, writes and shows the summary through frontEnd. After a summary
    // it asks the front end to end the program, then returns.
    Outcome run(CScanFrontEnd* frontEnd);

    // After run: files written completely, and the files that could not be.
    uint32_t filesWritten() const { return writtenCount; }
    uint32_t filesFound() const { return foundTotal; }
    const std::vector<tagWriteFailure>& writeFailures() const { return failures; }
    // Files saved under a suffixed name because their own was taken (no
    // file is ever replaced), and files not written again because the
    // folder held the same bytes under their name already; both count as
    // written.
    const std::vector<tagRenamedFile>& renamedFiles() const { return renamed; }
    uint32_t identicalFiles() const { return identicalCount; }
    // True when an abandon request stopped the writing before every found
    // file was written (the file in progress is removed).
    bool abandonedWhileWriting() const { return writingAbandoned; }
    // Sectors of free clusters that could not be read during the sweep.
    uint64_t unreadableSectors() const { return unreadable; }
    uint32_t elapsedSeconds() const { return seconds; }
    // True when the sweep ended early because the source went away, or
    // failed every read over a long stretch (sourceDead).
    bool sourceLost() const { return lostSource; }
    bool sourceDead() const { return deadSource; }
    // The unreadable sector ranges, first and last inclusive, in order.
    const std::vector<std::pair<uint64_t, uint64_t>>& unreadableRanges() const {
        return unreadableSpans;
    }
    // After the sweep: true when it reached the end of the volume; how many
    // sectors it passed of how many.
    bool sweptWhole() const;
    uint64_t sweptSectors() const;
    uint64_t totalSectors() const;
    // The summary's second line after a sweep that ended early:
    // "扫描未完成:已扫描N个扇区,共M个扇区(P%)".
    std::string partialSweepText() const;

    CCandidateTracker& candidateTracker() { return *tracker; }

    // Chooses the thorough carving mode for the next sweep: wide starts,
    // the structure walked to the exact end, and only images that decode
    // are photos. keepPartial writes the files that are cut short or do
    // not decode into the output folder's kPartialFolder.
    void setThorough(bool keepPartial);
    static constexpr const char* kPartialFolder = "partial";
    // After a thorough run: photos not written because an equal one was,
    // and partial files written.
    uint32_t duplicatesSkipped() const { return duplicateCount; }
    uint32_t partialFilesWritten() const { return partialsWritten; }
    // Recovered files are handed to this user and group (a program started
    // through sudo or pkexec writes them for the person who started it).
    void setOutputOwner(uid_t user, gid_t group) {
        ownerUser = user;
        ownerGroup = group;
        handOver = true;
    }
    // When the program runs as root for someone else (CInvokingUser: sudo,
    // pkexec), each recovered file is handed to that person as it is
    // written. False (nothing changed) otherwise.
    bool handFilesToInvokingUser();

    // The output folder, opened and checked by the caller (COutputFolder):
    // every file is written through this descriptor, which stays the
    // caller's and must stay open until run returns. Without one the
    // writer opens the front end's folder path itself.
    void setOutputDescriptor(int folderFd) { outputFd = folderFd; }

    // After the files, run writes report.xml (CDfxmlReport) about this
    // source into the output folder, also when the sweep was stopped. Off
    // unless asked for.
    void setReport(const tagReportSource& source) {
        reportSource = source;
        reportWanted = true;
        log.setHashing(true);
    }
    // Written photos get their Exif date as modification time (on unless
    // turned off here).
    void setPhotoDates(bool on) { log.setPhotoDates(on); }
    // What was swept and written.
    const CRecoveryLog& recoveryLog() const { return log; }
    // Why report.xml could not be written; "" when it was (or was not asked for).
    const std::string& reportFailure() const { return reportError; }
    // The name the report was written under ("report.xml", or "report_1.xml"
    // when an earlier report holds that name); "" when none was written.
    const std::string& reportName() const { return reportFile; }

    // Keeps a resume file (CResumeFile) in the output folder given to
    // setOutputDescriptor while the sweep runs: every kResumeEveryMs (or
    // VALLORA_RESUME_EVERY_MS milliseconds, for tests), when the sweep
    // stops, and while the found images are written. It is removed once the
    // sweep reached the end and every image was written. base names the
    // source and the options. The thorough mode keeps none.
    static constexpr uint32_t kResumeEveryMs = 5000;
    void keepResumeFile(const tagResumeState& base);
    // Takes the sweep up where an interrupted one stopped: from its
    // position, with the images it found and did not write. The state must
    // fit this volume (CResumeFile::fitsVolume).
    void resumeFrom(const tagResumeState& state);
    // Images the interrupted sweep wrote before this run took it up; the
    // summary counts them with this run's.
    uint32_t filesWrittenBefore() const { return writtenBefore; }
    // Why the resume file could not be written ("" when it could).
    const std::string& resumeFailure() const { return resumeError; }
    // True when the run ended with a resume file in the output folder (the
    // sweep was interrupted, or some image could not be written).
    bool resumeFileLeft() const { return resumeLeft; }

    // The sweep alone (run steps 2 to 5), for tests and tools.
    void sweep(CScanFrontEnd* frontEnd);
    // The recovery writer: writes every found file and empties the list.
    void recoverAll();
    // Writes one found file as "<startSector + 1982>.jpg" (CBaseFile::fileName);
    // false when it could not be written completely (the failure is recorded).
    bool writeFoundFile(CBaseFile* file, int folderFd);

private:
    // Writes a file kept as pieces; false with the reason when it fails.
    bool writePieces(CBaseFile* file, CRecoveredFile& out, std::string& error);
    uint64_t findFreeRun(uint64_t first);
    // A run found and handed to the reader thread.
    struct tagRun {
        uint64_t first = 0;
        uint64_t last = 0;
        unsigned char* into = nullptr; // one of buffers
    };
    void testRun(uint64_t first, uint64_t last, bool readOk);
    uint64_t skipUsedClusters(uint64_t last);
    void reportProgress(uint64_t cluster);
    // Shows the progress at each multiple of kProgressEvery from from to to.
    void reportProgressOver(uint64_t from, uint64_t to);
    // Re-reads the clusters a..b of the run that starts at runFirst, which
    // failed as a whole, in halves, so the readable ones are still swept.
    void salvage(uint64_t runFirst, uint64_t a, uint64_t b);
    void markUnreadable(uint64_t a, uint64_t b);
    // Counts one read of the sweep; a long enough stretch of failures ends
    // the sweep as a lost source.
    void noteRead(bool ok);

    // The sector stream fed to the tracker. The last sector of every run is
    // held back until the next run shows whether it continues directly, so
    // that a header crossing the cut is read with the following sector's
    // bytes behind it.
    void feedSectors(uint64_t firstSector, uint32_t count, unsigned char* data);
    void flushHeldSector();
    void breakStream();
    void testSector(uint64_t sector, const unsigned char* bytes);
    void countFoundFile();
    // Thorough mode: waits for the decoding and takes over its photos.
    void finishThoroughSweep();
    // Thorough mode: writes the partial files into kPartialFolder.
    void writePartialFiles();
    std::string thoroughSummary() const;
    void showText(int controlId, const std::string& text);
    // Writes report.xml after every file (run step 6, when asked for).
    void writeReport();
    // The resume file: the point the sweep would go on from after the run
    // that starts at runFirst, and writing it (when due, or at once).
    void noteResumePoint(uint64_t runFirst);
    void saveResumePoint(bool now);
    // While writing: files[k] was written when written[k] is set.
    void saveWritingState(const std::vector<tagResumeFound>& files,
                          const std::vector<char>& written, bool final);
    // The state to record, and whether writing it is due (every
    // resumeEveryMs, or at once when now is set).
    bool resumeSaveDue(bool now) const;
    tagResumeState resumeStateToSave() const;
    void writeResumeFile(const tagResumeState& state);
    void removeResumeFile();
    // Milliseconds of a steady clock.
    static uint32_t tickCount();

    CVolumeAccess* access;
    CScanFrontEnd* scanDialog = nullptr;
    uint64_t clusterCount;
    uint32_t clusterSize;
    uint32_t sectorSize;
    uint32_t fileCount = 0;
    uint32_t sectorsPerCluster;
    uint32_t bufferSectors;
    // Two buffers, each one sector slot, then bufferSectors sectors, then
    // four spare bytes: the run being tested is in buffer (one of buffers)
    // while the next one is read into the other.
    CHugePageBuffer storage;
    CHugePageBuffer spareStorage;
    unsigned char* buffers[2];
    unsigned char* buffer;
    CJobQueue reader;
    uint32_t clustersPerRun;
    uint64_t previousRunLast = 1;
    std::unique_ptr<CCandidateTracker> tracker;

    // The held-back sector, followed by a zeroed sector for the walk to
    // read when nothing continues it.
    std::vector<unsigned char> held;
    bool holding = false;
    uint64_t heldSector = 0;

    uint32_t writtenCount = 0;
    uint32_t foundTotal = 0;
    uint64_t sweptTo = 0; // the first cluster the sweep did not pass
    uint32_t seconds = 0;
    uint64_t unreadable = 0;
    uint32_t failedReads = 0; // in the current run
    bool lostSource = false;
    bool deadSource = false;
    uint64_t failedStretchBytes = 0;
    uint32_t failedStretchReads = 0;
    std::vector<std::pair<uint64_t, uint64_t>> unreadableSpans;
    bool handOver = false;
    int outputFd = -1;
    uid_t ownerUser = 0;
    gid_t ownerGroup = 0;
    std::vector<tagWriteFailure> failures;
    std::vector<tagRenamedFile> renamed;
    uint32_t identicalCount = 0;
    bool writingAbandoned = false;

    bool thoroughMode = false;
    bool keepPartial = false;
#if VALLORA_WITH_THOROUGH
    std::unique_ptr<CThoroughCarver> carver;
    bool carving() const {
        return carver != nullptr;
    }
#else
    bool carving() const {
        return false;
    } // a build without the thorough mode
#endif
    std::vector<std::unique_ptr<CBaseFile>> partialFiles;
    uint32_t duplicateCount = 0;
    uint32_t partialsWritten = 0;
    CRecoveryLog log;
    bool reportWanted = false;
    tagReportSource reportSource;
    std::string reportError;
    std::string reportFile;

    bool resumeWanted = false;
    bool resumeKept = false;     // wanted, and a sweep that can be taken up
    tagResumeState resumeState;  // the point, without the pending images
    size_t resumeFoundCount = 0; // found images before the point
    uint32_t resumeEveryMs = kResumeEveryMs;
    uint32_t lastResumeSave = 0;
    std::string resumeError;
    bool resumeLeft = false;
    bool resumed = false;
    uint64_t skipBelowSector = 0; // a resumed sweep tests from this sector on
    uint32_t writtenBefore = 0;
};
