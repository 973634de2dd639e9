#include "scan/CCandidateTracker.h"

#include "scan/CJPGFile.h"

CCandidateTracker::CCandidateTracker(uint32_t sectorSize) : sectorSize(sectorSize) {}

bool CCandidateTracker::feedSector(uint64_t sector, const unsigned char* bytes) {
    // A new start signature replaces the candidate, even one this very
    // sector would have completed.
    if (CJPGFile* fresh = CJPGFile::tryCreate(bytes, sector))
        candidate.reset(fresh);
    if (!candidate)
        return false;
    switch (candidate->testSector(sector, bytes, sectorSize)) {
    case CBaseFile::Verdict::Complete:
        foundFiles.push_back(std::move(candidate));
        return true;
    case CBaseFile::Verdict::GiveUp:
        candidate.reset();
        return false;
    default:
        return false;
    }
}

void CCandidateTracker::dropCandidate() {
    candidate.reset();
}
