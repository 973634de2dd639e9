#include "cli/CCliOptions.h"

#include "platform/CFileDevice.h"

#include <cstdlib>
#include <vector>

std::string CCliOptions::helpText() {
    std::string text = R"(Usage: vallora-recover [OPTIONS] SOURCE OUTPUT_DIR
       vallora-recover --resume [-q] [--force-output] [SOURCE] OUTPUT_DIR

Recovers deleted JPEG photos. SOURCE is a block device (/dev/sdb1) or a disk
image file; it is opened read-only and never written. Every image found is
written into OUTPUT_DIR as N.jpg, where N is the image's first sector + 1982.
OUTPUT_DIR must exist and must not lie on the disk being scanned, nor (for
an image file) inside that image attached as a loop device; the disks under
it are found through partitions, LVM, dm-crypt, md RAID, loop devices, btrfs,
overlayfs and FUSE mounts. The folder is opened once and every file is
written through it.

Options:
  --sector-size N   bytes per sector of an image file (512 to 65536, a power
                    of two; default 512). A block device reports its own.
  --fs TYPE         how to sweep: auto (default) follows the file system
                    found on SOURCE: FAT12/16, FAT32, exFAT, NTFS and
                    ext2/3/4 sweep only their free clusters, anything else
                    is swept whole; raw sweeps every sector (useful when a
                    card was reformatted); fat (FAT12/16), fat32, exfat,
                    ntfs and ext (ext2/3/4) read SOURCE as that file system.
  --force-output    write into OUTPUT_DIR even when the disks under it
                    cannot be determined (a FUSE or other file system that
                    names no device); a warning is printed. A folder known
                    to lie on the scanned data is refused all the same.
  --thorough        thorough mode (slower, finds more photos): JPEG starts
                    after any header segment, each image followed through
                    its structure to its exact end marker, and only images
                    that decode to their end written. Recovers photos whose
                    last sector holds older data after the end marker, keeps
                    Exif thumbnails inside their photo, and writes a photo
                    found twice once. Also finds images that begin at any
                    byte (inside archives and other files, back to back),
                    written as N-B.jpg, B the offset of the first byte in
                    sector N - 1982; follows an image over used clusters
                    to the next free one; and joins a photo that breaks
                    off to its second piece among the next 32 MiB of free
                    clusters.
  --keep-partial    with --thorough: also write the images that are cut
                    short or stop decoding (overwritten in the middle) into
                    OUTPUT_DIR/partial, named the same way
  --no-report       do not write report.xml (see below)
  --no-dates        leave every recovered file dated with the time of
                    recovery, not the date the photo was taken
  --resume          take up the sweep interrupted in OUTPUT_DIR where it
                    stopped, with the options it was started with. SOURCE
                    defaults to the source it swept (give it again when the
                    drive now has another name); a source that is not the
                    same (size, file system identifier, first sectors) is
                    refused. Not for --thorough sweeps.
  -q, --quiet       no progress display
  -h, --help        show this help and exit
  --version         show the version and exit

Progress is shown on standard error when it is a terminal. The summary and
the run time are printed on standard output; files that could not be written
are listed on standard error with the reason.

OUTPUT_DIR also receives report.xml, a Digital Forensics XML (DFXML) account
of the recovery: the program, the source, the stretch swept and what could
not be read, and for every file written where its bytes lay on SOURCE and
their SHA-256 digest. It is written also when the sweep is stopped; an
earlier report is kept and this one saved as report_1.xml (report_2.xml...).
Each photo gets the date it was taken (Exif DateTimeOriginal, or DateTime)
as its modification time; a photo without one keeps the time of recovery.

Ctrl-C stops the sweep and writes the images found so far (when nothing was
found yet it abandons the scan); a second Ctrl-C abandons: the file being
written is removed and nothing more is written; a third ends the program at
once. SIGTERM and SIGHUP count as Ctrl-C. A closed standard output does not
stop a recovery.

While it sweeps, the default mode keeps the file .vallora-resume in
OUTPUT_DIR (replaced every few seconds, and when the sweep stops): where the
sweep stands, the images found and not written yet, and its options. After
an interruption (Ctrl-C, a crash, the power, the source gone),
'vallora-recover --resume OUTPUT_DIR' goes on from there and writes what the
whole sweep would have written; the summary counts the images written
before too. The file is removed once the sweep reached the end and every
image was written. A thorough sweep keeps none.

No file in OUTPUT_DIR is ever replaced: when N.jpg exists with other bytes
the image is saved as N_1.jpg (N_2.jpg...); when it holds the same bytes it
is not written again. The summary says how many.

A source whose every read fails over 64 MiB (a dead card, a failing
reader) ends the sweep early as lost: what was found is written, and the
unreadable sector ranges are listed. A read error is printed once for each
run of failing reads.

Devices need root rights (sudo); image files need only read access.

Exit status:
  0  swept to the end and every image written
  1  some image found, or the report, was not written (stopped or not)
  2  bad command line
  3  the source cannot be opened or read as a volume, or it went away or
     died during the sweep (what was found before is written where it can
     be); with --resume also: it is not the source the sweep read
  4  the output folder is refused (missing, not a folder, not writable,
     on the disk being scanned, or on storage that cannot be determined);
     with --resume also: it holds no resume file, or a damaged one
  5  stopped with Ctrl-C; every image found so far was written
  6  abandoned (Ctrl-C twice, or once with nothing found yet): the file
     being written was removed and nothing more was written
When several apply, 6 comes first, then 3, then 1, then 5.
)";
#ifdef _WIN32
    text += R"(
