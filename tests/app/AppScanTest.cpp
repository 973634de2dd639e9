// The scan dialog: its Cancel question, a scan that cannot start, the
// progress it shows, and whole scans from the main dialog to the summary.
#include "CDiskImageMaker.h"
#include "CFakePrompts.h"
#include "CFaultyDevice.h"
#include "CJpegMaker.h"
#include "CMemoryDevice.h"
#include "CTempDir.h"
#include "app/CDriveCombo.h"
#include "app/CScanDig.h"
#include "app/CValloraDlg.h"
#include "platform/CDriveList.h"
#include "platform/CFileDevice.h"
#include "platform/CFolderDescriptor.h"
#include "scan/CResumeFile.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const uint32_t kSectorSize = 512;
using Answer = CUserPrompts::Answer;

// Disk bytes with no file system and JPEG images at the given sectors.
std::vector<unsigned char> diskWithPhotos(uint32_t sectors, std::vector<uint32_t> at,
                                          std::map<uint32_t, std::vector<unsigned char>>& photos) {
    std::vector<unsigned char> disk(size_t(sectors) * kSectorSize, 0);
    uint32_t seed = 7;
    for (uint32_t sector : at) {
        auto jpeg = CJpegMaker::make(CJpegMaker::Kind::Jfif, 96, 64, seed++);
        std::copy(jpeg.begin(), jpeg.end(), disk.begin() + size_t(sector) * kSectorSize);
        photos[sector] = jpeg;
    }
    return disk;
}

std::map<uint32_t, std::vector<unsigned char>> writeImage(const std::string& path,
                                                          uint32_t sectors) {
    std::map<uint32_t, std::vector<unsigned char>> photos;
    CTempDir::writeFile(path, diskWithPhotos(sectors, {64u, 3000u, 9001u}, photos));
    return photos;
}

QString labelText(QWidget* dialog, const char* name) {
    return dialog->findChild<QLabel*>(name)->text();
}

// An opener that holds the scan at its start until the scan is abandoned,
// so the dialog is in the middle of a scan for as long as a test needs.
std::shared_ptr<CDevice> holdUntilAbandoned(const tagScanSource&, const std::atomic<bool>& stop) {
    while (!stop.load())
        QThread::msleep(2);
    throw CDeviceOpenError("held: abandoned", EINTR);
}

// A device whose every read takes a while, so that a sweep can be stopped
// part way.
class CSlowDevice : public CMemoryDevice {
public:
    using CMemoryDevice::CMemoryDevice;
    bool readAt(uint64_t offset, void* buffer, uint32_t length, uint32_t& got,
                int& error) override {
        QThread::msleep(60);
        return CMemoryDevice::readAt(offset, buffer, length, got, error);
    }
};

// How the user asks a running scan to stop.
enum class Trigger { Button, Escape, CloseBox };

