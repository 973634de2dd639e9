#pragma once

#include "scan/CProgressMeter.h"
#include "scan/CScanFrontEnd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

class CScanner;

// The scan engine's user in a terminal: progress on standard error when it
// is a terminal, the summary on standard output, Ctrl-C as the Cancel button.
class CTerminalFrontEnd : public CScanFrontEnd {
public:
    CTerminalFrontEnd(std::string outputDir, uint32_t clusterSize, uint32_t sectorSize,
                      bool showProgress);

    // Ctrl-C, SIGTERM and SIGHUP: the first stops the sweep and writes what
    // was found (abandons when nothing was found yet), the second abandons
    // (the file being written is removed), the third ends the program at
    // once. SIGPIPE is ignored.
    static void installInterruptHandler();
    // What one Ctrl-C does; the signal handler calls it.
    static void interrupt();
    // The scanner whose write failures the summary lists.
    void attach(const CScanner* scanner) { scannerShown = scanner; }

    void showLabelText(int controlId, const std::string& text) override;
    void setProgressRange(uint64_t maximum) override;
    void setProgressPos(uint64_t position) override;
    StopRequest stopRequest() override;
    void writingStarted() override;
    void publishFoundCount(uint32_t count) override;
    void showSummary(const std::string& text, const std::string& caption) override;
    void showMainDialog() override {}
    std::string outputFolder() override { return folder; }
    void openOutputFolder() override {}
    void closeScanDialog() override {}
    void endProgram() override { ended = true; }

    bool programEnded() const { return ended; }

private:
    void drawProgress(bool force);
    void clearLine();

    std::string folder;
    uint32_t clusterSize;
    uint32_t sectorsPerCluster;
    bool progress;
    bool writing = false;
    bool lineShown = false;
    bool ended = false;
    uint64_t range = 0;
    uint64_t position = 0;
    uint32_t found = 0;
    std::string writePercent;
    CProgressMeter meter;
    std::chrono::steady_clock::time_point lastDrawn;
    const CScanner* scannerShown = nullptr;
};
