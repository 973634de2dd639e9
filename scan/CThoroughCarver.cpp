#include "scan/CThoroughCarver.h"

#include "scan/CScanFrontEnd.h"
#include "volume/CVolumeAccess.h"

namespace {

constexpr std::chrono::milliseconds kPollEvery(50);

} // namespace

CThoroughCarver::CThoroughCarver(CVolumeAccess* access, uint32_t sectorSize, bool keepPartial,
                                 std::function<CScanFrontEnd::StopRequest()> stopRequest,
                                 std::function<void()> onPhoto)
    : sectorSize(sectorSize), keepPartials(keepPartial), stopRequest(std::move(stopRequest)),
      onPhoto(std::move(onPhoto)), tracker(sectorSize), freeSpace(access) {
    // Positioned reads: the worker may read while the sweep reads.
    auto reader = [access](uint64_t first, uint64_t last, void* buffer) {
        return access->readSectors(first, last, buffer);
    };
    worker = std::make_unique<CDecodeWorker>(reader, sectorSize, &freeSpace);
}

CThoroughCarver::~CThoroughCarver() = default;

bool CThoroughCarver::abandoned() {
    if (stopRequest() != CScanFrontEnd::StopRequest::Abandon)
        return false;
    worker->cancel();
    return true;
}

void CThoroughCarver::feedSector(uint64_t sector, const unsigned char* bytes) {
    tracker.feedSector(sector, bytes);
    if (!tracker.finished.empty())
        handOn();
    if (worker->hasResults())
        collect();
}

void CThoroughCarver::feedSectors(uint64_t first, uint64_t count, const unsigned char* bytes) {
    tracker.feedSectors(first, count, bytes);
    if (!tracker.finished.empty())
        handOn();
    if (worker->hasResults())
        collect();
}

void CThoroughCarver::breakStream() {
    tracker.dropCandidate();
    handOn();
}

void CThoroughCarver::handOn() {
    for (const tagCarvedFile& file : tracker.finished) {
        // A file that broke off in its image data may have a second piece.
        if (!file.complete && !file.reachedScan) {
            keepPartial(file);
            continue;
        }
        // A full queue holds the sweep back until the worker catches up.
        while (!worker->trySubmit(file)) {
            if (abandoned())
                break;
            worker->waitForChange(kPollEvery);
            collect();
        }
    }
    tracker.finished.clear();
}

void CThoroughCarver::finish() {
    breakStream();
    while (!worker->idle()) {
        if (abandoned())
            return;
        worker->waitForChange(kPollEvery);
        collect();
    }
    collect();
}

void CThoroughCarver::collect() {
    using V = CJpegValidator::Verdict;
    for (const tagCheckedFile& checked : worker->takeResults()) {
        switch (checked.verdict) {
        case V::Decodes:
        case V::TooLarge: // complete in structure; libjpeg could not hold it to decode
            if (checked.duplicate) {
                ++duplicates;
                break;
            }
            photos.push_back(placeOf(checked.file));
            onPhoto();
            break;
        case V::Corrupt:
        case V::Unreadable:
            keepPartial(checked.file);
            break;
        case V::Cancelled:
            break;
        }
    }
}

void CThoroughCarver::keepPartial(const tagCarvedFile& file) {
    if (keepPartials)
        partials.push_back(placeOf(file));
}

std::unique_ptr<CBaseFile> CThoroughCarver::placeOf(const tagCarvedFile& file) const {
    auto place = std::make_unique<CBaseFile>();
    place->startSector = file.startSector;
    place->startByte = file.startByte;
    place->pieces = file.pieces;
    if (!file.pieces.empty()) {
        const tagFilePiece& last = file.pieces.back();
        const uint64_t end = last.skip + last.length - 1;
        place->lastSector = last.sector + end / sectorSize;
        place->endOffset = uint32_t(end % sectorSize);
    }
    return place;
}
