#include "CNtfsTestImage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = v >> 8;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = (v >> (8 * i)) & 0xFF;
}

void put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + i] = (v >> (8 * i)) & 0xFF;
}

size_t align8(size_t n) {
    return (n + 7) & ~size_t(7);
}

void putName(std::vector<uint8_t>& b, size_t at, const std::u16string& name) {
    for (size_t i = 0; i < name.size(); ++i)
        put16(b, at + 2 * i, name[i]);
}

} // namespace

CNtfsTestImage::CRecord& CNtfsTestImage::CRecord::resident(uint32_t type,
                                                           const std::vector<uint8_t>& value,
                                                           const std::u16string& name) {
    const size_t valueOffset = align8(0x18 + 2 * name.size());
    std::vector<uint8_t> a(align8(valueOffset + value.size()));
    put32(a, 0, type);
    put32(a, 4, static_cast<uint32_t>(a.size()));
    a[8] = 0;
    a[9] = static_cast<uint8_t>(name.size());
    put16(a, 0x0A, 0x18);
    put32(a, 0x10, static_cast<uint32_t>(value.size()));
    put16(a, 0x14, static_cast<uint16_t>(valueOffset));
    putName(a, 0x18, name);
    std::copy(value.begin(), value.end(), a.begin() + valueOffset);
    return raw(a);
}

CNtfsTestImage::CRecord& CNtfsTestImage::CRecord::nonResident(uint32_t type,
                                                              const std::vector<uint8_t>& runs,
                                                              uint64_t lastVcn, uint64_t dataSize,
                                                              const std::u16string& name,
                                                              uint64_t startVcn) {
    const size_t runsOffset = align8(0x40 + 2 * name.size());
    std::vector<uint8_t> a(align8(runsOffset + runs.size() + 1));
    put32(a, 0, type);
    put32(a, 4, static_cast<uint32_t>(a.size()));
    a[8] = 1;
    a[9] = static_cast<uint8_t>(name.size());
    put16(a, 0x0A, 0x40);
    put64(a, 0x10, startVcn);
    put64(a, 0x18, lastVcn);
    put16(a, 0x20, static_cast<uint16_t>(runsOffset));
    put64(a, 0x28, (lastVcn - startVcn + 1) * 4096);
    put64(a, 0x30, dataSize);
    put64(a, 0x38, dataSize);
    putName(a, 0x40, name);
    std::copy(runs.begin(), runs.end(), a.begin() + runsOffset);
    return raw(a);
}

CNtfsTestImage::CRecord& CNtfsTestImage::CRecord::raw(const std::vector<uint8_t>& attribute) {
    attributes.insert(attributes.end(), attribute.begin(), attribute.end());
    return *this;
}

CNtfsTestImage::CRecord& CNtfsTestImage::CRecord::standardInformation(uint32_t flags) {
    std::vector<uint8_t> value(72);
    put32(value, 0x20, flags);
    return resident(0x10, value);
}

std::vector<uint8_t> CNtfsTestImage::CRecord::layout(uint32_t recordSize) const {
    std::vector<uint8_t> r(recordSize);
    std::memcpy(r.data(), "FILE", 4);
    const uint32_t strides = recordSize / 512;
    put16(r, 0x04, usaOffset);
    put16(r, 0x06, static_cast<uint16_t>(strides + 1));
    const size_t first = align8(0x30 + 2 * (strides + 1));
    put16(r, 0x14, static_cast<uint16_t>(first));
    put16(r, 0x16, headerFlags);
    if (first + attributes.size() + 8 > recordSize)
        throw std::length_error("attributes do not fit the record");
    std::copy(attributes.begin(), attributes.end(), r.begin() + first);
    put32(r, first + attributes.size(), 0xFFFFFFFF);
    return r;
}

