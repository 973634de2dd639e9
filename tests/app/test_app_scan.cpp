// The scan dialog: its Cancel button and a whole scan from the main dialog
// to the summary.
#include "CFakePrompts.h"
#include "CJpegMaker.h"
#include "CTempDir.h"
#include "app/CDriveCombo.h"
#include "app/CDriveList.h"
#include "app/CScanDig.h"
#include "app/CValloraDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <map>

namespace {

const uint32_t kSectorSize = 512;

// A disk image with no file system and JPEG images at the given sectors.
std::map<uint32_t, std::vector<unsigned char>> writeImage(const std::string& path,
                                                          uint32_t sectors) {
    std::vector<unsigned char> disk(size_t(sectors) * kSectorSize, 0);
    std::map<uint32_t, std::vector<unsigned char>> photos;
    uint32_t seed = 7;
    for (uint32_t sector : {64u, 3000u, 9001u}) {
        auto jpeg = CJpegMaker::make(CJpegMaker::Kind::Jfif, 96, 64, seed++);
        std::copy(jpeg.begin(), jpeg.end(), disk.begin() + size_t(sector) * kSectorSize);
        photos[sector] = jpeg;
    }
    CTempDir::writeFile(path, disk);
    return photos;
}

QString labelText(QWidget* dialog, const char* name) {
    return dialog->findChild<QLabel*>(name)->text();
}

} // namespace

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
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<int>("questions");
        QTest::addColumn<int>("stop");
        QTest::addRow("nothing found") << 0u << true << 0 << int(CScanDig::kAbandon);
        QTest::addRow("found, Yes") << 3u << true << 1 << int(CScanDig::kStopAndWrite);
        QTest::addRow("found, No") << 3u << false << 1 << int(CScanDig::kAbandon);
    }
    void cancel() {
        QFETCH(uint32_t, found);
        QFETCH(bool, answerYes);
        QFETCH(int, questions);
        QFETCH(int, stop);
        // No source: the worker ends at once and the dialog stays as it is.
        auto* scan = new CScanDig(dialog.get(), tagScanSource{}, output->path(), &prompts);
        scan->OnInitDialog();
        scan->show();
        dialog->hide();
        QTRY_VERIFY(scan->workerFinished());
        QCOMPARE(scan->windowTitle(), QString("正在初始化,请等待...."));

        scan->foundCount = found;
        prompts.answerYes = answerYes;
        scan->OnBnClickedCancel();
        QCOMPARE(prompts.questions, questions);
        QCOMPARE(scan->stopRequest(), stop);
        const bool abandoned = stop == CScanDig::kAbandon;
        QCOMPARE(dialog->isVisible(), abandoned);
        QCOMPARE(scan->isVisible(), !abandoned);

        if (!abandoned) {
            // A second Cancel abandons at once, without a question.
            scan->OnBnClickedCancel();
            QCOMPARE(prompts.questions, questions);
            QCOMPARE(scan->stopRequest(), int(CScanDig::kAbandon));
            QVERIFY(dialog->isVisible());
            QVERIFY(!scan->isVisible());
        }
        delete scan;
    }

    void escapeHidesButKeepsScanning() {
        auto* scan = new CScanDig(dialog.get(), tagScanSource{}, output->path(), &prompts);
        scan->OnInitDialog();
        scan->show();
        dialog->hide();
        QTest::keyClick(scan, Qt::Key_Escape);
        QVERIFY(!scan->isVisible());
        QCOMPARE(scan->stopRequest(), int(CScanDig::kRunning));
        QVERIFY(!dialog->isVisible());
        delete scan;
    }

    void updatesFromWorkerEndAtLatestState() {
        auto* scan = new CScanDig(dialog.get(), tagScanSource{}, output->path(), &prompts);
        scan->OnInitDialog();
        scan->show();
        // A sweep of more clusters than the bar's int holds, reported fast.
        QThread* worker = QThread::create([scan] {
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

        // First a scan with nothing selected, abandoned; then the image.
        combo->setCurrentIndex(-1);
        dialog->OnBnClickedStartScan();
        QPointer<CScanDig> first = dialog->scanDialog();
        QVERIFY(first);
        QVERIFY(!dialog->isVisible());
        QTRY_VERIFY(first->workerFinished());
        first->OnBnClickedCancel();
        QVERIFY(dialog->isVisible());

        combo->setCurrentIndex(combo->count() - 2);
        dialog->outputEdit()->setText(QString::fromStdString(recovered.path()));
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
        QVERIFY(dialog->isVisible()); // shown again before the end
        QVERIFY(!scan->isVisible());  // closed

        for (const auto& [sector, bytes] : photos) {
            const std::string name = recovered.file(std::to_string(sector + 1982) + ".jpg");
            QVERIFY2(CTempDir::readFile(name) == bytes, name.c_str());
        }
    }

private:
    std::unique_ptr<CTempDir> machine;
    std::unique_ptr<CTempDir> output;
    CFakePrompts prompts;
    std::unique_ptr<CValloraDlg> dialog;
};

QTEST_MAIN(TestAppScan)
#include "test_app_scan.moc"
