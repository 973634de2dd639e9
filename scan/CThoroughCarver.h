#pragma once

#include "scan/CBaseFile.h"
#include "scan/CDecodeWorker.h"
#include "scan/CFreeSpaceMap.h"
#include "scan/CScanFrontEnd.h"
#include "scan/CThoroughTracker.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CVolumeAccess;

// The thorough carving mode: the sector stream goes through the structure
// walk (CThoroughTracker); every file that completes is decoded on the
// decode worker, and only the ones that decode become photos. A file that
// breaks off in its image data, or does not decode, is looked for a second
// piece of (CTwoPieceSearch). Files that are cut short, break off or do
// not decode are kept as partial files when asked for. A photo equal to one found before is
// counted, not kept. After the sweep, the deleted files the file system
// still lists in free clusters (an NTFS volume's MFT records) that begin
// with FF D8 FF are decoded in their listed pieces too: one that decodes
// to its end marker at its recorded size takes the place of the carved
// photo or partial file with the same start, which the record shows to be
// a guess of the same photo. Everything but the decoding runs on the sweep
// thread.
class CThoroughCarver {
public:
    // stopRequest gives the front end's stop request; onPhoto is called on
    // the sweep thread for every new photo.
    CThoroughCarver(CVolumeAccess* access, uint32_t sectorSize, bool keepPartial,
                    std::function<CScanFrontEnd::StopRequest()> stopRequest,
                    std::function<void()> onPhoto);
    ~CThoroughCarver();

    void feedSector(uint64_t sector, const unsigned char* bytes);
    // count consecutive sectors, the next one readable behind them.
    void feedSectors(uint64_t first, uint64_t count, const unsigned char* bytes);
    void breakStream();
    // The sweep is over: waits until the queued files are decoded. An
    // abandon request cancels the decoding instead.
    void finish();

    // Photos, in the order they were proven, and partial files.
    std::vector<std::unique_ptr<CBaseFile>> photos;
    std::vector<std::unique_ptr<CBaseFile>> partials;
    uint32_t duplicates = 0;

private:
    void handOn();
    // Queues the listed deleted files that begin like a JPEG.
    void offerListedFiles();
    bool beginsLikeJpeg(uint64_t sector);
    // A listed photo that decodes: replaces what was carved at its start.
    void takeListedPhoto(const tagCarvedFile& file);
    void submit(const tagCarvedFile& file);
    void collect();
    void keepPartial(const tagCarvedFile& file);
    std::unique_ptr<CBaseFile> placeOf(const tagCarvedFile& file) const;
    bool abandoned();

    CVolumeAccess* access;
    uint32_t sectorSize;
    bool keepPartials;
    std::function<CScanFrontEnd::StopRequest()> stopRequest;
    std::function<void()> onPhoto;
    CThoroughTracker tracker;
    CFreeSpaceMap freeSpace;
    std::unique_ptr<CDecodeWorker> worker;
};
