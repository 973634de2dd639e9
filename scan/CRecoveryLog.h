#pragma once

#include "scan/CSha256.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A stretch of bytes of a recovered file as it lay on the source.
struct tagByteRun {
    uint64_t fileOffset = 0;
    uint64_t imageOffset = 0; // byte offset on the source device
    uint64_t length = 0;
};

// A stretch of the source, in bytes.
struct tagByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// A file the recovery writer wrote completely.
struct tagRecoveredFile {
    std::string fileName; // as finally named in the output folder
    uint64_t size = 0;
    std::vector<tagByteRun> runs; // one per contiguous stretch of the source
    std::string sha256;           // lower-case hexadecimal; "" when not hashed
    bool hasPhotoDate = false;    // the modification time was set to the photo's date
    time_t photoDate = 0;
};

// What a scan swept and what the recovery writer wrote, kept for the
// report. The writer calls the file hooks in order for every file:
// beginFile, addPiece for each piece written, finishFile while the file is
// still open, and fileWritten once it carries its final name.
class CRecoveryLog {
public:
    // Hash every file written (for the report).
    void setHashing(bool on) { hashing = on; }
    // Give every photo its Exif date as modification time.
    void setPhotoDates(bool on) { photoDates = on; }
    bool photoDatesOn() const { return photoDates; }

    void noteStart(time_t when) { startTime = when; }
    // The stretch of the source from the first to the last cluster swept.
    void noteSwept(uint64_t offset, uint64_t length) { swept = {offset, length}; }
    // A stretch the sweep could not read; joined to the previous one when
    // it continues it.
    void noteUnreadable(uint64_t offset, uint64_t length);

    void beginFile();
    // The next piece of the file, read from imageOffset on the source.
    void addPiece(uint64_t imageOffset, const unsigned char* data, size_t length);
    // Sets the photo's date as modification time of the open file fd.
    void finishFile(int fd);
    // The file is in the folder as name; ownDate false when a file that was
    // already there (with the same bytes) stands for it, keeping its own date.
    void fileWritten(const std::string& name, bool ownDate = true);

    // Puts prefix (a folder, "partial/") before the names of the files
    // written from the index first on.
    void prefixNames(size_t first, const std::string& prefix);

    time_t start() const { return startTime; }
    const tagByteRange& sweptRange() const { return swept; }
    const std::vector<tagByteRange>& unreadableRanges() const { return unreadable; }
    const std::vector<tagRecoveredFile>& files() const { return written; }

private:
    bool hashing = false;
    bool photoDates = true;
    time_t startTime = 0;
    tagByteRange swept;
    std::vector<tagByteRange> unreadable;
    std::vector<tagRecoveredFile> written;
    tagRecoveredFile current;
    CSha256 digest;
};
