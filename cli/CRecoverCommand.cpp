#include "cli/CRecoverCommand.h"

#include "cli/CCliOptions.h"
#include "cli/CExitStatus.h"
#include "cli/CTerminalFrontEnd.h"
#include "platform/CFileDevice.h"
#include "platform/CFolderDescriptor.h"
#include "platform/COutputFolder.h"
#include "scan/CResumeFile.h"
#include "scan/CScanner.h"
#include "volume/COpenFailureText.h"
#include "volume/CSweepWarnings.h"
#include "volume/CVolumeAccess.h"
#include "volume/CVolumeOpenError.h"
#include "volume/CVolumeOpener.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "vallora-recover: %s\n", message.c_str());
    return status;
}

// The unreadable sector ranges, a few on one line.
void reportUnreadableRanges(const CScanner& scanner) {
    constexpr size_t kShown = 8;
    const auto& ranges = scanner.unreadableRanges();
    if (ranges.empty())
        return;
    std::string line = "vallora-recover: unreadable sectors:";
    for (size_t i = 0; i < ranges.size() && i < kShown; ++i)
        line += (i ? ", " : " ") + std::to_string(ranges[i].first) +
                (ranges[i].second != ranges[i].first ? "-" + std::to_string(ranges[i].second)
                                                     : std::string());
    if (ranges.size() > kShown)
        line += " and " + std::to_string(ranges.size() - kShown) + " more ranges";
    std::fprintf(stderr, "%s\n", line.c_str());
}

// --resume: the interrupted sweep's options and source, from the resume
// file in the output folder. kExitCompleted when it was read.
int loadResumeFile(CCliOptions& options, tagResumeState& state) {
    std::string error;
    const int folderFd = CFolderDescriptor::open(options.outputDir, error);
    if (folderFd < 0)
        return fail(kExitOutputRefused, options.outputDir + ": " + error);
    const CResumeFile::ReadResult result = CResumeFile::read(folderFd, state, error);
    CFolderDescriptor::close(folderFd);
    const std::string file = options.outputDir + "/" + CResumeFile::kFileName;
    if (result == CResumeFile::ReadResult::Missing)
        return fail(kExitOutputRefused, options.outputDir +
                                            " holds no interrupted sweep to resume (no " + file +
                                            "; a thorough sweep keeps none)");
    if (result == CResumeFile::ReadResult::Damaged)
        return fail(kExitOutputRefused, "cannot resume from " + file + ": " + error);
    if (options.source.empty())
        options.source = state.sourcePath;
    options.fileSystem = state.fileSystemChoice;
    options.sectorSize = state.imageSectorSize;
    options.report = state.report && VALLORA_WITH_REPORT;
    options.photoDates = state.photoDates;
    options.forceOutput = options.forceOutput || state.forceOutput;
    return kExitCompleted;
}

// Whether the output folder's resume file belongs to this source: a resumed
// sweep needs it to; a new one only says that it starts over.
int checkResumeFile(const CCliOptions& options, const COutputFolder& folder, CDevice& device) {
    const CResumeFile::tagCheck check = CResumeFile::inspect(folder.descriptor(), device);
    const std::string file = options.outputDir + "/" + CResumeFile::kFileName;
    if (!options.resume) {
        if (check.verdict == CResumeFile::Verdict::ThisSource) {
            char swept[32];
            std::snprintf(swept, sizeof swept, "%.2f%%", CResumeFile::sweptPercent(check.state));
            std::fprintf(stderr,
                         "vallora-recover: %s holds an interrupted sweep of %s (%s swept); this "
                         "sweep starts from the beginning ('vallora-recover --resume %s' takes "
                         "that one up)\n",
                         options.outputDir.c_str(), options.source.c_str(), swept,
                         options.outputDir.c_str());
        }
        return kExitCompleted;
    }
    switch (check.verdict) {
    case CResumeFile::Verdict::ThisSource:
        return kExitCompleted;
    case CResumeFile::Verdict::OtherSource:
        return fail(kExitSourceError, options.source +
                                          " is not the source of the interrupted sweep in " +
                                          options.outputDir + ": " + check.reason +
                                          " (vallora-recover --resume SOURCE OUTPUT_DIR names it)");
    case CResumeFile::Verdict::Damaged:
        return fail(kExitOutputRefused, "cannot resume from " + file + ": " + check.reason);
    case CResumeFile::Verdict::None:
        break;
    }
    return fail(kExitOutputRefused, file + " went away");
}

