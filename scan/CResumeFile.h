#pragma once

#include "platform/OwnerIds.h"
#include "scan/CSourceIdentity.h"
#include "volume/CVolumeOpener.h"

#include <cstdint>
#include <string>
#include <vector>

class CDevice;
class CVolumeAccess;

// A found image not yet written: sectors startSector to lastSector, ending
// at byte endOffset of the last one.
struct tagResumeFound {
    uint64_t startSector = 0;
    uint64_t lastSector = 0;
    uint32_t endOffset = 0;
};

// Where an interrupted sweep stood, and how it was started.
struct tagResumeState {
    std::string sourcePath; // as the interrupted sweep named it
    tagSourceIdentity source;
    // The options of the sweep.
    CVolumeOpener::Choice fileSystemChoice = CVolumeOpener::Choice::Auto;
    uint32_t imageSectorSize = 0; // --sector-size; 0: the default
    bool report = true;
    bool photoDates = true;
    bool forceOutput = false;
    // The volume as swept, checked again when the sweep is taken up.
    uint64_t clusterCount = 0;
    uint32_t clusterSize = 0;
    // The sweep goes on by testing sector nextSector, in cluster
    // nextCluster, and everything after it; sweepDone once it reached the
    // end of the volume (only writing was left).
    uint64_t nextCluster = 0;
    uint64_t nextSector = 0;
    bool sweepDone = false;
    // Images written before the interruption, and those found and not written.
    uint32_t writtenBefore = 0;
    std::vector<tagResumeFound> pending;
};

// The resume file a sweep keeps in its output folder while it runs, so that
// an interrupted sweep (killed, stopped, its source gone) can be taken up
// where it stopped. Text, one "key value" line each, in a fixed order:
//
//   vallora-resume 1                 format and its version
//   source-path PATH                 the source as named (bytes below 0x21,
//                                    0x7F and '%' written as %XX)
//   source-bytes N, source-sector-size N, source-file-system NAME,
//   source-serial TEXT, source-sha256 HEX
//   option-fs auto|raw|fat|fat32|exfat|ntfs|ext, option-sector-size N,
//   option-report 0|1, option-dates 0|1, option-force-output 0|1
//   clusters N, cluster-size N       the volume's geometry
//   next-cluster N, next-sector N, sweep-done 0|1
//   written N                        images written before
//   found START LAST END-OFFSET      one line per image found, not written
//   sha256 HEX                       digest of every byte before this line
//
// It is replaced whole (written to a temporary name, flushed, renamed) and
// read as hostile input: every line is checked, a file that is not one, or
// whose digest does not match, is refused.
class CResumeFile {
public:
    static constexpr const char* kFileName = ".vallora-resume";
    static constexpr int kFormatVersion = 1;
    // Longer files are not read.
    static constexpr uint64_t kMaxBytes = uint64_t(64) << 20;

    static std::string compose(const tagResumeState& state);
    // False with the reason when text is not a resume file of this format.
    static bool parse(const std::string& text, tagResumeState& state, std::string& error);

    enum class ReadResult { Missing, Damaged, Read };
    // Reads the output folder's resume file (Damaged: error says why).
    static ReadResult read(int folderFd, tagResumeState& state, std::string& error);
    // Replaces the folder's resume file, handed to owner/group unless they
    // are -1; false with the reason.
    static bool write(int folderFd, const tagResumeState& state, uid_t owner, gid_t group,
                      std::string& error);
    // Removes the folder's resume file (true also when there was none).
    static bool remove(int folderFd);
    // Removes the temporary files of writers that were killed before they
    // renamed them (".vallora-resume.<pid>.tmp" of a process that is gone).
    static void removeStaleTemporaries(int folderFd);

    // Whether the output folder holds an interrupted sweep of this source:
    // the rule both front ends ask before a sweep.
    enum class Verdict {
        None,        // no resume file
        Damaged,     // a file by that name that cannot be read as one
        OtherSource, // an interrupted sweep of another source
        ThisSource,  // an interrupted sweep of this source: it may be taken up
    };
    struct tagCheck {
        Verdict verdict = Verdict::None;
        tagResumeState state;
        std::string reason; // why Damaged or OtherSource
    };
    static tagCheck inspect(int folderFd, CDevice& device);
    // False with the reason when the state does not fit the volume as built
    // (another geometry, a position outside it or on a used cluster).
    static bool fitsVolume(const tagResumeState& state, CVolumeAccess& access, std::string& error);
    // How far the interrupted sweep got, in percent of the volume's clusters.
    static double sweptPercent(const tagResumeState& state);
};
