#include "ntfs/CAttrBase.h"

#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "ntfs/tagNtfsLayout.h"

CAttrBase::CAttrBase(CByteView header, CFileRecord* record)
    : header(header), bytesPerSector(record->Volume()->BytesPerSector()),
      clusterSize(record->Volume()->ClusterSize()),
      indexBlockSize(record->Volume()->IndexBlockSize()), device(record->Volume()->Device()),
      record(record), type(header.le32(tagNtfsAttrHeader::kTypeOffset)),
      nameLength(header.u8(tagNtfsAttrHeader::kNameLengthOffset)),
      nonResident(header.u8(tagNtfsAttrHeader::kNonResidentOffset) != 0) {}
