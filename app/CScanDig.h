#pragma once

#include "scan/CScanFrontEnd.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class CScanWorker;
class CUserPrompts;
class CValloraDlg;
class QLabel;
namespace Ui {
class CScanDig;
}

// What a scan reads: a block device or a disk image file.
struct tagScanSource {
    std::string path; // empty: nothing was selected
    std::string name; // shown in the caption: "sdb1", "card.img"
    bool imageFile = false;
};

// The progress window of one scan. It runs the scan worker and is the scan
// engine's front end: every call the engine makes on the worker's thread is
// carried out on the UI thread. Label and progress updates are coalesced so
// the worker never waits for the screen; only the summary holds the worker
// until the user has closed it.
class CScanDig : public QDialog, public CScanFrontEnd {
    Q_OBJECT
public:
    CScanDig(CValloraDlg* mainDialog, tagScanSource source, std::string outputFolder,
             CUserPrompts* prompts, std::shared_future<void> previousWorker = {});
    ~CScanDig() override;

    // Window initialisation: topmost, stop request 0, the worker started.
    void OnInitDialog();
    // The worker's end, for the scan that follows to wait on.
    std::shared_future<void> workerDone() const { return done; }
    bool workerFinished() const { return finished; }
    // The main dialog has replaced this scan: nothing more reaches the
    // screen, a waiting worker is let go, and the object deletes itself
    // once its worker has ended.
    void retire();

    // The caption, from the worker's thread.
    void setCaption(const std::string& text);
    // Set when the scan is abandoned: ends a password prompt in progress.
    const std::atomic<bool>& abandonFlag() const { return abandoned; }
    const tagScanSource& source() const { return scanSource; }

    // CScanFrontEnd, called on the worker's thread.
    void showLabelText(int controlId, const std::string& text) override;
    void setProgressRange(uint32_t maximum) override;
    void setProgressPos(uint32_t position) override;
    int stopRequest() override { return stopValue.load(); }
    void publishFoundCount(uint32_t count) override { foundCount.store(count); }
    void showSummary(const std::string& text, const std::string& caption) override;
    void showMainDialog() override;
    std::string outputFolder() override { return folder; }
    void openOutputFolder() override;
    void closeScanDialog() override;
    void endProgram() override;

    std::atomic<uint32_t> foundCount{0};

signals:
    // The scan is over and the program should end (after the summary).
    void programEndRequested();
    void workerEnded();

public slots:
    void OnBnClickedCancel();

private slots:
    void onWorkerFinished();
    void flushPending();
    void applyPending();

private:
    void abandon();
    void post(std::function<void()> call);
    void queueFlush();
    void deleteWhenIdle();

    std::unique_ptr<Ui::CScanDig> ui;
    CValloraDlg* mainDialog;
    tagScanSource scanSource;
    std::string folder;
    CUserPrompts* prompts;
    std::shared_future<void> previous;
    std::promise<void> donePromise;
    std::shared_future<void> done;
    std::unique_ptr<CScanWorker> workerThread;

    std::atomic<int> stopValue{0};
    std::atomic<bool> abandoned{false};
    std::atomic<bool> retired{false};
    time_t scanStart = 0;
    bool finished = false;
    bool endRequested = false;
    bool deletePending = false;
    int openBoxes = 0;

    // Latest texts and progress not yet shown, under pendingLock.
    std::mutex pendingLock;
    std::map<int, std::string> pendingTexts;
    std::optional<std::string> pendingCaption;
    std::optional<uint32_t> pendingRange;
    std::optional<uint32_t> pendingPos;
    std::atomic<bool> flushQueued{false};
    // The screen is brought up to date at most every kFlushIntervalMs.
    static constexpr int kFlushIntervalMs = 40;
    QElapsedTimer lastFlush;
    QTimer flushTimer;
    int progressShift = 0; // the bar holds int: large counts are scaled down

    // The summary box the worker waits on.
    struct tagWait {
        std::mutex lock;
        std::condition_variable wake;
        bool done = false;
    };
    std::shared_ptr<tagWait> summaryWait;
    std::mutex waitLock;
    bool waitsReleased = false;

    std::map<int, QLabel*> labels;
};
