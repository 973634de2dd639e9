#pragma once

#include "platform/OwnerIds.h"
#include "volume/CVolumeOpener.h"

#include <cstdint>
#include <string>

class CDevice;
class CRecoveryLog;

// The source of a scan as the report names it.
struct tagReportSource {
    std::string program; // the program that ran the scan
    std::string path;
    uint64_t size = 0;       // bytes
    uint32_t sectorSize = 0; // bytes
    std::string fileSystem;  // as detected; "" when none was recognised
    std::string access;      // the access that swept it: "raw", "FAT32", "NTFS"
    std::string mode;        // how the access was chosen: "auto", "raw", "fat32", "ntfs"
};

// How the sweep went, as the report tells it.
struct tagReportScan {
    uint32_t clusterSize = 0;
    uint64_t clusterCount = 0;
    // "completed", "stopped" or "source lost"
    std::string outcome;
};

// report.xml: a Digital Forensics XML (DFXML 1.1.1) account of a recovery,
// written with libxml2's text writer. It names the program and the machine
// that ran it, the source, the stretch swept and the stretches that could
// not be read, and every file written with the place its bytes came from
// and their SHA-256 digest. What DFXML has no element for is kept in its
// own namespace (kNamespace).
class CDfxmlReport {
public:
    static constexpr const char* kFileName = "report.xml";
    static constexpr const char* kNamespace = "urn:vallora:dfxml";

    static tagReportSource describeSource(const std::string& program, const CDevice& device,
                                          const std::string& fileSystem,
                                          CVolumeOpener::Choice choice, CVolumeOpener::Kind kind);
    // The whole document.
    static std::string document(const tagReportSource& source, const tagReportScan& scan,
                                const CRecoveryLog& log);
    // Writes text as report.xml into the folder open as folderFd, the way
    // recovered files are written (CRecoveredFile): named only when complete,
    // and never replacing a file, so the report of an earlier run stays and
    // this one gets a suffix ("report_1.xml"), given in finalName. The file is
    // handed to user and group unless they are -1. False with the reason in
    // error.
    static bool write(int folderFd, const std::string& text, uid_t user, gid_t group,
                      std::string& finalName, std::string& error);
    // text with invalid UTF-8 and the characters XML cannot hold replaced
    // by U+FFFD (names on Linux are bytes, not necessarily UTF-8).
    static std::string xmlSafe(const std::string& text);
};
