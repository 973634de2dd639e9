#include "scan/CThoroughTracker.h"

#include "scan/CJpegStartCheck.h"

#include <algorithm>

CThoroughTracker::CThoroughTracker(uint32_t sectorSize) : sectorSize(sectorSize) {}

CThoroughTracker::~CThoroughTracker() = default;

uint64_t CThoroughTracker::endOf(const tagFollowed& f) const {
    switch (f.walker.state()) {
    case CJpegWalker::State::Complete:
        return startOf(f) + f.walker.length();
    case CJpegWalker::State::Broken:
        return startOf(f) + f.walker.breakPosition();
    default:
        return startOf(f) + f.walker.position();
    }
}

void CThoroughTracker::feed(tagFollowed& f, uint32_t sector, const unsigned char* bytes) {
    (void)sector;
    if (f.walking())
        f.walker.walk(bytes, sectorSize);
}

void CThoroughTracker::feedSector(uint32_t sector, const unsigned char* bytes) {
    if (main) {
        feed(*main, sector, bytes);
        for (auto& f : inner)
            feed(*f, sector, bytes);
    }
    if (CJpegStartCheck::isStart(bytes, sectorSize)) {
        const uint64_t here = uint64_t(sector) * sectorSize;
        const bool inside = main && (main->walking() || endOf(*main) > here);
        auto fresh = std::make_unique<tagFollowed>(tagFollowed{sector, CJpegWalker()});
        if (inside) {
            if (inner.size() < kMaxInner) {
                feed(*fresh, sector, bytes);
                inner.push_back(std::move(fresh));
            }
        } else {
            settle();
            if (main) {
                // An inner file that outlived the old one covers this start.
                if (inner.size() < kMaxInner) {
                    feed(*fresh, sector, bytes);
                    inner.push_back(std::move(fresh));
                }
            } else {
                feed(*fresh, sector, bytes);
                main = std::move(fresh);
            }
        }
    }
    settle();
}

void CThoroughTracker::settle() {
    while (main && !main->walking()) {
        const uint64_t end = endOf(*main);
        emit(*main, false);
        main.reset();
        // Inner files that began where the outer one stopped, or go on
        // past it, are files of their own; the others were part of it.
        std::vector<std::unique_ptr<tagFollowed>> outliving;
        for (auto& f : inner)
            if (startOf(*f) >= end || f->walking() || endOf(*f) > end)
                outliving.push_back(std::move(f));
        inner.clear();
        if (outliving.empty())
            return;
        main = std::move(outliving.front());
        for (size_t k = 1; k < outliving.size(); ++k)
            inner.push_back(std::move(outliving[k]));
    }
}

void CThoroughTracker::dropCandidate() {
    settle();
    if (main)
        emit(*main, true);
    main.reset();
    inner.clear();
}

void CThoroughTracker::emit(const tagFollowed& f, bool cutOff) {
    tagCarvedFile file;
    file.startSector = f.startSector;
    const CJpegWalker& w = f.walker;
    if (!cutOff && w.state() == CJpegWalker::State::Complete) {
        file.complete = true;
        file.length = w.length();
        file.primaryLength = w.primaryLength();
    } else {
        const uint64_t stop = cutOff ? w.position() : w.breakPosition();
        file.length = std::min(stop, w.dataEnd());
    }
    if (file.length > 0)
        finished.push_back(file);
}
