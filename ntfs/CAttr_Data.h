#pragma once

#include <cstdint>

class CFileRecord;

// $DATA (0x80), resident or non-resident by B.
template <class B> class CAttr_Data : public B {
public:
    static bool ValueFits(const uint8_t*) { return true; }

    CAttr_Data(const uint8_t* header, uint32_t length, CFileRecord* record)
        : B(header, length, record) {}
};
