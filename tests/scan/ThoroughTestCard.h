#pragma once

#include "CJpegMaker.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A small card image for the thorough-mode tests: 512-byte sectors, photos
// put at chosen sectors, older data left behind them.
class CThoroughTestCard {
public:
    static constexpr uint32_t kSector = 512;

    explicit CThoroughTestCard(uint32_t sectors) : bytes(size_t(sectors) * kSector, 0) {}

    void put(uint32_t sector, const std::vector<unsigned char>& data) {
        putAt(size_t(sector) * kSector, data);
    }
    void putAt(size_t offset, const std::vector<unsigned char>& data) {
        std::copy(data.begin(), data.end(), bytes.begin() + long(offset));
    }
    // Fills the bytes after a file of length bytes at sector up to the end
    // of its last sector, and the next sectors, with older data.
    void dirtyTail(uint32_t sector, size_t length, uint32_t moreSectors, unsigned char older) {
        const size_t from = size_t(sector) * kSector + length;
        const size_t to = (from + kSector - 1) / kSector * kSector + size_t(moreSectors) * kSector;
        std::fill(bytes.begin() + long(from), bytes.begin() + long(to), older);
    }

    // "N.jpg" of a file that starts at sector.
    static std::string name(uint32_t sector) { return std::to_string(sector + 1982) + ".jpg"; }
    // "N-B.jpg" of a file that starts at byte offset (B inside its sector).
    static std::string nameAt(size_t offset) {
        if (offset % kSector == 0)
            return name(uint32_t(offset / kSector));
        return std::to_string(offset / kSector + 1982) + "-" + std::to_string(offset % kSector) +
               ".jpg";
    }

    std::vector<unsigned char> bytes;
};

// A multi-picture camera file: a primary image with an Exif segment and an
// MPF index in APP2, then a preview image, which begins at a sector
// boundary of the file (the primary is padded with a comment to end there).
std::vector<unsigned char> makeMpfCameraFile(uint32_t seed);
// The bytes of an Exif photo whose JPEG thumbnail begins thumbnailAt bytes
// into the file.
std::vector<unsigned char> makePhotoWithThumbnail(uint32_t seed, size_t thumbnailAt,
                                                  int width = 160, int height = 120);
