#include "cli/CRecoverCommand.h"

#include "cli/CCliOptions.h"
#include "cli/CExitStatus.h"
#include "cli/CTerminalFrontEnd.h"
#include "platform/CFileDevice.h"
#include "platform/COutputFolder.h"
#include "scan/CScanner.h"
#include "volume/COpenFailureText.h"
#include "volume/CSweepWarnings.h"
#include "volume/CVolumeAccess.h"
#include "volume/CVolumeOpenError.h"
#include "volume/CVolumeOpener.h"

#include <cstdio>
#include <cstdlib>
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
    const CScanner::Outcome outcome = scanner.run(&frontEnd);

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
    std::fprintf(stderr, "Recovered %u of %u images into %s", scanner.filesWritten(),
                 scanner.filesFound(), options.outputDir.c_str());
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
