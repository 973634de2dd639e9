#pragma once

#include "platform/CByteOrder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>

// A read that would leave the bytes of a CByteView.
class CByteRangeError : public std::out_of_range {
public:
    CByteRangeError() : std::out_of_range("on-disk structure read outside its bytes") {}
};

// A read-only view of on-disk bytes (a boot sector, a file record, a
// directory entry) in which every read checks its own range: a field that
// lies outside the view throws CByteRangeError and never reads a byte
// beyond it. Parsers still check what the bytes claim (lengths, offsets)
// and refuse a structure that does not fit; the view guarantees that a
// check forgotten or wrong costs a clear failure, not a read outside the
// buffer. Little-endian fields go through CByteOrder.
class CByteView {
public:
    CByteView() = default;
    CByteView(const void* bytes, size_t size)
        : bytes(static_cast<const unsigned char*>(bytes)), length(bytes ? size : 0) {}

    // The bytes of a container (an array, std::array, std::vector).
    template <class Bytes> static CByteView of(const Bytes& bytes) {
        return CByteView(std::data(bytes), std::size(bytes) * sizeof(*std::data(bytes)));
    }

    size_t size() const { return length; }
    bool empty() const { return length == 0; }
    // True when count bytes at offset at lie inside the view.
    bool has(size_t at, size_t count) const { return at <= length && count <= length - at; }

    uint8_t u8(size_t at) const { return *checked(at, 1); }
    uint16_t le16(size_t at) const { return CByteOrder::readLE16(checked(at, 2)); }
    uint32_t le32(size_t at) const { return CByteOrder::readLE32(checked(at, 4)); }
    uint64_t le64(size_t at) const { return CByteOrder::readLE64(checked(at, 8)); }
    // True when the count bytes at at equal expected.
    bool equals(size_t at, const void* expected, size_t count) const {
        return std::memcmp(checked(at, count), expected, count) == 0;
    }
    // Copies count bytes at at into out.
    void copy(size_t at, void* out, size_t count) const {
        if (count != 0)
            std::memcpy(out, checked(at, count), count);
    }
    // The count bytes at at, as a view of their own.
    CByteView sub(size_t at, size_t count) const { return CByteView(checked(at, count), count); }
    // From at to the end.
    CByteView from(size_t at) const { return sub(at, at <= length ? length - at : 0); }
    // The first byte, for code that hands the bytes on whole (nullptr when
    // empty).
    const unsigned char* data() const { return bytes; }

private:
    const unsigned char* checked(size_t at, size_t count) const {
        if (!has(at, count))
            throw CByteRangeError();
        return bytes + at;
    }

    const unsigned char* bytes = nullptr;
    size_t length = 0;
};
