#include "scan/CThoroughCarver.h"

#include "scan/CScanFrontEnd.h"
#include "volume/CVolumeAccess.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr std::chrono::milliseconds kPollEvery(50);

} // namespace

CThoroughCarver::CThoroughCarver(CVolumeAccess* access, uint32_t sectorSize, bool keepPartial,
                                 std::function<CScanFrontEnd::StopRequest()> stopRequest,
                                 std::function<void()> onPhoto)
    : access(access), sectorSize(sectorSize), keepPartials(keepPartial),
      stopRequest(std::move(stopRequest)), onPhoto(std::move(onPhoto)), tracker(sectorSize),
      freeSpace(access) {
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
        submit(file);
    }
    tracker.finished.clear();
}

void CThoroughCarver::submit(const tagCarvedFile& file) {
    // A full queue holds the sweep back until the worker catches up.
    while (!worker->trySubmit(file)) {
        if (abandoned())
            break;
        worker->waitForChange(kPollEvery);
        collect();
    }
}

void CThoroughCarver::offerListedFiles() {
    const uint64_t clusterBytes = access->getClusterSize();
    // A sweep that was stopped writes what it found: the records are not read.
    access->forEachListedDeletedFile([&](const tagListedFile& listed) {
        if (stopRequest() != CScanFrontEnd::StopRequest::Running)
            return false;
        if (listed.runs.empty() || !beginsLikeJpeg(access->clusterToSector(listed.runs[0].first)))
            return true;
        tagCarvedFile file;
        file.startSector = access->clusterToSector(listed.runs[0].first);
        file.length = file.primaryLength = listed.length;
        file.complete = file.reachedScan = file.listed = true;
        uint64_t left = listed.length;
        for (const auto& [first, clusters] : listed.runs) {
            if (left == 0)
                break;
            const uint64_t take = std::min(left, clusters * clusterBytes);
            CPieceReader::append(file.pieces, access->clusterToSector(first), 0, take, sectorSize);
            left -= take;
        }
        submit(file);
        return true;
    });
}

bool CThoroughCarver::beginsLikeJpeg(uint64_t sector) {
    std::vector<unsigned char> bytes(sectorSize);
    static constexpr unsigned char kStart[] = {0xFF, 0xD8, 0xFF};
    return sectorSize >= sizeof kStart && access->readSectors(sector, sector, bytes.data()) &&
           std::equal(std::begin(kStart), std::end(kStart), bytes.begin());
}

void CThoroughCarver::takeListedPhoto(const tagCarvedFile& file) {
    auto sameStart = [&](const std::unique_ptr<CBaseFile>& carved) {
        return carved->startSector == file.startSector && carved->startByte == 0;
    };
    const bool replaces = std::erase_if(photos, sameStart) > 0;
    std::erase_if(partials, sameStart);
    photos.push_back(placeOf(file));
    if (!replaces) // the found count already holds the carved one
        onPhoto();
}

void CThoroughCarver::finish() {
    breakStream();
    offerListedFiles();
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
            if (checked.file.listed) {
                // Only a decoded image is trusted; the same bytes kept
                // before (the carve of this photo) stay as they are.
                if (checked.verdict == V::Decodes && !checked.duplicate)
                    takeListedPhoto(checked.file);
                break;
            }
            if (checked.duplicate) {
                ++duplicates;
                break;
            }
            photos.push_back(placeOf(checked.file));
            onPhoto();
            break;
        case V::Corrupt:
        case V::Unreadable:
            if (!checked.file.listed) // the carve stays
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
