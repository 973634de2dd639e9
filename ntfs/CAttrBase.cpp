#include "ntfs/CAttrBase.h"

#include "ntfs/CFileRecord.h"
#include "ntfs/CNTFSVolume.h"
#include "ntfs/NtfsBytes.h"

CAttrBase::CAttrBase(const uint8_t* header, uint32_t length, CFileRecord* record)
    : header(header), bytesPerSector(record->Volume()->BytesPerSector()),
      clusterSize(record->Volume()->ClusterSize()),
      indexBlockSize(record->Volume()->IndexBlockSize()), device(record->Volume()->Device()),
      record(record), length(length), type(ntfsbytes::le32(header)), nameLength(header[0x09]),
      nonResident(header[0x08] != 0) {}
