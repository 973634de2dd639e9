#pragma once

#include "scan/CProgressMeter.h"
#include "scan/CScanFrontEnd.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CDevice;
class COutputFolder;
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
// the worker never waits for the screen; only the summary and the questions
// hold the worker until the user has answered.
class CScanDig : public QDialog, public CScanFrontEnd {
    Q_OBJECT
public:
    // Opens the source read-only; throws CDeviceOpenError. stop is set when
    // the scan is abandoned meanwhile (a password prompt then ends).
    using OpenFunction = std::function<std::shared_ptr<CDevice>(const tagScanSource& source,
                                                                const std::atomic<bool>& stop)>;

    CScanDig(CValloraDlg* mainDialog, tagScanSource source, std::string outputFolder,
             CUserPrompts* prompts, std::shared_future<void> previousWorker = {},
             OpenFunction opener = {});
    ~CScanDig() override;

    // The checked output folder; the recovered files are written through it.
    void setOutputFolder(std::shared_ptr<const COutputFolder> checked) {
        checkedFolder = std::move(checked);
    }
    const COutputFolder* outputFolderChecked() const { return checkedFolder.get(); }
    // The carving mode the main dialog's check boxes chose.
    void setThorough(bool thorough, bool keepPartialFiles) {
        thoroughMode = thorough;
        keepPartial = keepPartialFiles;
    }
    bool thoroughChosen() const { return thoroughMode; }
    bool keepPartialChosen() const { return keepPartial; }

    // The opener the program uses: udisks2 or pkexec where rights are missing.
    static OpenFunction defaultOpener();

    // Window initialisation: stop request 0, the worker started.
    void OnInitDialog();
    // The worker's end, for the scan that follows to wait on.
    std::shared_future<void> workerDone() const { return done; }
    bool workerFinished() const { return finished; }
    // The main dialog has replaced this scan: nothing more reaches the
    // screen, a waiting worker is let go, and the object deletes itself
    // once its worker has ended.
    void retire();

    // From the worker's thread: the caption; the size of a cluster, so that
    // the progress can be told in bytes.
    void setCaption(const std::string& text);
    void setClusterSize(uint32_t bytes);
    // From the worker's thread: the scan cannot start. A box says why, then
    // the main dialog comes back.
    void showFailure(const QString& lead, const std::string& reason);
    // From the worker's thread: the chosen file system cannot be read; asks
    // whether to sweep every sector instead. Waits for the answer; after No
    // the main dialog is back.
    bool offerRawSweep(const QString& lead, const std::string& reason);
    // From the worker's thread: what the person should know before this
    // sweep (a fallback to sweeping every sector, geometry that does not fit
    // the volume); asks whether to start anyway. After No the main dialog is
    // back.
    bool confirmSweepWarnings(const std::vector<std::string>& warnings);
    // From the worker's thread: the output folder holds an interrupted sweep
    // of this source, percent swept, pending images found and not written,
    // written images written; asks whether to take it up. True for Yes;
    // after No a new sweep starts from the beginning.
    bool offerResume(double percent, uint32_t pending, uint32_t written);
    // Set when the scan is abandoned: ends a password prompt in progress.
    const std::atomic<bool>& abandonFlag() const { return abandoned; }
    const tagScanSource& source() const { return scanSource; }
    const OpenFunction& opener() const { return openSource; }
    // True while the stop question is open: the sweep waits before its next run.
    bool sweepPaused() const { return paused.load(); }

    // CScanFrontEnd, called on the worker's thread.
    void showLabelText(int controlId, const std::string& text) override;
    void setProgressRange(uint64_t maximum) override;
    void setProgressPos(uint64_t position) override;
    // Waits while the stop question is open.
    StopRequest stopRequest() override;
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
    // Escape: asks as Cancel does while a scan runs.
    void reject() override;

protected:
    // The close box: asks as Cancel does while a scan runs.
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onWorkerFinished();
    void flushPending();
    void applyPending();
    void showDetails();

private:
    // Asks a Yes/No question before the sweep; No abandons the scan and
    // brings the main dialog back. True to go on.
    bool askToGoOn(const QString& text, const QString& caption);
    // A Yes/No question before the sweep, held until answered; with
    // noAbandons No abandons the scan. True for Yes.
    bool askBeforeTheSweep(const QString& text, const QString& caption, bool noAbandons);
    bool scanRunning() const;
    void abandon();
    void pauseSweep(bool pause);
    void post(std::function<void()> call);
    // Runs call on the UI thread and waits until it has run (or the scan
    // was replaced, when it is skipped).
    void runAndWait(std::function<void()> call);
    void releaseWaits();
    void queueFlush();
    void deleteWhenIdle();

    std::unique_ptr<Ui::CScanDig> ui;
    CValloraDlg* mainDialog;
    tagScanSource scanSource;
    std::string folder;
    CUserPrompts* prompts;
    OpenFunction openSource;
    std::shared_ptr<const COutputFolder> checkedFolder;
    bool thoroughMode = false;
    bool keepPartial = false;
    std::shared_future<void> previous;
    std::promise<void> donePromise;
    std::shared_future<void> done;
    std::unique_ptr<CScanWorker> workerThread;

    std::atomic<StopRequest> stopValue{StopRequest::Running};
    std::atomic<bool> abandoned{false};
    std::atomic<bool> retired{false};
    bool finished = false;
    bool endRequested = false;
    bool deletePending = false;
    bool scanOver = false; // summary shown, or the scan failed: closing just closes
    int openBoxes = 0;

    // The stop question's pause.
    std::atomic<bool> paused{false};
    std::mutex pauseLock;
    std::condition_variable pauseWake;

    // Latest texts and progress not yet shown, under pendingLock.
    std::mutex pendingLock;
    std::map<int, std::string> pendingTexts;
    std::optional<std::string> pendingCaption;
    std::optional<uint64_t> pendingRange;
    std::optional<uint64_t> pendingPos;
    std::atomic<bool> flushQueued{false};
    // The sweep's size, pace and time, under pendingLock.
    CProgressMeter meter;
    uint32_t clusterBytes = 0;
    int rangesSeen = 0; // the first range is the sweep's, the next the writing's
    // The screen is brought up to date at most every kFlushIntervalMs.
    static constexpr int kFlushIntervalMs = 40;
    QElapsedTimer lastFlush;
    QTimer flushTimer;
    QTimer detailsTimer;   // the time shown moves on between progress reports
    int progressShift = 0; // the bar holds int: large counts are scaled down

    // Boxes the worker waits on.
    struct tagWait {
        std::mutex lock;
        std::condition_variable wake;
        bool done = false;
    };
    std::shared_ptr<tagWait> currentWait;
    std::mutex waitLock;
    bool waitsReleased = false;

    std::map<int, QLabel*> labels;
};
