#include "ThoroughTestCard.h"

#include <jpeglib.h>
#include <stdexcept>

namespace {

void putBE16(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    b[at] = static_cast<unsigned char>(v >> 8);
    b[at + 1] = static_cast<unsigned char>(v);
}

void putBE32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
    putBE16(b, at, v >> 16);
    putBE16(b, at + 2, v & 0xFFFF);
}

// An MPF APP2 payload with two image entries, big-endian, values zero:
// "MPF\0", TIFF header, a directory with the MP entry tag, 32 bytes of entries.
constexpr size_t kMpfEntries = 4 + 8 + 2 + 12 + 4;
std::vector<unsigned char> mpfPayload() {
    std::vector<unsigned char> b(kMpfEntries + 32, 0);
    b[0] = 'M', b[1] = 'P', b[2] = 'F';
    b[4] = 'M', b[5] = 'M', b[7] = 0x2A;
    putBE32(b, 8, 8);               // the directory right behind the header
    putBE16(b, 12, 1);              // one entry
    putBE16(b, 14, 0xB002);         // MP entry
    putBE16(b, 16, 7);              // UNDEFINED
    putBE32(b, 18, 32);             // two 16-byte entries
    putBE32(b, 22, 8 + 2 + 12 + 4); // their offset from the TIFF header
    return b;
}

size_t find(const std::vector<unsigned char>& hay, const std::vector<unsigned char>& needle) {
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (std::equal(needle.begin(), needle.end(), hay.begin() + long(i)))
            return i;
    throw std::runtime_error("not found");
}

} // namespace

std::vector<unsigned char> makeMpfCameraFile(uint32_t seed) {
    CJpegMaker::tagStyle style;
    style.segments.push_back({JPEG_APP0 + 2, mpfPayload()});
    auto primary = CJpegMaker::make(CJpegMaker::Kind::Exif, 200, 150, seed, 85, style);
    // Pad with a comment so the primary image ends on a sector boundary.
    const size_t comment = 4;
    size_t pad = (CThoroughTestCard::kSector - (primary.size() + comment) % 512) % 512;
    style.segments.push_back({JPEG_COM, std::vector<unsigned char>(pad, 'x')});
    primary = CJpegMaker::make(CJpegMaker::Kind::Exif, 200, 150, seed, 85, style);
    if (primary.size() % CThoroughTestCard::kSector != 0)
        throw std::runtime_error("padding failed");
    const auto preview = CJpegMaker::make(CJpegMaker::Kind::Jfif, 64, 48, seed + 1);
    const size_t tiff = find(primary, {'M', 'P', 'F', 0}) + 4;
    const size_t entries = tiff + 8 + 2 + 12 + 4;
    putBE32(primary, entries + 4, uint32_t(primary.size()));
    putBE32(primary, entries + 16 + 4, uint32_t(preview.size()));
    putBE32(primary, entries + 16 + 8, uint32_t(primary.size() - tiff));
    primary.insert(primary.end(), preview.begin(), preview.end());
    return primary;
}

std::vector<unsigned char> makePhotoWithThumbnail(uint32_t seed, size_t thumbnailAt, int width,
                                                  int height) {
    const auto thumbnail = CJpegMaker::make(CJpegMaker::Kind::Jfif, 48, 32, seed + 100);
    CJpegMaker::tagStyle style;
    style.segments.push_back(
        {JPEG_APP0 + 1, CJpegMaker::exifWithThumbnail(thumbnail, thumbnailAt)});
    return CJpegMaker::make(CJpegMaker::Kind::Dqt, width, height, seed, 85, style);
}
