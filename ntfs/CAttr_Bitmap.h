#pragma once

#include "ntfs/CAttrNonResident.h"
#include "ntfs/CAttrResident.h"

#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

// $BITMAP (0xB0), resident or non-resident by B. A resident bitmap is copied
// whole; a non-resident one keeps a one-cluster buffer.
template <class B> class CAttr_Bitmap : public B {
public:
    static bool ValueFits(const CByteView&) { return true; }

    CAttr_Bitmap(CByteView header, CFileRecord* record) : B(header, record) {
        if constexpr (std::is_same_v<B, CAttrResident>) {
            const uint32_t size = this->valueLength;
            std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size ? size : 1]);
            uint32_t got = 0;
            if (copy && this->ReadAt(0, copy.get(), size, got) && got == size) {
                bitmapSize = size;
                bitmapBuffer = std::move(copy);
            }
        } else {
            if (this->runsValid)
                bitmapSize = this->DataSize();
        }
    }

    uint64_t BitmapSize() const { return bitmapSize; }
    // Resident: the copied value. Non-resident with valid runs: a buffer of
    // one cluster, made when first asked for. Otherwise none.
    uint8_t* BitmapBuffer() {
        if constexpr (!std::is_same_v<B, CAttrResident>) {
            if (!bitmapBuffer && this->runsValid)
                bitmapBuffer.reset(new (std::nothrow) uint8_t[this->clusterSize]());
        }
        return bitmapBuffer.get();
    }

protected:
    uint64_t bitmapSize = 0;
    std::unique_ptr<uint8_t[]> bitmapBuffer;
};
