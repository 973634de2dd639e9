#pragma once

#include "platform/CByteView.h"

#include <cstdint>
#include <memory>
#include <string>

class CDevice;
class CFileRecord;
class CAttrBase;

// One NTFS volume opened read-only: validates the boot sector, keeps the
// geometry and the device for the rest of the reader, checks the NTFS
// version in $Volume (record 3) and loads the $MFT's own record (record 0) so
// that records from 16 on are found through the $MFT's data runs.
class CNTFSVolume {
public:
    // 3.0 (Windows 2000) and later.
    static constexpr uint16_t kMinimumVersion = 0x0300;
    static constexpr uint32_t kMaxFileRecordSize = 65536;
    static constexpr uint32_t kMaxClusterSize = 2 * 1024 * 1024;

    // Reads the volume on an open device. A volume that cannot be used is not
    // an error of construction: ask IsReady().
    explicit CNTFSVolume(std::shared_ptr<CDevice> device);
    // Opens path read-only first; a path that cannot be opened gives a
    // closed, not-ready volume.
    explicit CNTFSVolume(const std::string& path);
    virtual ~CNTFSVolume();
    CNTFSVolume(const CNTFSVolume&) = delete;
    CNTFSVolume& operator=(const CNTFSVolume&) = delete;

    bool IsReady() const { return ready; }
    // True while the boot sector has been accepted and the device is held.
    bool IsOpen() const { return device != nullptr; }
    // Why the volume is not ready, one line for a person; empty when ready.
    const std::string& FailureReason() const { return failure; }

    uint16_t BytesPerSector() const { return bytesPerSector; }
    uint32_t ClusterSize() const { return clusterSize; }
    uint32_t SectorsPerCluster() const { return sectorsPerCluster; }
    uint64_t TotalSectors() const { return totalSectors; }
    uint32_t FileRecordSize() const { return fileRecordSize; }
    uint32_t IndexBlockSize() const { return indexBlockSize; }
    uint64_t MftOffset() const { return mftOffset; }
    // Major version in the high byte, minor in the low byte; 0 until read.
    uint16_t Version() const { return version; }
    const std::shared_ptr<CDevice>& DeviceHandle() const { return device; }
    CDevice* Device() const { return device.get(); }
    // The $MFT's data attribute, or none.
    CAttrBase* MftData() const { return mftData; }
    const CFileRecord* MftRecord() const { return mftRecord.get(); }

private:
    bool OpenDevice(std::shared_ptr<CDevice> source);
    bool AcceptGeometry(const CByteView& boot);
    void OpenVolume();
    void Close();

    uint16_t bytesPerSector = 0;
    uint32_t clusterSize = 0;
    uint64_t totalSectors = 0;
    uint32_t sectorsPerCluster = 0;
    uint32_t fileRecordSize = 0;
    uint32_t indexBlockSize = 0;
    uint64_t mftOffset = 0;
    std::shared_ptr<CDevice> device;
    bool ready = false;
    uint16_t version = 0;
    std::unique_ptr<CFileRecord> mftRecord;
    CAttrBase* mftData = nullptr;
    std::string failure;
};
