#pragma once

#include "scan/CBaseFile.h"

#include <cstdint>
#include <memory>
#include <vector>

// Follows one candidate at a time through consecutive sectors and keeps
// the files found, in the order they were completed.
class CCandidateTracker {
public:
    explicit CCandidateTracker(uint32_t sectorSize);

    // Offers the next sector. bytes is followed in memory by at least four
    // readable bytes: the following sector's when it belongs to the same
    // stretch. True when this sector completed a file, which is then the
    // last entry of foundFiles.
    bool feedSector(uint64_t sector, const unsigned char* bytes);
    // Forgets the candidate: the next sector does not continue it.
    void dropCandidate();
    const CBaseFile* currentCandidate() const { return candidate.get(); }

    std::vector<std::unique_ptr<CBaseFile>> foundFiles;

private:
    uint32_t sectorSize;
    std::unique_ptr<CBaseFile> candidate;
};
