// The recovery writer: after the sweep every found image is read again from
// the volume and written into the output folder as "<first sector + 1982>.jpg".
#include "platform/CFolderDescriptor.h"
#include "platform/CInvokingUser.h"
#include "scan/CPieceReader.h"
#include "scan/CRecoveredFile.h"
#include "scan/CScanFrontEnd.h"
#include "scan/CScanner.h"
#include "volume/CVolumeAccess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

bool CScanner::handFilesToInvokingUser() {
    tagInvokingUser user;
    if (!CInvokingUser::find(user))
        return false;
    setOutputOwner(user.uid, user.gid);
    return true;
}

void CScanner::recoverAll() {
    showText(CScanFrontEnd::kTotalLabel, "搜索完成,文件恢复中...");
    scanDialog->writingStarted();
    const uint32_t total = uint32_t(tracker->foundFiles.size());
    uint32_t handled = 0;
    uint32_t percentSum = 0;
    writtenCount = 0;
    renamed.clear();
    identicalCount = 0;

    int folderFd = outputFd;
    std::string folderError;
    if (total > 0) {
        // The bar follows the writing, as the percentage does.
        scanDialog->setProgressRange(total);
        scanDialog->setProgressPos(0);
    }
    if (total > 0 && folderFd < 0) {
        const std::string folder = scanDialog->outputFolder();
        folderFd = CFolderDescriptor::open(folder, folderError);
        if (folderFd < 0)
            folderError = folder + ": " + folderError;
    }

    // Which images are written, for the resume file (the writer moves a
    // file's start as it goes).
    std::vector<tagResumeFound> entries;
    std::vector<char> done;
    if (resumeKept) {
        for (const auto& file : tracker->foundFiles)
            entries.push_back({file->startSector, file->lastSector, file->endOffset});
        done.assign(entries.size(), 0);
    }

    for (auto& file : tracker->foundFiles) {
        if (scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Abandon)
            break;
        bool written;
        if (folderFd >= 0) {
            written = writeFoundFile(file.get(), folderFd);
        } else {
            failures.push_back({file->fileName(), folderError});
            written = false;
        }
        file.reset();
        ++handled;
        if (written)
            ++writtenCount;
        if (resumeKept) {
            done[handled - 1] = written;
            saveWritingState(entries, done, false);
        }
        // The count shown and reported is what was written completely.
        char text[64];
        std::snprintf(text, sizeof text, "成功恢复%u个文件", writtenCount + writtenBefore);
        showText(CScanFrontEnd::kSweptLabel, text);
        percentSum += 100;
        std::snprintf(text, sizeof text, "%d%%", int(percentSum / total));
        showText(CScanFrontEnd::kPercentLabel, text);
        scanDialog->setProgressPos(handled);
    }
    if (scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Abandon && handled < total)
        writingAbandoned = true;
    if (resumeKept)
        saveWritingState(entries, done, true);
    if (folderFd >= 0 && folderFd != outputFd)
        CFolderDescriptor::close(folderFd);
    fileCount = writtenCount;
    tracker->foundFiles.clear();
}

bool CScanner::writeFoundFile(CBaseFile* file, int folderFd) {
    const std::string name = file->fileName();
    CRecoveredFile out(folderFd, name);
    std::string error;
    auto fail = [&](const std::string& reason) {
        out.discard();
        failures.push_back({name, reason});
        return false;
    };
    if (!out.open(error))
        return fail(error);
    if (handOver && !out.handTo(ownerUser, ownerGroup, error))
        return fail(error);
    log.beginFile();

    if (!file->pieces.empty() && !writePieces(file, out, error)) {
        if (!writingAbandoned)
            return fail(error);
        out.discard();
        return false;
    }
    while (file->pieces.empty()) { // a file in one stretch
        // Abandon stops the file being written, however long it is; what
        // was written of it goes.
        if (scanDialog && scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Abandon) {
            out.discard();
            writingAbandoned = true;
            return false;
        }
        const uint64_t first = file->startSector;
        uint64_t last = first + (bufferSectors - 1);
        size_t length = size_t(sectorSize) * bufferSectors;
        const bool final = first + (bufferSectors - 1) >= file->lastSector;
        if (final) {
            last = file->lastSector;
            length = size_t(file->lastSector - first) * sectorSize + file->endOffset + 1;
        }
        if (!access->readSectors(first, last, buffer))
            return fail("cannot read sectors " + std::to_string(first) + " to " +
                        std::to_string(last) + " from the source");
        if (!out.write(buffer, length, error))
            return fail(error);
        log.addPiece(access->sectorToByteOffset(first), buffer, length);
        file->startSector = last + 1;
        if (final)
            break;
    }
    log.finishFile(out.descriptor());
    CRecoveredFile::Placement placement;
    std::string finalName;
    if (!out.place(placement, finalName, error))
        return fail(error);
    if (placement == CRecoveredFile::Placement::Renamed)
        renamed.push_back({name, finalName});
    else if (placement == CRecoveredFile::Placement::Identical)
        ++identicalCount;
    // A file already there with the same bytes stands for this one, with
    // the date it has.
    log.fileWritten(finalName, placement != CRecoveredFile::Placement::Identical);
    return true;
}

bool CScanner::writePieces(CBaseFile* file, CRecoveredFile& out, std::string& error) {
    uint64_t length = 0;
    for (const tagFilePiece& piece : file->pieces)
        length += piece.length;
    CPieceReader input([this](uint64_t first, uint64_t last,
                              void* into) { return access->readSectors(first, last, into); },
                       sectorSize, size_t(sectorSize) * bufferSectors);
    input.start(file->pieces, length);
    for (;;) {
        // Abandon stops the file being written, however long it is.
        if (scanDialog && scanDialog->stopRequest() == CScanFrontEnd::StopRequest::Abandon) {
            writingAbandoned = true;
            return false;
        }
        const unsigned char* data = nullptr;
        size_t count = 0;
        if (!input.next(data, count)) {
            error =
                "cannot read sectors " + std::to_string(input.lastSector()) + " on from the source";
            return false;
        }
        if (count == 0)
            return true;
        if (!out.write(data, count, error))
            return false;
        log.addPiece(access->sectorToByteOffset(input.lastSector()) + input.lastSkip(), data,
                     count);
    }
}
