#pragma once

#include "platform/CByteView.h"

#include <cstdint>

class CFileRecord;

// $DATA (0x80), resident or non-resident by B.
template <class B> class CAttr_Data : public B {
public:
    static bool ValueFits(const CByteView&) { return true; }

    CAttr_Data(CByteView header, CFileRecord* record) : B(header, record) {}
};
