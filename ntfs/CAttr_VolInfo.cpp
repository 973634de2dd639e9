#include "ntfs/CAttr_VolInfo.h"

#include "ntfs/tagNtfsLayout.h"

bool CAttr_VolInfo::ValueFits(const CByteView& header) {
    return header.le32(tagNtfsAttrHeader::kValueLengthOffset) >= tagNtfsVolInfo::kSize;
}

uint8_t CAttr_VolInfo::MajorVersion() const {
    return value.u8(tagNtfsVolInfo::kMajorVersionOffset);
}

uint8_t CAttr_VolInfo::MinorVersion() const {
    return value.u8(tagNtfsVolInfo::kMinorVersionOffset);
}
