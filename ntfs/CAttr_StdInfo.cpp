#include "ntfs/CAttr_StdInfo.h"

#include "ntfs/tagNtfsLayout.h"

bool CAttr_StdInfo::ValueFits(const CByteView& header) {
    return header.le32(tagNtfsAttrHeader::kValueLengthOffset) >= tagNtfsStdInfo::kFlagsOffset + 4;
}

uint32_t CAttr_StdInfo::FileAttributes() const {
    return value.le32(tagNtfsStdInfo::kFlagsOffset);
}