On Windows SOURCE is a drive letter (E:), a disk (\\.\PhysicalDrive1) or a
disk image file; drives need a command prompt run as administrator. A drive
is refused as OUTPUT_DIR's disk by its disk number. Ctrl-C, Ctrl-Break and
closing the console window count as Ctrl-C. The Windows program keeps no
resume file: --resume is refused.
)";
#endif
#if !VALLORA_WITH_THOROUGH || !VALLORA_WITH_REPORT || !VALLORA_WITH_EXT
    text += "\nThis build was made without:\n";
#endif
#if !VALLORA_WITH_THOROUGH
    text += "  libjpeg: no thorough mode (--thorough)\n";
#endif
#if !VALLORA_WITH_REPORT
    text += "  libxml2 and libexif: no report.xml, and recovered files keep the time of\n"
            "    recovery (--no-report and --no-dates change nothing)\n";
#endif
#if !VALLORA_WITH_EXT
    text += "  libext2fs: ext2/3/4 volumes are not read (--fs raw sweeps them whole)\n";
#endif
    return text;
}

namespace {

// True for "--name" and "--name=value".
bool takesValue(const std::string& arg, const std::string& name) {
    return arg == name || arg.rfind(name + "=", 0) == 0;
}

// The value of an option given as "--name value" or "--name=value".
bool optionValue(const std::string& arg, const std::string& name, int argc, char** argv, int& i,
                 std::string& value, std::string& error) {
    if (arg != name) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
    }
    value = argv[++i];
    return true;
}

} // namespace

bool CCliOptions::parse(int argc, char** argv, std::string& error) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    std::string sweepOption; // an option a resumed sweep takes from its resume file
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            showHelp = true;
        } else if (arg == "--version") {
            showVersion = true;
        } else if (arg == "--resume") {
#ifdef _WIN32
            error = "--resume is not part of the Windows program";
            return false;
#else
            resume = true;
#endif
        } else if (arg == "--thorough") {
            sweepOption = arg;
#if VALLORA_WITH_THOROUGH
            thorough = true;
#else
            error = "--thorough is not part of this build (made without libjpeg)";
            return false;
#endif
        } else if (arg == "--keep-partial") {
            sweepOption = arg;
            keepPartial = true;
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg == "--force-output") {
            forceOutput = true;
        } else if (arg == "--no-report") {
            sweepOption = arg;
            report = false;
        } else if (arg == "--no-dates") {
            sweepOption = arg;
            photoDates = false;
        } else if (takesValue(arg, "--fs")) {
            sweepOption = "--fs";
            std::string value;
            if (!optionValue(arg, "--fs", argc, argv, i, value, error))
                return false;
            if (!CVolumeOpener::parseChoice(value, fileSystem)) {
                error = "invalid file system '" + value +
                        "': use auto, raw, fat, fat32, exfat, ntfs or ext";
                return false;
            }
        } else if (takesValue(arg, "--sector-size")) {
            sweepOption = "--sector-size";
            std::string value;
            if (!optionValue(arg, "--sector-size", argc, argv, i, value, error))
                return false;
            char* end = nullptr;
            const unsigned long parsed = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || value[0] == '-' ||
                !CFileDevice::isValidSectorSize(parsed > 0xFFFFFFFFul ? 0 : uint32_t(parsed))) {
                error = "invalid sector size '" + value + "': use a power of two from 512 to 65536";
                return false;
            }
            sectorSize = uint32_t(parsed);
        } else {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (showHelp || showVersion)
        return true;
    if (keepPartial && !thorough) {
        error = "--keep-partial needs --thorough";
        return false;
    }
    if (resume) {
        if (!sweepOption.empty()) {
            error = sweepOption + " cannot be given with --resume: the sweep goes on with the "
                                  "options it was started with";
            return false;
        }
        if (positional.empty() || positional.size() > 2) {
            error = positional.empty() ? "--resume needs OUTPUT_DIR"
                                       : "too many arguments: expected [SOURCE] OUTPUT_DIR";
            return false;
        }
        outputDir = positional.back();
        source = positional.size() == 2 ? positional[0] : "";
        return true;
    }
    if (positional.size() != 2) {
        error = positional.size() < 2 ? "expected SOURCE and OUTPUT_DIR"
                                      : "too many arguments: expected SOURCE and OUTPUT_DIR";
        return false;
    }
    source = positional[0];
    outputDir = positional[1];
    return true;
}
