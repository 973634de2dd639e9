// The recovery writer: after the sweep every found image is read again from
// the volume and written into the output folder as "<first sector + 1982>.jpg".
#include "scan/CScanFrontEnd.h"
#include "scan/CScanner.h"
#include "volume/CVolumeAccess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// Writes all of length bytes; false with errno set on failure.
bool writeAll(int fd, const unsigned char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        length -= size_t(n);
    }
    return true;
}

} // namespace

void CScanner::recoverAll() {
    showText(CScanFrontEnd::kTotalLabel, "搜索完成,文件恢复中...");
    const uint32_t total = uint32_t(tracker->foundFiles.size());
    uint32_t handled = 0;
    uint32_t percentSum = 0;
    writtenCount = 0;

    // A file-size limit must fail the write, not kill the program before it
    // can tell which files were not written.
    std::signal(SIGXFSZ, SIG_IGN);

    int folderFd = outputFd;
    std::string folderError;
    if (total > 0 && folderFd < 0) {
        const std::string folder = scanDialog->outputFolder();
        folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0)
            folderError = folder + ": " + std::strerror(errno);
    }

    for (auto& file : tracker->foundFiles) {
        if (scanDialog->stopRequest() == CScanFrontEnd::kAbandon)
            break;
        bool written;
        if (folderFd >= 0) {
            written = writeFoundFile(file.get(), folderFd);
        } else {
            failures.push_back({std::to_string(file->startSector + 1982) + ".jpg", folderError});
            written = false;
        }
        file.reset();
        ++handled;
        if (written)
            ++writtenCount;
        // The count shown and reported is what was written completely.
        char text[64];
        std::snprintf(text, sizeof text, "成功恢复%u个文件", writtenCount);
        showText(CScanFrontEnd::kSweptLabel, text);
        percentSum += 100;
        std::snprintf(text, sizeof text, "%d%%", int(percentSum / total));
        showText(CScanFrontEnd::kPercentLabel, text);
    }
    if (folderFd >= 0 && folderFd != outputFd)
        ::close(folderFd);
    fileCount = writtenCount;
    tracker->foundFiles.clear();
}

bool CScanner::writeFoundFile(CBaseFile* file, int folderFd) {
    const std::string name = std::to_string(file->startSector + 1982) + ".jpg";
    // The image is written under a hidden name and renamed when complete,
    // so a file that fails half way never looks like a recovered photo. No
    // link planted in the folder is followed: O_NOFOLLOW | O_EXCL creates a
    // new file, and the rename replaces the name, never what it points at.
    const std::string partial = "." + name + ".partial";
    auto fail = [&](const std::string& reason, int fd) {
        if (fd >= 0)
            ::close(fd);
        ::unlinkat(folderFd, partial.c_str(), 0);
        failures.push_back({name, reason});
        return false;
    };

    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(folderFd, partial.c_str(), flags, 0644);
    if (fd < 0 && errno == EEXIST) {
        // Left over from an interrupted run.
        ::unlinkat(folderFd, partial.c_str(), 0);
        fd = ::openat(folderFd, partial.c_str(), flags, 0644);
    }
    if (fd < 0) {
        const int error = errno;
        failures.push_back({name, std::string("cannot create: ") + std::strerror(error)});
        return false;
    }
    if (handOver && ::fchown(fd, ownerUser, ownerGroup) != 0)
        return fail(std::string("cannot hand the file to its owner: ") + std::strerror(errno), fd);

    for (;;) {
        const uint32_t first = file->startSector;
        uint32_t last = first + (kBufferSectors - 1);
        size_t length = size_t(sectorSize) * kBufferSectors;
        const bool final = uint64_t(first) + (kBufferSectors - 1) >= file->lastSector;
        if (final) {
            last = file->lastSector;
            length = size_t(file->lastSector - first) * sectorSize + file->endOffset + 1;
        }
        if (!access->readSectors(first, last, buffer))
            return fail("cannot read sectors " + std::to_string(first) + " to " +
                            std::to_string(last) + " from the source",
                        fd);
        if (!writeAll(fd, buffer, length))
            return fail(std::string("cannot write: ") + std::strerror(errno), fd);
        file->startSector = last + 1;
        if (final)
            break;
    }
    if (::close(fd) != 0)
        return fail(std::string("cannot write: ") + std::strerror(errno), -1);
    if (::renameat(folderFd, partial.c_str(), folderFd, name.c_str()) != 0)
        return fail(std::string("cannot create: ") + std::strerror(errno), -1);
    return true;
}
