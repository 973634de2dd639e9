#pragma once

#include <cstdint>
#include <string>

// What the scan engine needs of its user: the scan dialog and the main
// dialog in the desktop program, the terminal in the command-line program,
// a recorder in the tests. The scanner calls these on its own (worker)
// thread; an implementation that drives windows hands them to its UI thread.
class CScanFrontEnd {
public:
    // Control ids of the scan dialog's labels and progress bar.
    enum : int {
        kProgressBar = 1005,
        kSweptLabel = 1007,   // "已扫描:%u个扇区" / "成功恢复%u个文件"
        kTotalLabel = 1008,   // "总扇区:%u" / "搜索完成,文件恢复中..."
        kPercentLabel = 1012, // "%.2f%%" / "%d%%"
        kFoundLabel = 1013,   // "找到%u个文件"
    };
    // The user's stop request.
    enum class StopRequest : int {
        Running = 0,      // go on
        StopAndWrite = 1, // stop the sweep and write what was found
        Abandon = 2,      // stop and write nothing more
    };

    virtual ~CScanFrontEnd() = default;

    // Shows a UTF-8 text in the label with the given control id.
    virtual void showLabelText(int controlId, const std::string& text) = 0;
    virtual void setProgressRange(uint64_t maximum) = 0;
    virtual void setProgressPos(uint64_t position) = 0;
    virtual StopRequest stopRequest() = 0;
    // The sweep is over and the found files are being written (the total
    // label now says so).
    virtual void writingStarted() {}
    virtual void publishFoundCount(uint32_t count) = 0;
    // Shows the summary and returns once the user has seen it.
    virtual void showSummary(const std::string& text, const std::string& caption) = 0;
    virtual void showMainDialog() = 0;
    // The folder recovered files are written into.
    virtual std::string outputFolder() = 0;
    virtual void openOutputFolder() = 0;
    virtual void closeScanDialog() = 0;
    // The scan is over: the front end ends the program in its own way once
    // the scanner has returned.
    virtual void endProgram() = 0;
};