void trigger(CScanDig* scan, Trigger how) {
    switch (how) {
    case Trigger::Button:
        scan->OnBnClickedCancel();
        break;
    case Trigger::Escape:
        QTest::keyClick(scan, Qt::Key_Escape);
        break;
    case Trigger::CloseBox:
        scan->close();
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(Trigger)
Q_DECLARE_METATYPE(CUserPrompts::Answer)

class TestAppScan : public QObject {
    Q_OBJECT

private slots:
    void init() {
        machine = std::make_unique<CTempDir>(); // no disks at all
        output = std::make_unique<CTempDir>();
        prompts = CFakePrompts();
        dialog = std::make_unique<CValloraDlg>(
            &prompts, CDriveList(machine->path() + "/sys", machine->path() + "/dev"), QUrl());
        dialog->show();
    }
    void cleanup() {
        dialog.reset();
        output.reset();
        machine.reset();
    }

    void cancel_data() {
        QTest::addColumn<uint32_t>("found");
        QTest::addColumn<Trigger>("how");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<int>("questions");
        QTest::addColumn<int>("stop");
        using Stop = CScanFrontEnd::StopRequest;
        const int running = int(Stop::Running), write = int(Stop::StopAndWrite),
                  abandon = int(Stop::Abandon);
        QTest::addRow("nothing found") << 0u << Trigger::Button << Answer::Yes << 0 << abandon;
        QTest::addRow("Yes") << 3u << Trigger::Button << Answer::Yes << 1 << write;
        QTest::addRow("No") << 3u << Trigger::Button << Answer::No << 1 << abandon;
        QTest::addRow("go on") << 3u << Trigger::Button << Answer::Dismissed << 1 << running;
        QTest::addRow("Escape, Yes") << 3u << Trigger::Escape << Answer::Yes << 1 << write;
        QTest::addRow("Escape, go on")
            << 3u << Trigger::Escape << Answer::Dismissed << 1 << running;
        QTest::addRow("close box, No") << 3u << Trigger::CloseBox << Answer::No << 1 << abandon;
        QTest::addRow("close box, go on")
            << 3u << Trigger::CloseBox << Answer::Dismissed << 1 << running;
    }
    void cancel() {
        QFETCH(uint32_t, found);
        QFETCH(Trigger, how);
        QFETCH(Answer, answer);
        QFETCH(int, questions);
        QFETCH(int, stop);
        auto* scan = new CScanDig(dialog.get(), tagScanSource{"held", "held", true}, output->path(),
                                  &prompts, {}, holdUntilAbandoned);
        scan->OnInitDialog();
        scan->show();
        dialog->hide();
        QCOMPARE(scan->windowTitle(), QString("正在初始化,请等待...."));

        scan->foundCount = found;
        prompts.answer = answer;
        trigger(scan, how);
        QCOMPARE(prompts.questions, questions);
        if (questions)
            QCOMPARE(prompts.questionTexts.last(), QString("取消扫描以后,恢复已经扫描到的文件"));
        QCOMPARE(int(scan->stopRequest()), stop);
        QVERIFY(!scan->sweepPaused());
        const bool abandoned = stop == int(CScanFrontEnd::StopRequest::Abandon);
        QCOMPARE(dialog->isVisible(), abandoned);
        QCOMPARE(scan->isVisible(), !abandoned);

        if (stop == int(CScanFrontEnd::StopRequest::StopAndWrite)) {
            // A second Cancel abandons at once, without a question.
            scan->OnBnClickedCancel();
            QCOMPARE(prompts.questions, questions);
            QCOMPARE(int(scan->stopRequest()), int(CScanFrontEnd::StopRequest::Abandon));
            QVERIFY(dialog->isVisible());
            QVERIFY(!scan->isVisible());
        }
        delete scan;
    }

    void questionHoldsTheSweepUntilAnswered() {
        auto* scan = new CScanDig(dialog.get(), tagScanSource{"held", "held", true}, output->path(),
                                  &prompts, {}, holdUntilAbandoned);
        scan->OnInitDialog();
        scan->show();
        scan->foundCount = 2;
        // Stands in for the scanner, which asks for the stop request before every run.
        std::atomic<int> runs{0};
        QThread* sweep = QThread::create([&] {
            while (scan->stopRequest() == CScanFrontEnd::StopRequest::Running) {
                ++runs;
                QThread::msleep(1);
            }
        });
        sweep->start();
        QTRY_VERIFY(runs.load() > 5);

        int heldRuns = -1;
        prompts.whileQuestionShown = [&] {
            QVERIFY(scan->sweepPaused());
            QTest::qWait(50);
            const int before = runs.load();
            QTest::qWait(200);
            heldRuns = runs.load() - before;
        };
        prompts.answer = Answer::Dismissed;
        scan->OnBnClickedCancel();
        QCOMPARE(heldRuns, 0);
        // Going on lets the sweep run again.
        const int after = runs.load();
        QTRY_VERIFY(runs.load() > after + 5);

        // No ends a held sweep as it ends a running one.
        prompts.answer = Answer::No;
        scan->OnBnClickedCancel();
        QVERIFY(sweep->wait(5000));
        QCOMPARE(int(scan->stopRequest()), int(CScanFrontEnd::StopRequest::Abandon));
        delete sweep;
        delete scan;
    }

    void scanThatCannotStartSaysWhy_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("fakeDenied");
        QTest::addColumn<QString>("lead");
        QTest::addColumn<QString>("reason");
        QTest::addRow("no rights") << "/dev/sdx" << true << "无法打开要扫描的盘或磁盘映像文件。"
                                   << "cannot open the source /dev/sdx: Permission denied";
        QTest::addRow("image gone")
            << "gone.img" << false << "无法打开要扫描的盘或磁盘映像文件。"
            << "cannot open the source %1/gone.img: No such file or directory";
        QTest::addRow("nothing selected")
            << "" << false << "没有选择要扫描的盘或磁盘映像文件。" << QString();
    }
    void scanThatCannotStartSaysWhy() {
        QFETCH(QString, source);
        QFETCH(bool, fakeDenied);
        QFETCH(QString, lead);
        QFETCH(QString, reason);
        tagScanSource scanned;
        CScanDig::OpenFunction opener;
        if (fakeDenied) {
            scanned = {source.toStdString(), "sdx", false};
            opener = [](const tagScanSource&,
                        const std::atomic<bool>&) -> std::shared_ptr<CDevice> {
                throw CDeviceOpenError("/dev/sdx: Permission denied", EACCES);
            };
        } else if (!source.isEmpty()) {
            scanned = {output->file(source.toStdString()), source.toStdString(), true};
            reason = reason.arg(QString::fromStdString(output->path()));
        }
        auto* scan = new CScanDig(dialog.get(), scanned, output->path(), &prompts, {}, opener);
        scan->OnInitDialog();
        scan->show();
        dialog->hide();
        QTRY_COMPARE(prompts.warnings.size(), 1);
        QCOMPARE(prompts.captions, QStringList{"无法开始扫描"});
        const QString expected = reason.isEmpty() ? lead : lead + "\n\n" + reason;
        QCOMPARE(prompts.warnings.first(), expected);
        // The main dialog is back; the scan window with its placeholders is gone.
        QVERIFY(dialog->isVisible());
        QVERIFY(!scan->isVisible());
        QTRY_VERIFY(scan->workerFinished());
        delete scan;
    }

    void refusedFileSystemOffersARawSweep_data() {
        QTest::addColumn<Answer>("answer");
        QTest::addRow("Yes: raw sweep") << Answer::Yes;
        QTest::addRow("No: back") << Answer::No;
    }
    void refusedFileSystemOffersARawSweep() {
        QFETCH(Answer, answer);
        if (!CDiskImageMaker::haveTool("mkfs.vfat"))
            QSKIP("mkfs.vfat is not installed");
        // A FAT32 card cut short: its boot sector names FAT32, its FAT is missing.
        const std::string image = output->file("cut.img");
        QVERIFY(CDiskImageMaker::run("truncate -s 40M " + CDiskImageMaker::quote(image) +
                                     " && mkfs.vfat -F 32 " + CDiskImageMaker::quote(image) +
                                     " && truncate -s 16K " + CDiskImageMaker::quote(image)));
        std::vector<unsigned char> bytes = CTempDir::readFile(image);
        const auto photo = CJpegMaker::make(CJpegMaker::Kind::Exif, 64, 48, 3);
        bytes.resize(16384 + photo.size() + 1024, 0);
        std::copy(photo.begin(), photo.end(), bytes.begin() + 16384);
        CTempDir::writeFile(image, bytes);
        CTempDir recovered;

        prompts.answer = answer;
        auto* scan =
            new CScanDig(dialog.get(), {image, "cut.img", true}, recovered.path(), &prompts);
        QSignalSpy ended(scan, &CScanDig::programEndRequested);
        scan->OnInitDialog();
        scan->show();
        dialog->hide();
        QTRY_VERIFY(scan->workerFinished());
        QCOMPARE(prompts.questions, 1);
        QVERIFY2(prompts.questionTexts.first().startsWith(
                     "无法按这个盘的文件系统读取它。\n\ncannot read " +
                     QString::fromStdString(image) + " as FAT32: "),
                 qPrintable(prompts.questionTexts.first()));
        checkAnswerBeforeTheSweep(answer, scan, ended, recovered, 32, photo);
        if (answer == Answer::Yes)
            QCOMPARE(prompts.captions, QStringList{"扫描完成"});
        delete scan;
    }

    void unreadableBootSectorAsksBeforeARawSweep_data() {
        QTest::addColumn<Answer>("answer");
        QTest::addRow("Yes: sweep") << Answer::Yes;
        QTest::addRow("No: back") << Answer::No;
    }
    void unreadableBootSectorAsksBeforeARawSweep() {
        QFETCH(Answer, answer);
        // The first sector cannot be read, so the file system is unknown:
        // the sweep would take in the photos still in use too.
        std::map<uint32_t, std::vector<unsigned char>> photos;
        auto faulty = std::make_shared<CFaultyDevice>(
            std::make_shared<CMemoryDevice>(diskWithPhotos(1000, {64u}, photos)));
        faulty->badRanges = {{0, kSectorSize}};
        CTempDir recovered;
        prompts.answer = answer;
        auto* scan = new CScanDig(
            dialog.get(), {"card", "card", true}, recovered.path(), &prompts, {},
            [faulty](const tagScanSource&, const std::atomic<bool>&) { return faulty; });
        QSignalSpy ended(scan, &CScanDig::programEndRequested);
        scan->OnInitDialog();
        scan->show();
        dialog->hide();
        QTRY_VERIFY(scan->workerFinished());
        QCOMPARE(prompts.questions, 1);
        QVERIFY2(prompts.questionTexts.first().startsWith("扫描前请注意:\n\nthe boot sector of "),
                 qPrintable(prompts.questionTexts.first()));
        QVERIFY(prompts.questionTexts.first().contains("every sector is swept"));
        checkAnswerBeforeTheSweep(answer, scan, ended, recovered, 64, photos[64]);
        delete scan;
    }

    // A folder that holds an interrupted sweep of the chosen source: Yes
    // takes it up (the photo it found is written, the one before its point
    // is not looked for again, the one after it is found); No sweeps from
    // the start. Either way the finished sweep removes the resume file.
    void interruptedSweepIsOfferedToGoOn_data() {
        QTest::addColumn<Answer>("answer");
        QTest::addRow("Yes: go on") << Answer::Yes;
        QTest::addRow("No: from the start") << Answer::No;
    }
    void interruptedSweepIsOfferedToGoOn() {
        QFETCH(Answer, answer);
        const std::string image = output->file("card.img");
        const auto photos = writeImage(image, 12000); // at sectors 64, 3000 and 9001
        CTempDir recovered;
        tagResumeState state;
        state.sourcePath = image;
        QVERIFY(CSourceIdentity::of(*CFileDevice::open(image), state.source));
        state.clusterCount = 12000;
        state.clusterSize = kSectorSize;
        state.nextCluster = state.nextSector = 5000;
        const auto& first = photos.at(64);
        state.pending = {{64, 64 + (first.size() - 1) / kSectorSize,
                          uint32_t((first.size() - 1) % kSectorSize)}};
        state.writtenBefore = 4;
        std::string error;
        const int folderFd = CFolderDescriptor::open(recovered.path(), error);
        QVERIFY2(CResumeFile::write(folderFd, state, uid_t(-1), gid_t(-1), error), error.c_str());
        CFolderDescriptor::close(folderFd);

        prompts.answer = answer;
        CDriveCombo* combo = dialog->driveCombo();
        prompts.imageToPick = QString::fromStdString(image);
        emit combo->activated(combo->count() - 1);
        dialog->outputEdit()->setText(QString::fromStdString(recovered.path()));
        QSignalSpy ended(dialog.get(), &CValloraDlg::programEndRequested);
        dialog->OnBnClickedStartScan();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
        QCOMPARE(prompts.questions, 1);
        QCOMPARE(
            prompts.questionTexts.first(),
            QString("这个文件夹里有上次没有完成的扫描(已扫描41.67%,已恢复4个文件,另有1个已找到"
                    "的文件尚未写入)。\n\n从上次停下的地方继续扫描吗?选择“否”将从头开始扫描。"));
        const bool goesOn = answer == Answer::Yes;
        QVERIFY2(prompts.messages.first().contains(goesOn ? "成功恢复6个文件" : "成功恢复3个文件"),
                 qPrintable(prompts.messages.first()));
        for (const auto& [sector, bytes] : photos) {
            const std::string name = recovered.file(std::to_string(sector + 1982) + ".jpg");
            if (sector == 3000 && goesOn)
                QVERIFY2(!std::filesystem::exists(name), name.c_str());
            else
                QVERIFY2(CTempDir::readFile(name) == bytes, name.c_str());
        }
        QVERIFY(!std::filesystem::exists(recovered.file(CResumeFile::kFileName)));
    }

    void stoppedScanSaysHowFarItGot() {
        std::map<uint32_t, std::vector<unsigned char>> photos;
        // 200000 sectors read in runs of 40000, each read taking a while.
        auto device = std::make_shared<CSlowDevice>(diskWithPhotos(1000, {64u}, photos),
                                                    kSectorSize, uint64_t(200000) * kSectorSize);
        CTempDir recovered;
        auto* scan = new CScanDig(
            dialog.get(), {"slow", "slow", true}, recovered.path(), &prompts, {},
            [device](const tagScanSource&, const std::atomic<bool>&) { return device; });
        QSignalSpy ended(scan, &CScanDig::programEndRequested);
        scan->OnInitDialog();
        scan->show();
        QTRY_VERIFY(scan->foundCount.load() == 1);
        prompts.answer = Answer::Yes;
        scan->OnBnClickedCancel();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 20000);

        QCOMPARE(prompts.captions, QStringList{"扫描终止"});
        const QRegularExpression summary("^用时\\d+秒,成功恢复1个文件\n扫描未完成:已扫描(\\d+)"
                                         "个扇区,共200000个扇区\\(([0-9.]+)%\\)$");
        const auto m = summary.match(prompts.messages.first());
        QVERIFY2(m.hasMatch(), qPrintable(prompts.messages.first()));
        const double swept = m.captured(1).toDouble();
        QVERIFY(swept > 0 && swept < 200000);
        QCOMPARE(m.captured(2), QString::number(swept * 100 / 200000, 'f', 2));
        // The bar and the percentage both tell the writing, which is done.
        auto* bar = scan->findChild<QProgressBar*>("progressBar");
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(labelText(scan, "percentLabel"), QString("100%"));
        QCOMPARE(CTempDir::readFile(recovered.file(std::to_string(64 + 1982) + ".jpg")),
                 photos[64]);
        delete scan;
    }

    void thoroughChoiceReachesTheScan() {
        // The check boxes: off at first; partial files only go with the thorough mode.
        auto* thorough = dialog->findChild<QCheckBox*>("thoroughCheck");
        auto* keep = dialog->findChild<QCheckBox*>("keepPartialCheck");
        QVERIFY(thorough && keep);
        QCOMPARE(thorough->text(), QString("深度扫描(较慢,找回更多照片)"));
        QVERIFY(!thorough->isChecked());
        QVERIFY(!thorough->toolTip().isEmpty());
        QVERIFY(!keep->isEnabled());
        thorough->setChecked(true);
        QVERIFY(keep->isEnabled());
        thorough->setChecked(false);
        QVERIFY(!keep->isEnabled());

        // A photo with older data behind its end marker in its last sector:
        // only the thorough mode recovers it.
        std::vector<unsigned char> disk(size_t(2000) * kSectorSize, 0);
        const auto photo = CJpegMaker::make(CJpegMaker::Kind::Jfif, 96, 64, 21);
        const size_t at = size_t(64) * kSectorSize;
        std::copy(photo.begin(), photo.end(), disk.begin() + long(at));
        std::fill(disk.begin() + long(at + photo.size()),
                  disk.begin() + long(at + photo.size() + 2 * kSectorSize), 0x11);
        CTempDir source;
        CTempDir::writeFile(source.file("card.img"), disk);
        for (bool deep : {false, true}) {
            CTempDir recovered;
            auto device = CFileDevice::open(source.file("card.img"));
            auto* scan = new CScanDig(
                dialog.get(), {"card", "card", true}, recovered.path(), &prompts, {},
                [device](const tagScanSource&, const std::atomic<bool>&) { return device; });
            scan->setThorough(deep, false);
            QSignalSpy ended(scan, &CScanDig::programEndRequested);
            scan->OnInitDialog();
            scan->show();
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 20000);
            const std::string name = recovered.file(std::to_string(64 + 1982) + ".jpg");
            QCOMPARE(std::filesystem::exists(name) && CTempDir::readFile(name) == photo, deep);
            delete scan;
        }
    }

    void runAsRootForSomeoneElseHandsOverOnlyItsOwnFiles() {
        if (::geteuid() != 0)
            QSKIP("needs root");
        std::vector<unsigned char> disk(size_t(2000) * kSectorSize, 0);
        const auto photo = CJpegMaker::make(CJpegMaker::Kind::Jfif, 96, 64, 22);
        std::copy(photo.begin(), photo.end(), disk.begin() + long(64 * kSectorSize));
        CTempDir source;
        CTempDir::writeFile(source.file("card.img"), disk);
        CTempDir recovered;
        // A file of another run, written by root just now: not this scan's.
        CTempDir::writeFile(recovered.file("7.jpg"), {1, 2, 3});

        qputenv("PKEXEC_UID", "65534");
        auto device = CFileDevice::open(source.file("card.img"));
        auto* scan = new CScanDig(
            dialog.get(), {"card", "card", true}, recovered.path(), &prompts, {},
            [device](const tagScanSource&, const std::atomic<bool>&) { return device; });
        QSignalSpy ended(scan, &CScanDig::programEndRequested);
        scan->OnInitDialog();
        scan->show();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 20000);
        qunsetenv("PKEXEC_UID");
        delete scan;
        auto owner = [&](const std::string& name) {
            struct stat st {};
            return ::lstat(recovered.file(name).c_str(), &st) == 0 ? st.st_uid : uid_t(-1);
        };
        QCOMPARE(owner(std::to_string(64 + 1982) + ".jpg"), uid_t(65534));
        QCOMPARE(owner("report.xml"), uid_t(65534));
        QCOMPARE(owner("7.jpg"), uid_t(0));
    }

    void updatesFromWorkerEndAtLatestState() {
        auto* scan = new CScanDig(dialog.get(), tagScanSource{"held", "held", true}, output->path(),
                                  &prompts, {}, holdUntilAbandoned);
        scan->OnInitDialog();
        scan->show();
        // A sweep of more clusters than the bar's int holds, reported fast.
        QThread* worker = QThread::create([scan] {
            scan->setClusterSize(512);
            scan->setProgressRange(0xFFFFFFFFu);
            for (uint32_t i = 0; i <= 1000; ++i) {
                scan->setProgressPos(i * 0x200000u);
                scan->showLabelText(CScanDig::kSweptLabel, "已扫描:" + std::to_string(i));
            }
            scan->setCaption("正在搜索sdb1盘文件");
        });
        worker->start();
        worker->wait();
        delete worker;
        QTRY_COMPARE(labelText(scan, "sweptLabel"), QString("已扫描:1000"));
        QTRY_COMPARE(scan->windowTitle(), QString("正在搜索sdb1盘文件"));
        auto* bar = scan->findChild<QProgressBar*>("progressBar");
        QCOMPARE(bar->minimum(), 0);
        QVERIFY(bar->maximum() > 0);
        const double share = double(bar->value()) / bar->maximum();
        QVERIFY2(share > 0.48 && share < 0.50, qPrintable(QString::number(share)));
        // Sizes in GB next to the specified labels; no time left in the first seconds.
        const QString details = labelText(scan, "detailsLabel");
        QVERIFY2(details.startsWith("已扫描 1073.74 GB / 共 2199.02 GB "), qPrintable(details));
        QVERIFY2(details.contains(QRegularExpression("MB/s    已用时 0:0\\d    剩余 --:--$")),
                 qPrintable(details));
        delete scan;
    }

    void wholeScanFromStartToSummary() {
        const std::string image = output->file("card.img");
        const auto photos = writeImage(image, 12000);
        CTempDir recovered;

        // No disk is there: the image file is chosen through the list's last entry.
        CDriveCombo* combo = dialog->driveCombo();
        QCOMPARE(combo->currentIndex(), -1);
        prompts.imageToPick = QString::fromStdString(image);
        emit combo->activated(combo->count() - 1);
        QVERIFY(dialog->selectedSource().imageFile);

        // First a scan that is abandoned; then the image.
        dialog->setSourceOpener(holdUntilAbandoned);
        dialog->outputEdit()->setText(QString::fromStdString(recovered.path()));
        dialog->OnBnClickedStartScan();
        QPointer<CScanDig> first = dialog->scanDialog();
        QVERIFY(first);
        QVERIFY(!dialog->isVisible());
        first->OnBnClickedCancel();
        QVERIFY(dialog->isVisible());

        dialog->setSourceOpener({});
        QSignalSpy ended(dialog.get(), &CValloraDlg::programEndRequested);
        QPointer<CScanDig> scan;
        // The summary holds the worker until it is closed.
        bool heldDuringSummary = false;
        prompts.whileMessageShown = [&] {
            QTest::qWait(300);
            heldDuringSummary =
                !scan->workerFinished() && ended.count() == 0 && prompts.openedFolders.isEmpty();
        };
        dialog->OnBnClickedStartScan();
        scan = dialog->scanDialog();
        QVERIFY(scan && scan != first);
        QTRY_VERIFY(!first); // the abandoned scan's dialog is gone

        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
        QVERIFY(heldDuringSummary);
        QCOMPARE(prompts.captions, QStringList{"扫描完成"});
        QVERIFY2(
            prompts.messages.first().contains(QRegularExpression("^用时\\d+秒,成功恢复3个文件$")),
            qPrintable(prompts.messages.first()));
        QCOMPARE(prompts.openedFolders, QStringList{QString::fromStdString(recovered.path())});
        QCOMPARE(scan->windowTitle(), QString("正在搜索card.img盘文件"));
        QCOMPARE(labelText(scan, "totalLabel"), QString("搜索完成,文件恢复中..."));
        QCOMPARE(labelText(scan, "sweptLabel"), QString("成功恢复3个文件"));
        QCOMPARE(labelText(scan, "percentLabel"), QString("100%"));
        QCOMPARE(labelText(scan, "foundLabel"), QString("找到3个文件"));
        QVERIFY(labelText(scan, "detailsLabel").contains(" GB / 共 0.01 GB "));
        QVERIFY(dialog->isVisible()); // shown again before the end
        QVERIFY(!scan->isVisible());  // closed

        for (const auto& [sector, bytes] : photos) {
            const std::string name = recovered.file(std::to_string(sector + 1982) + ".jpg");
            QVERIFY2(CTempDir::readFile(name) == bytes, name.c_str());
        }
    }

private:
    // After a question asked before the sweep: Yes sweeps to the summary and
    // writes the photo at sector; No brings the main dialog back with
    // nothing written.
    void checkAnswerBeforeTheSweep(Answer answer, CScanDig* scan, QSignalSpy& ended,
                                   const CTempDir& recovered, uint32_t sector,
                                   const std::vector<unsigned char>& photo) {
        if (answer == Answer::Yes) {
            QTRY_COMPARE(ended.count(), 1);
            QCOMPARE(CTempDir::readFile(recovered.file(std::to_string(sector + 1982) + ".jpg")),
                     photo);
        } else {
            QVERIFY(prompts.messages.isEmpty());
            QVERIFY(dialog->isVisible());
            QVERIFY(!scan->isVisible());
            QVERIFY(CTempDir::contentsOf(recovered.path()).empty());
        }
    }

    std::unique_ptr<CTempDir> machine;
    std::unique_ptr<CTempDir> output;
    CFakePrompts prompts;
    std::unique_ptr<CValloraDlg> dialog;
};

QTEST_MAIN(TestAppScan)
#include "AppScanTest.moc"
