#include "app/CScanDig.h"

#include "app/CEngineText.h"
#include "app/CScanWorker.h"
#include "app/CUserPrompts.h"
#include "app/CValloraDlg.h"
#include "platform/CFileDevice.h"
#include "privilege/CDeviceOpener.h"
#include "ui_CScanDig.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>

#include <climits>

namespace {

const int kDetailsIntervalMs = 1000;

} // namespace

CScanDig::CScanDig(CValloraDlg* mainDialog, tagScanSource source, std::string outputFolder,
                   CUserPrompts* prompts, std::shared_future<void> previousWorker,
                   OpenFunction opener)
    : QDialog(mainDialog), ui(std::make_unique<Ui::CScanDig>()), mainDialog(mainDialog),
      scanSource(std::move(source)), folder(std::move(outputFolder)), prompts(prompts),
      openSource(opener ? std::move(opener) : defaultOpener()), previous(std::move(previousWorker)),
      done(donePromise.get_future().share()) {
    ui->setupUi(this);
    // A window of its own with a taskbar entry, not kept above the others.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setMinimumSize(minimumSizeHint());
    labels = {{kSweptLabel, ui->sweptLabel},
              {kTotalLabel, ui->totalLabel},
              {kPercentLabel, ui->percentLabel},
              {kFoundLabel, ui->foundLabel}};
    connect(ui->cancelButton, &QPushButton::clicked, this, &CScanDig::OnBnClickedCancel);
    flushTimer.setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, &CScanDig::applyPending);
    detailsTimer.setInterval(kDetailsIntervalMs);
    connect(&detailsTimer, &QTimer::timeout, this, &CScanDig::showDetails);
}

CScanDig::~CScanDig() {
    // The worker holds this dialog until it ends.
    stopValue.store(StopRequest::Abandon);
    abandoned.store(true);
    retired.store(true);
    pauseSweep(false);
    releaseWaits();
    if (workerThread)
        workerThread->wait();
    else
        donePromise.set_value(); // never started: nobody need wait for it
}

CScanDig::OpenFunction CScanDig::defaultOpener() {
    return
        [](const tagScanSource& source, const std::atomic<bool>& stop) -> std::shared_ptr<CDevice> {
            return CDeviceOpener::open(source.path, source.imageFile, stop);
        };
}

void CScanDig::OnInitDialog() {
    stopValue.store(StopRequest::Running);
    workerThread = std::make_unique<CScanWorker>(this, previous, &donePromise);
    connect(workerThread.get(), &QThread::finished, this, &CScanDig::onWorkerFinished);
    workerThread->start();
}

void CScanDig::retire() {
    retired.store(true);
    stopValue.store(StopRequest::Abandon);
    abandoned.store(true);
    pauseSweep(false);
    releaseWaits();
    hide();
    deletePending = true;
    deleteWhenIdle();
}

void CScanDig::releaseWaits() {
    std::shared_ptr<tagWait> wait;
    {
        std::lock_guard<std::mutex> guard(waitLock);
        waitsReleased = true;
        wait = currentWait;
    }
    if (wait) {
        std::lock_guard<std::mutex> waitGuard(wait->lock);
        wait->done = true;
        wait->wake.notify_all();
    }
}

void CScanDig::deleteWhenIdle() {
    if (deletePending && (finished || !workerThread) && openBoxes == 0) {
        deletePending = false;
        deleteLater();
    }
}

void CScanDig::onWorkerFinished() {
    finished = true;
    detailsTimer.stop();
    emit workerEnded();
    if (endRequested && !retired.load())
        emit programEndRequested();
    deleteWhenIdle();
}

bool CScanDig::scanRunning() const {
    return workerThread && !finished && !scanOver && stopValue.load() != StopRequest::Abandon;
}

CScanFrontEnd::StopRequest CScanDig::stopRequest() {
    if (paused.load()) {
        std::unique_lock<std::mutex> lock(pauseLock);
        pauseWake.wait(
            lock, [this] { return !paused.load() || stopValue.load() == StopRequest::Abandon; });
    }
    return stopValue.load();
}

void CScanDig::pauseSweep(bool pause) {
    {
        std::lock_guard<std::mutex> guard(pauseLock);
        paused.store(pause);
    }
    if (!pause)
        pauseWake.notify_all();
}

