#include "app/CScanDig.h"

#include "app/CRootHandOver.h"
#include "app/CScanWorker.h"
#include "app/CUserPrompts.h"
#include "app/CValloraDlg.h"
#include "ui_CScanDig.h"

#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>

#include <climits>

CScanDig::CScanDig(CValloraDlg* mainDialog, tagScanSource source, std::string outputFolder,
                   CUserPrompts* prompts, std::shared_future<void> previousWorker)
    : QDialog(mainDialog), ui(std::make_unique<Ui::CScanDig>()), mainDialog(mainDialog),
      scanSource(std::move(source)), folder(std::move(outputFolder)), prompts(prompts),
      previous(std::move(previousWorker)), done(donePromise.get_future().share()) {
    ui->setupUi(this);
    // A popup with a caption and no system menu, above other windows.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    setFixedSize(size());
    labels = {{kSweptLabel, ui->sweptLabel},
              {kTotalLabel, ui->totalLabel},
              {kPercentLabel, ui->percentLabel},
              {kFoundLabel, ui->foundLabel}};
    connect(ui->cancelButton, &QPushButton::clicked, this, &CScanDig::OnBnClickedCancel);
    flushTimer.setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, &CScanDig::applyPending);
}

CScanDig::~CScanDig() {
    // The worker holds this dialog until it ends.
    stopValue.store(kAbandon);
    abandoned.store(true);
    retired.store(true);
    {
        std::lock_guard<std::mutex> guard(waitLock);
        waitsReleased = true;
        if (summaryWait) {
            std::lock_guard<std::mutex> waitGuard(summaryWait->lock);
            summaryWait->done = true;
            summaryWait->wake.notify_all();
        }
    }
    if (workerThread)
        workerThread->wait();
    else
        donePromise.set_value(); // never started: nobody need wait for it
}

void CScanDig::OnInitDialog() {
    stopValue.store(kRunning);
    scanStart = std::time(nullptr);
    workerThread = std::make_unique<CScanWorker>(this, previous, &donePromise);
    connect(workerThread.get(), &QThread::finished, this, &CScanDig::onWorkerFinished);
    workerThread->start();
}

void CScanDig::retire() {
    retired.store(true);
    if (stopValue.load() != kAbandon)
        stopValue.store(kAbandon);
    abandoned.store(true);
    std::shared_ptr<tagWait> wait;
    {
        std::lock_guard<std::mutex> guard(waitLock);
        waitsReleased = true;
        wait = summaryWait;
    }
    if (wait) {
        std::lock_guard<std::mutex> waitGuard(wait->lock);
        wait->done = true;
        wait->wake.notify_all();
    }
    hide();
    deletePending = true;
    deleteWhenIdle();
}

void CScanDig::deleteWhenIdle() {
    if (deletePending && (finished || !workerThread) && openBoxes == 0) {
        deletePending = false;
        deleteLater();
    }
}

void CScanDig::onWorkerFinished() {
    finished = true;
    emit workerEnded();
    if (endRequested && !retired.load())
        emit programEndRequested();
    deleteWhenIdle();
}

void CScanDig::OnBnClickedCancel() {
    if (foundCount.load() == 0 || stopValue.load() == kStopAndWrite) {
        abandon();
        return;
    }
    ++openBoxes;
    const bool yes = prompts->question(this, QStringLiteral("取消扫描以后,恢复已经扫描到的文件"),
                                       QStringLiteral("提示"));
    --openBoxes;
    if (yes && stopValue.load() == kRunning)
        stopValue.store(kStopAndWrite);
    else if (!yes)
        abandon();
    deleteWhenIdle();
}

void CScanDig::abandon() {
    stopValue.store(kAbandon);
    abandoned.store(true);
    if (mainDialog)
        mainDialog->showNormal();
    reject(); // hides the dialog; the object stays until the next scan
}

void CScanDig::post(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
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
    std::optional<uint32_t> range, pos;
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
        setWindowTitle(QString::fromStdString(*caption));
    for (const auto& [id, text] : texts) {
        auto label = labels.find(id);
        if (label != labels.end())
            label->second->setText(QString::fromStdString(text));
    }
    if (range) {
        progressShift = 0;
        while ((uint64_t(*range) >> progressShift) > uint64_t(INT_MAX))
            ++progressShift;
        ui->progressBar->setRange(0, int(*range >> progressShift));
    }
    if (pos)
        ui->progressBar->setValue(int(*pos >> progressShift));
}

void CScanDig::setCaption(const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingCaption = text;
    }
    queueFlush();
}

void CScanDig::showLabelText(int controlId, const std::string& text) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingTexts[controlId] = text;
    }
    queueFlush();
}

void CScanDig::setProgressRange(uint32_t maximum) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingRange = maximum;
        pendingPos.reset(); // a new range starts the bar afresh
    }
    queueFlush();
}

void CScanDig::setProgressPos(uint32_t position) {
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingPos = position;
    }
    queueFlush();
}

void CScanDig::showSummary(const std::string& text, const std::string& caption) {
    auto wait = std::make_shared<tagWait>();
    {
        std::lock_guard<std::mutex> guard(waitLock);
        if (waitsReleased)
            return;
        summaryWait = wait;
    }
    post([this, wait, text, caption] {
        applyPending(); // the writer's last texts first
        if (!retired.load()) {
            ++openBoxes;
            prompts->message(this, QString::fromStdString(text), QString::fromStdString(caption));
            --openBoxes;
        }
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

void CScanDig::showMainDialog() {
    post([this] {
        if (!retired.load() && mainDialog)
            mainDialog->showNormal();
    });
}

void CScanDig::openOutputFolder() {
    // Run as root for someone else: the photos become that person's.
    CRootHandOver::tagUser user;
    if (CRootHandOver::invokingUser(user))
        CRootHandOver::giveBack(folder, scanStart, user);
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
