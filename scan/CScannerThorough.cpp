// The thorough mode's part of the scanner: taking over the photos the
// decoding proved, and writing the partial files into their own folder.
#include "scan/CScanFrontEnd.h"
#include "scan/CScanner.h"
#include "scan/CThoroughCarver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void CScanner::finishThoroughSweep() {
    carver->finish();
    for (auto& photo : carver->photos)
        tracker->foundFiles.push_back(std::move(photo));
    partialFiles = std::move(carver->partials);
    duplicateCount = carver->duplicates;
    carver.reset();
}

void CScanner::writePartialFiles() {
    partialsWritten = 0;
    if (partialFiles.empty())
        return;
    const std::string folder = scanDialog->outputFolder();
    const std::string shown = std::string(kPartialFolder) + "/";
    auto failAll = [&](const std::string& reason) {
        for (const auto& file : partialFiles)
            failures.push_back({shown + file->fileName(), reason});
        partialFiles.clear();
    };
    // The output folder as the front end opened it, else by its name.
    const int parentFd =
        outputFd >= 0 ? outputFd : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return failAll(folder + ": " + std::strerror(errno));
    // The folder is made when missing; a link planted in its place is not followed.
    int error = 0;
    if (::mkdirat(parentFd, kPartialFolder, 0755) != 0 && errno != EEXIST)
        error = errno;
    const int folderFd =
        error ? -1
              : ::openat(parentFd, kPartialFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0 && !error)
        error = errno;
    if (parentFd != outputFd)
        ::close(parentFd);
    if (folderFd < 0)
        return failAll(std::string("cannot use the folder: ") + std::strerror(error));

    for (auto& file : partialFiles) {
        if (scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Abandon)
            break;
        const size_t failed = failures.size(), renamedBefore = renamed.size();
        const size_t logged = log.files().size();
        if (writeFoundFile(file.get(), folderFd))
            ++partialsWritten;
        log.prefixNames(logged, shown);
        for (size_t k = failed; k < failures.size(); ++k)
            failures[k].fileName = shown + failures[k].fileName;
        for (size_t k = renamedBefore; k < renamed.size(); ++k) {
            renamed[k].fileName = shown + renamed[k].fileName;
            renamed[k].savedName = shown + renamed[k].savedName;
        }
    }
    ::close(folderFd);
    partialFiles.clear();
}

std::string CScanner::thoroughSummary() const {
    std::string text;
    char part[96];
    if (duplicateCount > 0) {
        std::snprintf(part, sizeof part, ",跳过%u个重复文件", duplicateCount);
        text += part;
    }
    if (partialsWritten > 0) {
        std::snprintf(part, sizeof part, ",%u个不完整文件存入%s文件夹", partialsWritten,
                      kPartialFolder);
        text += part;
    }
    return text;
}