CNtfsTestImage::CNtfsTestImage(tagGeometry g) : geometry(g) {
    // Only the first MiB is held; the rest of the volume reads as zeros
    // unless a test writes there.
    volumeBytes = g.totalSectors * g.bytesPerSector;
    bytes.assign(std::max<uint64_t>(512, std::min<uint64_t>(volumeBytes, 1 << 20)), 0);
    bytes[0] = 0xEB;
    bytes[1] = 0x52;
    bytes[2] = 0x90;
    std::memcpy(bytes.data() + 3, "NTFS    ", 8);
    put16(bytes, 0x0B, g.bytesPerSector);
    bytes[0x0D] = g.sectorsPerCluster;
    put64(bytes, 0x28, g.totalSectors);
    put64(bytes, 0x30, g.mftCluster);
    bytes[0x40] = static_cast<uint8_t>(g.clustersPerRecord);
    bytes[0x44] = static_cast<uint8_t>(g.clustersPerIndex);
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
}

uint32_t CNtfsTestImage::clusterSize() const {
    return geometry.bytesPerSector * geometry.sectorsPerCluster;
}

uint32_t CNtfsTestImage::recordSize() const {
    int8_t v = geometry.clustersPerRecord;
    return v > 0 ? v * clusterSize() : 1u << -v;
}

uint64_t CNtfsTestImage::mftOffset() const {
    return geometry.mftCluster * clusterSize();
}

void CNtfsTestImage::putRecord(uint64_t number, const CRecord& record) {
    putRecordAt(mftOffset() + number * recordSize(), record);
}

void CNtfsTestImage::putRecordAt(uint64_t offset, const CRecord& record) {
    std::vector<uint8_t> r = record.layout(recordSize());
    const uint32_t strides = recordSize() / 512;
    const uint16_t usa = record.usaOffset;
    put16(r, usa, kUsn);
    for (uint32_t i = 0; i < strides; ++i) {
        const size_t tail = (i + 1) * 512 - 2;
        r[usa + 2 + 2 * i] = r[tail];
        r[usa + 3 + 2 * i] = r[tail + 1];
        put16(r, tail, kUsn);
    }
    putBytes(offset, r);
}

void CNtfsTestImage::putBytes(uint64_t offset, const std::vector<uint8_t>& data) {
    if (offset + data.size() > bytes.size())
        bytes.resize(offset + data.size());
    std::copy(data.begin(), data.end(), bytes.begin() + offset);
}

void CNtfsTestImage::setClusterUsed(uint32_t cluster, bool used) {
    uint8_t& b = bytes.at(bitmapOffset + cluster / 8);
    if (used)
        b |= uint8_t(1u << (cluster % 8));
    else
        b &= uint8_t(~(1u << (cluster % 8)));
}

std::shared_ptr<CMemoryDevice> CNtfsTestImage::device(uint64_t size) const {
    return std::make_shared<CMemoryDevice>(std::vector<unsigned char>(bytes.begin(), bytes.end()),
                                           512, size ? size : volumeBytes);
}

CNtfsTestImage CNtfsTestImage::standardVolume(uint32_t clusterCount, uint8_t major, uint8_t minor) {
    tagGeometry g;
    g.totalSectors = uint64_t(clusterCount) * 8;
    CNtfsTestImage image(g);
    image.putRecord(
        0, CRecord().standardInformation().nonResident(0x80, {0x11, 0x08, 0x04}, 7, 8 * 4096));
    std::vector<uint8_t> info(12);
    info[8] = major;
    info[9] = minor;
    image.putRecord(3, CRecord().standardInformation().resident(0x70, info));
    const uint64_t bitmapBytes = ((clusterCount + 63) / 64) * 8;
    image.putRecord(6, CRecord()
                           .standardInformation()
                           .resident(0x30, std::vector<uint8_t>(0x50))
                           .nonResident(0x80, {0x11, 0x01, 0x14}, 0, bitmapBytes));
    for (uint32_t n = 0; n < 24 && n < clusterCount; ++n)
        image.setClusterUsed(n);
    return image;
}
