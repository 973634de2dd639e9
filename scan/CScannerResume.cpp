// The scanner's resume file: where the sweep would go on from, kept in the
// output folder so that an interrupted sweep can be taken up there.
#include "scan/CBaseFile.h"
#include "scan/CScanner.h"
#include "volume/CVolumeAccess.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

void CScanner::keepResumeFile(const tagResumeState& base) {
    resumeWanted = true;
    resumeState = base;
    resumeState.pending.clear();
    resumeState.clusterCount = clusterCount;
    resumeState.clusterSize = clusterSize;
    if (const char* every = std::getenv("VALLORA_RESUME_EVERY_MS")) {
        uint32_t value = 0;
        const char* end = every + std::strlen(every);
        const auto parsed = std::from_chars(every, end, value);
        if (parsed.ec == std::errc() && parsed.ptr == end)
            resumeEveryMs = value;
    }
}

void CScanner::resumeFrom(const tagResumeState& state) {
    resumed = true;
    resumeState.nextCluster = state.nextCluster;
    resumeState.nextSector = state.nextSector;
    resumeState.sweepDone = state.sweepDone;
    skipBelowSector = state.sweepDone ? 0 : state.nextSector;
    writtenBefore = state.writtenBefore;
    for (const tagResumeFound& found : state.pending) {
        auto file = std::make_unique<CBaseFile>();
        file->startSector = found.startSector;
        file->lastSector = found.lastSector;
        file->endOffset = found.endOffset;
        tracker->foundFiles.push_back(std::move(file));
    }
    resumeFoundCount = tracker->foundFiles.size();
    fileCount = uint32_t(resumeFoundCount);
}

void CScanner::noteResumePoint(uint64_t runFirst) {
    // The candidate being followed is followed again from its start, which
    // lies in this run or in the runs right before it (a gap drops it);
    // with none, the sweep goes on at the sector held back for the next run.
    uint64_t sector;
    if (const CBaseFile* candidate = tracker->currentCandidate())
        sector = candidate->startSector;
    else if (holding)
        sector = heldSector;
    else
        return; // the point before this run still holds
    const uint64_t base = access->clusterToSector(runFirst);
    const uint64_t perCluster = sectorsPerCluster;
    resumeState.nextCluster = sector >= base
                                  ? runFirst + (sector - base) / perCluster
                                  : runFirst - (base - sector + perCluster - 1) / perCluster;
    resumeState.nextSector = sector;
    // Every image found so far ended before the candidate began.
    resumeFoundCount = tracker->foundFiles.size();
}

bool CScanner::resumeSaveDue(bool now) const {
    return now || tickCount() - lastResumeSave >= resumeEveryMs;
}

tagResumeState CScanner::resumeStateToSave() const {
    tagResumeState state = resumeState;
    state.writtenBefore = writtenBefore;
    return state;
}

void CScanner::saveResumePoint(bool now) {
    if (!resumeSaveDue(now))
        return;
    tagResumeState state = resumeStateToSave();
    for (size_t k = 0; k < resumeFoundCount && k < tracker->foundFiles.size(); ++k) {
        const CBaseFile& file = *tracker->foundFiles[k];
        state.pending.push_back({file.startSector, file.lastSector, file.endOffset});
    }
    writeResumeFile(state);
}

void CScanner::saveWritingState(const std::vector<tagResumeFound>& files,
                                const std::vector<char>& written, bool final) {
    if (!resumeSaveDue(final))
        return;
    tagResumeState state = resumeStateToSave();
    for (size_t k = 0; k < files.size(); ++k) {
        // Images from the point on are found again when the sweep is taken up.
        if (!state.sweepDone && files[k].startSector >= state.nextSector)
            continue;
        if (written[k])
            ++state.writtenBefore;
        else
            state.pending.push_back(files[k]);
    }
    // Finished, or abandoned (given up: nothing is left in the folder).
    if (final && ((state.sweepDone && state.pending.empty()) || writingAbandoned)) {
        removeResumeFile();
        return;
    }
    writeResumeFile(state);
}

void CScanner::removeResumeFile() {
    resumeLeft = false;
    if (!CResumeFile::remove(outputFd) && resumeError.empty())
        resumeError =
            std::string("cannot remove ") + CResumeFile::kFileName + ": " + std::strerror(errno);
}

void CScanner::writeResumeFile(const tagResumeState& state) {
    lastResumeSave = tickCount();
    std::string error;
    if (!CResumeFile::write(outputFd, state, handOver ? ownerUser : uid_t(-1),
                            handOver ? ownerGroup : gid_t(-1), error)) {
        if (resumeError.empty())
            resumeError = std::string("cannot write ") + CResumeFile::kFileName + ": " + error;
        return;
    }
    resumeLeft = true;
}
