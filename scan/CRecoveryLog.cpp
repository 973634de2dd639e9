#include "scan/CRecoveryLog.h"

#if VALLORA_WITH_REPORT
#include "scan/CPhotoDate.h"

#include <fcntl.h>
#include <sys/stat.h>
#endif

void CRecoveryLog::noteUnreadable(uint64_t offset, uint64_t length) {
    if (!unreadable.empty() && unreadable.back().offset + unreadable.back().length == offset) {
        unreadable.back().length += length;
        return;
    }
    unreadable.push_back({offset, length});
}

void CRecoveryLog::beginFile() {
    current = tagRecoveredFile();
    if (hashing)
        digest.reset();
}

void CRecoveryLog::addPiece(uint64_t imageOffset, const unsigned char* data, size_t length) {
#if VALLORA_WITH_REPORT
    if (current.size == 0 && photoDates)
        current.hasPhotoDate = CPhotoDate::read(data, length, current.photoDate);
#endif
    if (!current.runs.empty() &&
        current.runs.back().imageOffset + current.runs.back().length == imageOffset)
        current.runs.back().length += length;
    else
        current.runs.push_back({current.size, imageOffset, length});
    current.size += length;
    if (hashing)
        digest.update(data, length);
}

void CRecoveryLog::finishFile(int fd) {
#if VALLORA_WITH_REPORT
    if (current.hasPhotoDate) {
        const timespec times[2] = {{0, UTIME_OMIT}, {current.photoDate, 0}};
        // A file system that cannot take the date keeps the time of recovery.
        if (::futimens(fd, times) != 0)
            current.hasPhotoDate = false;
    }
#else
    (void)fd;
#endif
    if (hashing)
        current.sha256 = digest.hexDigest();
}

void CRecoveryLog::fileWritten(const std::string& name, bool ownDate) {
    current.fileName = name;
    if (!ownDate)
        current.hasPhotoDate = false;
    written.push_back(std::move(current));
    current = tagRecoveredFile();
}

void CRecoveryLog::prefixNames(size_t first, const std::string& prefix) {
    for (size_t k = first; k < written.size(); ++k)
        written[k].fileName = prefix + written[k].fileName;
}