void CScanDig::OnBnClickedCancel() {
    if (foundCount.load() == 0 || stopValue.load() != StopRequest::Running) {
        abandon();
        return;
    }
    // The sweep waits while the question is open: No must not throw away
    // photos found after it was asked, and going on keeps them all.
    pauseSweep(true);
    ++openBoxes;
    const CUserPrompts::Answer answer =
        prompts->stopQuestion(this, tr("取消扫描以后,恢复已经扫描到的文件"), tr("提示"));
    --openBoxes;
    if (answer == CUserPrompts::Answer::Yes && stopValue.load() == StopRequest::Running)
        stopValue.store(StopRequest::StopAndWrite);
    else if (answer == CUserPrompts::Answer::No)
        abandon();
    pauseSweep(false);
    deleteWhenIdle();
}

void CScanDig::reject() {
    if (scanRunning())
        OnBnClickedCancel();
    else
        QDialog::reject();
}

void CScanDig::closeEvent(QCloseEvent* event) {
    if (scanRunning() && isVisible()) {
        event->ignore();
        OnBnClickedCancel();
        return;
    }
    QDialog::closeEvent(event);
}

void CScanDig::abandon() {
    stopValue.store(StopRequest::Abandon);
    abandoned.store(true);
    pauseSweep(false);
    detailsTimer.stop();
    if (mainDialog)
        mainDialog->showNormal();
    QDialog::reject(); // hides the dialog; the object stays until the next scan
}

void CScanDig::post(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CScanDig::runAndWait(std::function<void()> call) {
    auto wait = std::make_shared<tagWait>();
    {
        std::lock_guard<std::mutex> guard(waitLock);
        if (waitsReleased)
            return;
        currentWait = wait;
    }
    post([this, wait, call = std::move(call)] {
        if (!retired.load())
            call();
        {
            std::lock_guard<std::mutex> guard(wait->lock);
            wait->done = true;
        }
        wait->wake.notify_all();
        deleteWhenIdle();
    });
    std::unique_lock<std::mutex> lock(wait->lock);
    wait->wake.wait(lock, [&] { return wait->done; });
}

void CScanDig::queueFlush() {
    if (!flushQueued.exchange(true))
        QMetaObject::invokeMethod(this, &CScanDig::flushPending, Qt::QueuedConnection);
}

void CScanDig::flushPending() {
    // Updates arriving faster than the eye follows are gathered, so a fast
    // sweep does not spend its time repainting labels.
    const qint64 since = lastFlush.isValid() ? lastFlush.elapsed() : kFlushIntervalMs;
    if (since < kFlushIntervalMs) {
        if (!flushTimer.isActive())
            flushTimer.start(int(kFlushIntervalMs - since));
        return;
    }
    applyPending();
}

void CScanDig::applyPending() {
    flushTimer.stop();
    flushQueued.store(false);
    lastFlush.restart();
    std::map<int, std::string> texts;
    std::optional<std::string> caption;
    std::optional<uint64_t> range, pos;
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        texts.swap(pendingTexts);
        caption.swap(pendingCaption);
        range.swap(pendingRange);
        pos.swap(pendingPos);
    }
    if (retired.load())
        return;
    if (caption)
        setWindowTitle(CEngineText::translate(*caption));
    for (const auto& [id, text] : texts) {
        auto label = labels.find(id);
        if (label != labels.end())
            label->second->setText(CEngineText::translate(text));
    }
    if (range) {
        progressShift = 0;
        while ((uint64_t(*range) >> progressShift) > uint64_t(INT_MAX))
            ++progressShift;
        ui->progressBar->setRange(0, int(*range >> progressShift));
    }
    if (pos)
        ui->progressBar->setValue(int(*pos >> progressShift));
    if (range || pos)
        showDetails();
}

void CScanDig::showDetails() {
    CProgressMeter::tagReading reading;
    bool sweeping;
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        if (clusterBytes == 0 || rangesSeen == 0)
            return;
        reading = meter.reading();
        sweeping = rangesSeen == 1;
    }
    if (sweeping && !finished && !detailsTimer.isActive())
        detailsTimer.start();
    else if (!sweeping)
        detailsTimer.stop();
    const QString left =
        reading.secondsLeftKnown
            ? QString::fromStdString(CProgressMeter::durationText(reading.secondsLeft))
            : QStringLiteral("--:--");
    ui->detailsLabel->setText(
        tr("已扫描 %1 GB / 共 %2 GB    %3 MB/s    已用时 %4    剩余 %5")
            .arg(QString::fromStdString(CProgressMeter::gigabytesText(reading.doneBytes)),
                 QString::fromStdString(CProgressMeter::gigabytesText(reading.totalBytes)),
                 QString::fromStdString(
                     CProgressMeter::megabytesPerSecondText(reading.bytesPerSecond)),
                 QString::fromStdString(CProgressMeter::durationText(reading.elapsedSeconds)),
                 left));
}

