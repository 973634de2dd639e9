#include "cli/CTerminalFrontEnd.h"

#include "cli/CExitStatus.h"
#include "scan/CRecoveredFile.h"
#include "scan/CScanner.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<CScanFrontEnd::StopRequest> stopFlag{CScanFrontEnd::StopRequest::Running};
std::atomic<uint32_t> foundFlag{0};

#ifdef _WIN32
// Ctrl-C, Ctrl-Break and a closed console window; the handler runs on a
// thread of its own.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    CTerminalFrontEnd::interrupt();
    return TRUE;
}
#else
void onInterrupt(int) {
    CTerminalFrontEnd::interrupt();
}
#endif

} // namespace

void CTerminalFrontEnd::interrupt() {
    static const char stopping[] =
        "\nvallora-recover: stopping the sweep; the images found so far will be written "
        "(Ctrl-C again abandons)\n";
    static const char abandoning[] = "\nvallora-recover: abandoning the scan; nothing more is "
                                     "written (Ctrl-C again ends at once)\n";
    static const char ending[] = "\nvallora-recover: ending at once\n";
    const CScanFrontEnd::StopRequest now = stopFlag.load();
    if (now == CScanFrontEnd::StopRequest::Running && foundFlag.load() > 0) {
        stopFlag.store(CScanFrontEnd::StopRequest::StopAndWrite);
        ssize_t ignored = ::write(STDERR_FILENO, stopping, sizeof stopping - 1);
        (void)ignored;
    } else if (now != CScanFrontEnd::StopRequest::Abandon) {
        stopFlag.store(CScanFrontEnd::StopRequest::Abandon);
        ssize_t ignored = ::write(STDERR_FILENO, abandoning, sizeof abandoning - 1);
        (void)ignored;
    } else {
        // Abandoning waits for the read in progress, which a failing device
        // may hold for minutes: a third request ends the program now,
        // leaving no half-written file behind.
        CRecoveredFile::removeInProgress();
        ssize_t ignored = ::write(STDERR_FILENO, ending, sizeof ending - 1);
        (void)ignored;
        ::_exit(kExitAbandoned);
    }
}

CTerminalFrontEnd::CTerminalFrontEnd(std::string outputDir, uint32_t clusterSize,
                                     uint32_t sectorSize, bool showProgress)
    : folder(std::move(outputDir)), clusterSize(clusterSize),
      sectorsPerCluster(sectorSize ? clusterSize / sectorSize : 0), progress(showProgress) {
    meter.start(0);
}

void CTerminalFrontEnd::installInterruptHandler() {
#ifdef _WIN32
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A terminal closed (SIGHUP) or a polite kill (SIGTERM) is a Ctrl-C:
    // what was found is written.
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    // A closed standard output (a pipe to a pager that quit) must not kill a
    // recovery: writes to it fail and are let go.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void CTerminalFrontEnd::showLabelText(int controlId, const std::string& text) {
    if (writing && controlId == kPercentLabel) {
        writePercent = text;
        drawProgress(false);
    }
}

void CTerminalFrontEnd::writingStarted() {
    writing = true;
    drawProgress(true);
}

void CTerminalFrontEnd::setProgressRange(uint64_t maximum) {
    range = maximum;
    meter.start(maximum * clusterSize);
}

void CTerminalFrontEnd::setProgressPos(uint64_t pos) {
    position = pos;
    meter.update(pos * clusterSize);
    drawProgress(false);
}

CScanFrontEnd::StopRequest CTerminalFrontEnd::stopRequest() {
    return stopFlag.load();
}

void CTerminalFrontEnd::publishFoundCount(uint32_t count) {
    found = count;
    foundFlag.store(count);
    drawProgress(false);
}

void CTerminalFrontEnd::drawProgress(bool force) {
    if (!progress)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDrawn < std::chrono::milliseconds(250))
        return;
    lastDrawn = now;
    char line[200];
    if (writing) {
        std::snprintf(line, sizeof line, "\rWriting %u images: %s", found,
                      writePercent.empty() ? "0%" : writePercent.c_str());
    } else {
        const CProgressMeter::tagReading r = meter.reading(now);
        const double share = range ? r.share : 1.0;
        const std::string eta =
            r.secondsLeftKnown ? CProgressMeter::durationText(r.secondsLeft) : std::string("--:--");
        std::snprintf(line, sizeof line,
                      "\r%6.2f%%  %llu of %llu sectors swept  %u images found  %s MB/s  "
                      "ETA %s",
                      share * 100, static_cast<unsigned long long>(position) * sectorsPerCluster,
                      static_cast<unsigned long long>(range) * sectorsPerCluster, found,
                      CProgressMeter::megabytesPerSecondText(r.bytesPerSecond).c_str(),
                      eta.c_str());
    }
    std::fprintf(stderr, "%s\033[K", line);
    std::fflush(stderr);
    lineShown = true;
}

void CTerminalFrontEnd::clearLine() {
    if (lineShown) {
        std::fprintf(stderr, "\r\033[K");
        lineShown = false;
    }
}

void CTerminalFrontEnd::showSummary(const std::string& text, const std::string& caption) {
    clearLine();
    if (scannerShown) {
        for (const auto& failure : scannerShown->writeFailures())
            std::fprintf(stderr, "vallora-recover: %s/%s not written: %s\n", folder.c_str(),
                         failure.fileName.c_str(), failure.reason.c_str());
    }
    std::printf("%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stdout);
}