// The default mode keeps a resume file in the output folder while it
// sweeps (not on Windows, and not the thorough mode).
void keepResumeFile(const CCliOptions& options, CDevice& device, CScanner& scanner) {
#ifndef _WIN32
    if (options.thorough)
        return;
    tagResumeState base;
    std::error_code ignored;
    // Named as given, made absolute: the sweep may be taken up from elsewhere.
    base.sourcePath = std::filesystem::absolute(options.source, ignored).string();
    if (base.sourcePath.empty())
        base.sourcePath = options.source;
    if (!CSourceIdentity::of(device, base.source)) {
        std::fprintf(stderr,
                     "vallora-recover: warning: the start of %s cannot be read; this "
                     "sweep cannot be resumed\n",
                     options.source.c_str());
        return;
    }
    base.fileSystemChoice = options.fileSystem;
    base.imageSectorSize = options.sectorSize;
    base.report = options.report;
    base.photoDates = options.photoDates;
    base.forceOutput = options.forceOutput;
    scanner.keepResumeFile(base);
#else
    (void)options;
    (void)device;
    (void)scanner;
#endif
}

} // namespace

int CRecoverCommand::run(int argc, char** argv) {
    CCliOptions options;
    std::string error;
    if (!options.parse(argc, argv, error))
        return fail(kExitUsage, error + " (try 'vallora-recover --help')");
    if (options.showHelp) {
        std::fputs(CCliOptions::helpText().c_str(), stdout);
        return kExitCompleted;
    }
    if (options.showVersion) {
        std::printf("vallora-recover %s\n", VALLORA_VERSION);
        return kExitCompleted;
    }

    tagResumeState resumeState;
    if (options.resume) {
        const int status = loadResumeFile(options, resumeState);
        if (status != kExitCompleted)
            return status;
    }

    std::shared_ptr<CFileDevice> device;
    try {
        device = CVolumeAccess::openVolumeDevice(options.source, options.sectorSize);
    } catch (const CVolumeOpenError& e) {
        return fail(kExitSourceError, COpenFailureText::cannotOpen(e.reason()));
    }
    tagScannedSource scanned;
    if (!tagScannedSource::ofDevice(*device, scanned))
        return fail(kExitSourceError, "cannot examine the source " + options.source);
    const COutputFolder folder(options.outputDir, scanned);
    if (!folder.usable(options.forceOutput))
        return fail(kExitOutputRefused,
                    folder.reason() + (folder.verdict() == COutputFolder::Verdict::Undetermined
                                           ? " (--force-output writes there anyway)"
                                           : ""));
    if (folder.verdict() == COutputFolder::Verdict::Undetermined)
        std::fprintf(stderr,
                     "vallora-recover: warning: %s; writing there anyway (--force-output)\n",
                     folder.reason().c_str());

    if (const int status = checkResumeFile(options, folder, *device); status != kExitCompleted)
        return status;

    const std::string fileSystem = CVolumeOpener::detect(*device);
    const CVolumeOpener::Kind kind = CVolumeOpener::resolve(options.fileSystem, fileSystem);
    std::unique_ptr<CVolumeAccess> access;
    try {
        access = CVolumeOpener::build(kind, device);
    } catch (const CVolumeOpenError& e) {
        const bool raw = kind == CVolumeOpener::Kind::Raw;
        return fail(kExitSourceError,
                    COpenFailureText::cannotRead(options.source, kind, e.reason()) +
                        (raw ? "" : " (--fs raw sweeps every sector)"));
    }
    std::string misfit;
    if (options.resume && !CResumeFile::fitsVolume(resumeState, *access, misfit))
        return fail(kExitOutputRefused, "cannot resume from " + options.outputDir + "/" +
                                            CResumeFile::kFileName + ": " + misfit);
    const tagVolumeGeometry geometry = CVolumeOpener::geometry(kind, *access);
    std::fprintf(stderr, "Sweeping %s\n%s", options.source.c_str(),
                 CVolumeOpener::describe(fileSystem, options.fileSystem, kind, geometry).c_str());
    // The access's own warning is in the description above.
    const std::string fallback = CSweepWarnings::rawFallback(*device, options.fileSystem, kind);
    if (!fallback.empty())
        std::fprintf(stderr, "vallora-recover: warning: %s\n", fallback.c_str());

    CTerminalFrontEnd frontEnd(options.outputDir, access->getClusterSize(), access->getSectorSize(),
                               !options.quiet && ::isatty(STDERR_FILENO));
    CTerminalFrontEnd::installInterruptHandler();
    CScanner scanner(access.get());
    scanner.setOutputDescriptor(folder.descriptor());
    frontEnd.attach(&scanner);
    scanner.handFilesToInvokingUser();
    if (options.thorough)
        scanner.setThorough(options.keepPartial);
#if VALLORA_WITH_REPORT
    if (options.report)
        scanner.setReport(CDfxmlReport::describeSource("vallora-recover", *device, fileSystem,
                                                       options.fileSystem, kind));
#endif
    scanner.setPhotoDates(options.photoDates);
    keepResumeFile(options, *device, scanner);
    if (options.resume) {
        scanner.resumeFrom(resumeState);
        std::fprintf(stderr,
                     "Resuming the sweep at sector %llu (%.2f%% swept, %zu images found "
                     "and not written yet)\n",
                     static_cast<unsigned long long>(resumeState.nextSector),
                     CResumeFile::sweptPercent(resumeState), resumeState.pending.size());
    }
    const CScanner::Outcome outcome = scanner.run(&frontEnd);
    if (!scanner.resumeFailure().empty())
        std::fprintf(stderr, "vallora-recover: warning: %s; this sweep cannot be resumed\n",
                     scanner.resumeFailure().c_str());
    else if (scanner.resumeFileLeft())
        std::fprintf(stderr,
                     "The sweep can be taken up where it stopped: vallora-recover --resume %s\n",
                     options.outputDir.c_str());
    else if (options.thorough && outcome == CScanner::Outcome::Stopped && !scanner.sweptWhole())
        std::fprintf(stderr, "A thorough sweep cannot be taken up where it stopped (--resume "
                             "continues sweeps of the default mode only).\n");

    if (scanner.unreadableSectors() > 0)
        std::fprintf(stderr, "vallora-recover: %llu sectors could not be read and were skipped\n",
                     static_cast<unsigned long long>(scanner.unreadableSectors()));
    reportUnreadableRanges(scanner);
    if (scanner.sourceDead())
        std::fprintf(stderr,
                     "vallora-recover: every read of %s failed over %llu MiB (a dead card or a "
                     "failing reader?); the sweep ended early\n",
                     options.source.c_str(),
                     static_cast<unsigned long long>(CScanner::kDeadStretchBytes >> 20));
    else if (scanner.sourceLost())
        std::fprintf(stderr,
                     "vallora-recover: %s went away during the sweep (unplugged?); the "
                     "sweep ended early\n",
                     options.source.c_str());
    if (outcome == CScanner::Outcome::Abandoned) {
        std::fprintf(stderr, "Scan abandoned: nothing was written.\n");
        return kExitAbandoned;
    }
    if (scanner.abandonedWhileWriting()) {
        std::fprintf(stderr,
                     "Scan abandoned while writing: %u of %u images were written into %s; the "
                     "file in progress, if any, was removed.\n",
                     scanner.filesWritten(), scanner.filesFound(), options.outputDir.c_str());
        return kExitAbandoned;
    }
    for (const auto& file : scanner.renamedFiles())
        std::fprintf(stderr, "vallora-recover: %s/%s was taken by another file; saved as %s\n",
                     options.outputDir.c_str(), file.fileName.c_str(), file.savedName.c_str());
    if (!scanner.reportFailure().empty())
        std::fprintf(stderr, "vallora-recover: %s not written: %s\n", CDfxmlReport::kFileName,
                     scanner.reportFailure().c_str());
    else if (!scanner.reportName().empty() && scanner.reportName() != CDfxmlReport::kFileName)
        std::fprintf(stderr, "vallora-recover: %s/%s is kept; this run's report is %s\n",
                     options.outputDir.c_str(), CDfxmlReport::kFileName,
                     scanner.reportName().c_str());
    const size_t failed = scanner.writeFailures().size();
    const uint32_t before = scanner.filesWrittenBefore();
    std::fprintf(stderr, "Recovered %u of %u images into %s", scanner.filesWritten() + before,
                 scanner.filesFound() + before, options.outputDir.c_str());
    if (!scanner.renamedFiles().empty())
        std::fprintf(stderr, "; %zu under a new name (no file is replaced)",
                     scanner.renamedFiles().size());
    if (scanner.identicalFiles() > 0)
        std::fprintf(stderr, "; %u were there already with the same bytes and not written again",
                     scanner.identicalFiles());
    if (failed)
        std::fprintf(stderr, "; %zu could not be written (listed above)", failed);
    std::fprintf(stderr, ".\n");
    if (options.thorough && scanner.duplicatesSkipped() > 0)
        std::fprintf(stderr, "%u photos equal to one already recovered were not written again.\n",
                     scanner.duplicatesSkipped());
    if (options.keepPartial && scanner.partialFilesWritten() > 0)
        std::fprintf(stderr, "%u partial images written into %s/%s.\n",
                     scanner.partialFilesWritten(), options.outputDir.c_str(),
                     CScanner::kPartialFolder);
    if (scanner.sourceLost())
        return kExitSourceError;
    // Any found image missing from the folder is a failure, stopped or not.
    if (failed || scanner.filesWritten() < scanner.filesFound() || !scanner.reportFailure().empty())
        return kExitWriteFailures;
    if (outcome == CScanner::Outcome::Stopped)
        return kExitStopped;
    return kExitCompleted;
}