void CScanDig::setCaption(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingCaption = text;
    }
    queueFlush();
}

void CScanDig::setClusterSize(uint32_t bytes) {
    std::lock_guard<std::mutex> guard(pendingLock);
    clusterBytes = bytes;
}

void CScanDig::showLabelText(int controlId, const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingTexts[controlId] = text;
    }
    queueFlush();
}

void CScanDig::setProgressRange(uint64_t maximum) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingRange = maximum;
        pendingPos.reset(); // a new range starts the bar afresh
        // The first range is the sweep's; the writing's that follows leaves
        // the sweep's figures standing.
        if (++rangesSeen == 1)
            meter.start(maximum * clusterBytes);
    }
    queueFlush();
}

void CScanDig::setProgressPos(uint64_t position) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingPos = position;
        if (rangesSeen == 1)
            meter.update(position * clusterBytes);
    }
    queueFlush();
}

void CScanDig::showFailure(const QString& lead, const std::string& reason) {
    post([this, lead, reason] {
        if (retired.load() || stopValue.load() == StopRequest::Abandon)
            return; // the user has left this scan already
        scanOver = true;
        ++openBoxes;
        QString text = lead;
        if (!reason.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(reason);
        prompts->warning(this, text, tr("无法开始扫描"));
        --openBoxes;
        abandon();
        deleteWhenIdle();
    });
}

bool CScanDig::offerRawSweep(const QString& lead, const std::string& reason) {
    return askToGoOn(lead + QStringLiteral("\n\n") + QString::fromStdString(reason) +
                         QStringLiteral("\n\n") +
                         tr("改为逐个扇区扫描整个盘吗?这样不区分已用和空闲的空间,"
                            "盘上现有的照片也会被再次找到。"),
                     tr("无法开始扫描"));
}

bool CScanDig::confirmSweepWarnings(const std::vector<std::string>& warnings) {
    QString text = tr("扫描前请注意:");
    for (const std::string& warning : warnings)
        text += QStringLiteral("\n\n") + QString::fromStdString(warning);
    return askToGoOn(text + QStringLiteral("\n\n") + tr("仍然开始扫描吗?"), tr("扫描前的提示"));
}

bool CScanDig::offerResume(double percent, uint32_t pending, uint32_t written) {
    const QString text = tr("这个文件夹里有上次没有完成的扫描(已扫描%1%,已恢复%2个文件,"
                            "另有%3个已找到的文件尚未写入)。")
                             .arg(percent, 0, 'f', 2)
                             .arg(written)
                             .arg(pending) +
                         QStringLiteral("\n\n") +
                         tr("从上次停下的地方继续扫描吗?选择“否”将从头开始扫描。");
    return askBeforeTheSweep(text, tr("继续上次的扫描"), false);
}

bool CScanDig::askToGoOn(const QString& text, const QString& caption) {
    return askBeforeTheSweep(text, caption, true);
}

bool CScanDig::askBeforeTheSweep(const QString& text, const QString& caption, bool noAbandons) {
    auto yes = std::make_shared<bool>(false);
    runAndWait([this, text, caption, yes, noAbandons] {
        if (stopValue.load() == StopRequest::Abandon)
            return;
        ++openBoxes;
        *yes = prompts->question(this, text, caption) == CUserPrompts::Answer::Yes;
        --openBoxes;
        if (!*yes && noAbandons) {
            scanOver = true;
            abandon();
        }
    });
    return *yes && stopValue.load() != StopRequest::Abandon;
}

void CScanDig::showSummary(const std::string& text, const std::string& caption) {
    runAndWait([this, text, caption] {
        applyPending(); // the writer's last texts first
        scanOver = true;
        ++openBoxes;
        prompts->message(this, CEngineText::translate(text), CEngineText::translate(caption));
        --openBoxes;
    });
}

void CScanDig::showMainDialog() {
    post([this] {
        if (!retired.load() && mainDialog)
            mainDialog->showNormal();
    });
}

void CScanDig::openOutputFolder() {
    post([this] {
        if (!retired.load())
            prompts->openFolder(QString::fromStdString(folder));
    });
}

void CScanDig::closeScanDialog() {
    post([this] {
        if (!retired.load())
            close();
    });
}

void CScanDig::endProgram() {
    // Acted on once the worker has ended, on this (the UI) thread.
    post([this] { endRequested = true; });
}
