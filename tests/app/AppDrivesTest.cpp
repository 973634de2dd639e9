// The main dialog's drive list, its output folder rules and its ends.
#include "CDiskImageMaker.h"
#include "CFakePrompts.h"
#include "CFakeSysfs.h"
#include "CLoopDevice.h"
#include "CMountPoint.h"
#include "CTempDir.h"
#include "app/CDriveCombo.h"
#include "app/CScanDig.h"
#include "app/CValloraDlg.h"
#include "platform/CDriveList.h"
#include "platform/CFileDevice.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

dev_t folderDevice(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_dev;
}

// A machine with a fixed NVMe disk, a removable card, an optical drive, RAM
// and loop devices, an empty card slot, and the disk that holds the test's
// temporary folder (sdz, its partition sdz1).
void buildMachine(CFakeSysfs& fake, dev_t tempFolderDevice) {
    fake.addDisk("sda", makedev(8, 0), 2000000, true, "Card Reader");
    fake.addPartition("sda", "sda1", 1, makedev(8, 1), 1999000);
    fake.addDisk("sr0", makedev(11, 0), 700000, true, "DVD", "5");
    fake.addDisk("nvme0n1", makedev(259, 0), 1000000000, false, "Fast SSD");
    fake.addPartition("nvme0n1", "nvme0n1p2", 2, makedev(259, 2), 900000000);
    fake.addPartition("nvme0n1", "nvme0n1p10", 10, makedev(259, 10), 1000);
    fake.addPartition("nvme0n1", "nvme0n1p1", 1, makedev(259, 1), 1000000);
    fake.addDisk("loop0", makedev(7, 0), 1000, false);
    fake.addDisk("zram0", makedev(252, 0), 1000, false);
    fake.addDisk("ram0", makedev(1, 0), 1000, false);
    fake.addDisk("sdb", makedev(8, 16), 0, true, "Empty Slot");
    fake.addDisk("sdz", makedev(65, 160), 4000000, false, "Temp Disk");
    fake.addPartition("sdz", "sdz1", 1, tempFolderDevice, 3900000);
    fake.addLabel("PHOTOS", "sda1");
    fake.addLabel("My\\x20Disk", "nvme0n1p2");
}

} // namespace

class TestAppDrives : public QObject {
    Q_OBJECT

private slots:
    void init() {
        root = std::make_unique<CTempDir>();
        output = std::make_unique<CTempDir>();
        fake = std::make_unique<CFakeSysfs>(root->path());
        buildMachine(*fake, folderDevice(output->path()));
    }
    void cleanup() {
        fake.reset();
        output.reset();
        root.reset();
    }

    void driveListFromSysfs() {
        const auto entries = fake->driveList().list();
        QStringList names;
        for (const auto& entry : entries)
            names << QString::fromStdString(entry.name);
        QCOMPARE(names, QStringList({"nvme0n1", "nvme0n1p1", "nvme0n1p2", "nvme0n1p10", "sda",
                                     "sda1", "sdz", "sdz1"}));
        const tagDriveEntry& card = entries[5];
        QCOMPARE(card.devicePath, fake->devRoot() + "/sda1");
        QCOMPARE(card.sizeBytes, 1999000ull * 512);
        QCOMPARE(card.label, std::string("PHOTOS"));
        QVERIFY(card.removable);
        QVERIFY(card.partition);
        QCOMPARE(card.deviceNumber, makedev(8, 1));
        QCOMPARE(entries[2].label, std::string("My Disk"));
        QVERIFY(!entries[0].removable);
        QCOMPARE(CDriveList::displayText(card),
                 fake->devRoot() + "/sda1  1.0 GB  \"PHOTOS\"  (可移动)");
        QCOMPARE(CDriveList::displayText(entries[0]),
                 fake->devRoot() + "/nvme0n1  512.0 GB  Fast SSD");
        QCOMPARE(card.fileSystem, std::string());
    }

    // The file system udev found is shown, named as the program names it.
    void driveListShowsFileSystems() {
        fake->addFileSystem(makedev(8, 1), "exfat", "1.0");
        fake->addFileSystem(makedev(259, 2), "ext4", "1.0");
        fake->addFileSystem(makedev(259, 1), "vfat", "FAT16");
        const auto entries = fake->driveList().list();
        QCOMPARE(entries[1].fileSystem, std::string("FAT16"));
        QCOMPARE(entries[2].fileSystem, std::string("ext4"));
        QCOMPARE(entries[5].fileSystem, std::string("exfat"));
        QCOMPARE(CDriveList::displayText(entries[5]),
                 fake->devRoot() + "/sda1  1.0 GB  exfat  \"PHOTOS\"  (可移动)");
        QCOMPARE(entries[0].fileSystem, std::string());
    }

    void listProtectsTheSystemDiskAndFollowsCards() {
        CTempDir machine;
        CFakeSysfs box(machine.path());
        const dev_t system = folderDevice(output->path());
        box.addDisk("sda", makedev(8, 0), 4000000, false, "System SSD");
        box.addPartition("sda", "sda1", 1, system, 3900000);
        box.addDisk("sdb", makedev(8, 16), 15523840, true, "Card Reader");
        box.addPartition("sdb", "sdb1", 1, makedev(8, 17), 15521792);
        box.addFileSystem(makedev(8, 17), "vfat", "FAT32");
        box.addMount(makedev(8, 17), "/media/me/CARD", "vfat");
        box.addLoop("loop3", makedev(7, 3), 16384, "/home/me/card.img");
        box.addDisk("loop4", makedev(7, 4), 0, false); // nothing attached
        // The running system lies on sda.
        const auto entries = box.driveList(output->path()).list();
        QStringList names;
        for (const auto& entry : entries)
            names << QString::fromStdString(entry.name);
        QCOMPARE(names, QStringList({"loop3", "sda", "sda1", "sdb", "sdb1"}));
        QCOMPARE(CDriveList::displayText(entries[0]),
                 box.devRoot() + "/loop3  8.4 MB  映像 /home/me/card.img");
        QCOMPARE(CDriveList::displayText(entries[2]), box.devRoot() + "/sda1  2.0 GB  (系统盘)");
        QCOMPARE(CDriveList::displayText(entries[4]),
                 box.devRoot() + "/sdb1  7.9 GB  FAT32  挂载于 /media/me/CARD  (可移动)");
        QVERIFY(entries[1].systemDisk && entries[2].systemDisk);
        QVERIFY(!entries[0].systemDisk && !entries[3].systemDisk && !entries[4].systemDisk);

        // The first entry that is not the system's is chosen; the system's never.
        CFakePrompts prompts;
        box.addDisk("sdz", makedev(65, 160), 1000, false); // sorts last
        CDriveList systemFirst = box.driveList(output->path());
        CValloraDlg dialog(&prompts, systemFirst, QUrl());
        CDriveCombo* combo = dialog.driveCombo();
        QCOMPARE(dialog.selectedSource().name, std::string("loop3"));
        // A card put in: the list follows and the choice stays.
        combo->setCurrentIndex(combo->findData(QString::fromStdString(box.devRoot() + "/sdb1")));
        const int before = combo->count();
        box.addDisk("sdc", makedev(8, 32), 2000, true);
        dialog.refreshDrivesIfChanged();
        QCOMPARE(combo->count(), before + 1);
        QCOMPARE(dialog.selectedSource().name, std::string("sdb1"));
        QVERIFY(combo->itemData(1, Qt::ToolTipRole).toString().endsWith("(系统盘)"));
    }

    void emptyMachineSelectsNothing() {
        CTempDir empty;
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, CDriveList(empty.path() + "/sys", empty.path() + "/dev"),
                           QUrl());
        QCOMPARE(dialog.driveCombo()->currentIndex(), -1);
        QCOMPARE(dialog.driveCombo()->count(), 1); // only the image-file chooser
        QVERIFY(dialog.selectedSource().path.empty());
        // With nothing selected any folder is accepted.
        prompts.folderToPick = QString::fromStdString(output->path());
        dialog.OnBnClickedBrowse();
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(dialog.outputFolder(), prompts.folderToPick);
    }

    void listIsRebuiltOnDropDown() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        CDriveCombo* combo = dialog.driveCombo();
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(combo->count(), 9);
        QCOMPARE(combo->itemText(8), QString("选择磁盘映像文件..."));
        combo->setCurrentIndex(5);
        QCOMPARE(dialog.selectedSource().name, std::string("sda1"));
        // A disk that appeared meanwhile shows up when the list drops down.
        fake->addDisk("sdc", makedev(8, 32), 1000, true);
        combo->showPopup();
        combo->hidePopup();
        QCOMPARE(combo->count(), 10);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(dialog.selectedSource().path, fake->devRoot() + "/nvme0n1");
    }

    void imageFileEntry() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        CDriveCombo* combo = dialog.driveCombo();
        const QString image = QString::fromStdString(output->file("card.img"));
        CTempDir::writeFile(image.toStdString(), std::vector<unsigned char>(4096, 0));

        // Cancelled: back to the first entry.
        emit combo->activated(combo->count() - 1);
        QCOMPARE(combo->currentIndex(), 0);

        prompts.imageToPick = image;
        emit combo->activated(combo->count() - 1);
        const tagScanSource source = dialog.selectedSource();
        QCOMPARE(source.path, image.toStdString());
        QCOMPARE(source.name, std::string("card.img"));
        QVERIFY(source.imageFile);
        // The image stays listed when the list is rebuilt.
        dialog.FillDriveList();
        QCOMPARE(combo->itemData(combo->count() - 2).toString(), image);
        QCOMPARE(combo->currentIndex(), 0);
        // An image is not the scanned volume: its own file system takes the output.
        combo->setCurrentIndex(combo->count() - 2);
        QVERIFY(!dialog.onSelectedDrive(QString::fromStdString(output->path())));
    }

    void pickerRefusesFolderOnSelectedDisk() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        CDriveCombo* combo = dialog.driveCombo();
        const QString onDisk = QString::fromStdString(output->path());

        struct {
            const char* device;
            bool refused;
        } cases[] = {{"sdz", true}, {"sdz1", true}, {"sda1", false}, {"nvme0n1", false}};
        for (const auto& c : cases) {
            combo->setCurrentIndex(
                combo->findData(QString::fromStdString(fake->devRoot() + "/" + c.device)));
            QVERIFY(combo->currentIndex() >= 0);
            prompts.messages.clear();
            const QString before = dialog.outputFolder();
            dialog.outputEdit()->setText("typed but not taken");
            prompts.folderToPick = onDisk;
            dialog.OnBnClickedBrowse();
            QCOMPARE(prompts.pickerStart, before);
            if (c.refused) {
                QCOMPARE(prompts.messages, QStringList{CValloraDlg::sameDriveText()});
                QCOMPARE(dialog.outputFolder(), before);
                QCOMPARE(dialog.outputEdit()->text(), QString("typed but not taken"));
            } else {
                QVERIFY2(prompts.messages.isEmpty(), c.device);
                QCOMPARE(dialog.outputFolder(), onDisk);
                QCOMPARE(dialog.outputEdit()->text(), onDisk);
            }
            // A cancelled picker puts the stored folder back into the box.
            prompts.folderToPick.clear();
            dialog.outputEdit()->setText("typed");
            dialog.OnBnClickedBrowse();
            QCOMPARE(dialog.outputEdit()->text(), dialog.outputFolder());
        }
        // Another disk's folder is accepted while sdz is selected.
        combo->setCurrentIndex(combo->findData(QString::fromStdString(fake->devRoot() + "/sdz")));
        prompts.messages.clear();
        prompts.folderToPick = "/proc";
        dialog.OnBnClickedBrowse();
        QVERIFY(prompts.messages.isEmpty());
        QCOMPARE(dialog.outputFolder(), QString("/proc"));
    }

    void typedPathOnScannedDiskRefusedAtStart() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        dialog.show();
        CDriveCombo* combo = dialog.driveCombo();
        combo->setCurrentIndex(combo->findData(QString::fromStdString(fake->devRoot() + "/sdz")));
        dialog.outputEdit()->setText(QString::fromStdString(output->path()));
        dialog.OnBnClickedStartScan();
        QCOMPARE(prompts.messages, QStringList{CValloraDlg::sameDriveText()});
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.scanDialog() == nullptr);
        // The typed path was taken over, and "查看文件夹" opens it.
        dialog.OnBnClickedOpenFolder();
        QCOMPARE(prompts.openedFolders, QStringList{QString::fromStdString(output->path())});
    }

    void statusBarAndCaption() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        QCOMPARE(dialog.windowTitle(), QString("Vallora 照片恢复v2.1"));
        QVERIFY(dialog.statusBar());
        QCOMPARE(dialog.findChildren<QLabel*>().size() >= 3, true);
        QVERIFY(dialog.outputFolder() == CValloraDlg::initialOutputFolder());
        QCOMPARE(dialog.outputEdit()->text(), dialog.outputFolder());
        // Resizable, and usable on a 1280x800 screen scaled by 2.
        QVERIFY(dialog.minimumSize() != dialog.maximumSize());
        const QSize least = dialog.minimumSizeHint();
        QVERIFY2(least.width() <= 640 && least.height() <= 400,
                 qPrintable(QString("%1x%2").arg(least.width()).arg(least.height())));
        CScanDig scan(&dialog, tagScanSource{}, output->path(), &prompts);
        QVERIFY(scan.minimumSizeHint().width() <= 640 && scan.minimumSizeHint().height() <= 400);
        QVERIFY(!(scan.windowFlags() & Qt::WindowStaysOnTopHint));
    }

    void aboutBoxIsModalOverMainDialog() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        dialog.show();
        QString title, text;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box && box != &dialog);
            title = box->windowTitle();
            for (QLabel* label : box->findChildren<QLabel*>())
                text += label->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        dialog.showAbout(); // returns when the box is closed
        QCOMPARE(title, QString("关于 Vallora"));
        QVERIFY(text.contains("Vallora，1.2 版"));
        QVERIFY(dialog.isVisible());
    }

    void enterPressesButtonsAndEscapeKeepsTheDialog() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        dialog.setSourceOpener(
            [](const tagScanSource&, const std::atomic<bool>&) -> std::shared_ptr<CDevice> {
                throw CDeviceOpenError("fake: cannot open", EIO);
            });
        dialog.outputEdit()->setText(QString::fromStdString(output->path()));
        dialog.show();
        QSignalSpy finished(&dialog, &QDialog::finished);
        auto* start = dialog.findChild<QPushButton*>("startButton");
        auto* browse = dialog.findChild<QPushButton*>("browseButton");
        QVERIFY(start->isDefault());
        QSignalSpy started(start, &QPushButton::clicked);
        QSignalSpy browsed(browse, &QPushButton::clicked);

        // Escape, wherever the focus is, does not end the program.
        for (QWidget* focus :
             {static_cast<QWidget*>(dialog.outputEdit()),
              static_cast<QWidget*>(dialog.driveCombo()), static_cast<QWidget*>(browse)}) {
            focus->setFocus();
            QTest::keyClick(focus, Qt::Key_Escape);
            QCOMPARE(finished.count(), 0);
            QVERIFY(dialog.isVisible());
        }
        // Enter on a focused button presses it.
        browse->setFocus();
        QTest::keyClick(browse, Qt::Key_Return);
        QCOMPARE(browsed.count(), 1);
        QCOMPARE(started.count(), 0);
        // Enter in the folder box presses "开始扫描".
        dialog.outputEdit()->setFocus();
        QTest::keyClick(dialog.outputEdit(), Qt::Key_Return);
        QCOMPARE(started.count(), 1);
        QCOMPARE(finished.count(), 0);
        QVERIFY(dialog.scanDialog());
        QTRY_VERIFY(dialog.isVisible()); // the fake source cannot be opened: back again
        // The close box ends it.
        dialog.close();
        QCOMPARE(finished.count(), 1);
    }

    void startChecksTheOutputFolder() {
        const std::string file = output->file("a-file");
        CTempDir::writeFile(file, {1, 2, 3});
        const std::string readOnly = output->file("read-only");
        ::mkdir(readOnly.c_str(), 0555);
        struct {
            std::string folder;
            const char* reason; // the end of the reason shown
            bool skipAsRoot;    // root writes into any folder
        } cases[] = {
            {output->file("missing"), ": No such file or directory", false},
            {file, " is not a folder", false},
            {readOnly, " is not writable: Permission denied", true},
        };
        for (const auto& c : cases) {
            if (c.skipAsRoot && ::geteuid() == 0)
                continue;
            CFakePrompts prompts;
            CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
            dialog.show();
            dialog.outputEdit()->setText(QString::fromStdString(c.folder));
            dialog.OnBnClickedStartScan();
            QCOMPARE(prompts.warnings.size(), 1);
            const QString expected = "恢复的文件不能保存到这个文件夹。\n\noutput folder " +
                                     QString::fromStdString(c.folder) + c.reason;
            QCOMPARE(prompts.warnings.first(), expected);
            QVERIFY(dialog.isVisible());
            QVERIFY(!dialog.scanDialog());
        }
    }

    void blockDevicePickedAsImageRefusesAFolderOnIt() {
        const std::string why = CLoopDevice::unavailableReason();
        if (!why.empty())
            QSKIP(why.c_str());
        if (!CDiskImageMaker::haveTool("mke2fs"))
            QSKIP("mke2fs is not installed");
        CTempDir dir;
        const std::string image = dir.file("card.img");
        QVERIFY(CDiskImageMaker::run("truncate -s 8M " + CDiskImageMaker::quote(image) +
                                     " && mke2fs -q -F -t ext2 " + CDiskImageMaker::quote(image)));
        CLoopDevice loop(image);
        QVERIFY(loop.attached());
        ::mkdir(dir.file("mnt").c_str(), 0755);
        CMountPoint mount(CMountPoint::mountCommand(loop.path(), dir.file("mnt")), dir.file("mnt"));
        QVERIFY(mount.mounted());
        const QString onCard = QString::fromStdString(dir.file("mnt"));

        // The device itself, and the image file behind it, picked as images.
        for (const std::string& picked : {loop.path(), image}) {
            CFakePrompts prompts;
            // The machine's own sysfs tells what the loop device stores its blocks in.
            CValloraDlg dialog(&prompts, CDriveList(), QUrl());
            dialog.show();
            prompts.imageToPick = QString::fromStdString(picked);
            emit dialog.driveCombo()->activated(dialog.driveCombo()->count() - 1);
            QCOMPARE(dialog.selectedSource().imageFile, picked == image);
            dialog.outputEdit()->setText(onCard);
            dialog.OnBnClickedStartScan();
            QVERIFY2(prompts.messages == QStringList{CValloraDlg::sameDriveText()},
                     qPrintable(prompts.messages.join('|') + picked.c_str()));
            QVERIFY(!dialog.scanDialog());
            // The picker refuses it as well.
            prompts.folderToPick = onCard;
            dialog.OnBnClickedBrowse();
            QCOMPARE(prompts.messages,
                     QStringList({CValloraDlg::sameDriveText(), CValloraDlg::sameDriveText()}));
        }
    }

    void openFolderOpensTheFolderInTheBox() {
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
        const QString typed = QString::fromStdString(output->path());
        dialog.outputEdit()->setText(typed);
        dialog.OnBnClickedOpenFolder();
        QCOMPARE(prompts.openedFolders, QStringList{typed});
        // A folder that is not there is said so, not opened.
        dialog.outputEdit()->setText(typed + "/missing");
        dialog.OnBnClickedOpenFolder();
        QCOMPARE(prompts.openedFolders, QStringList{typed});
        QCOMPARE(prompts.warnings, QStringList{"文件夹不存在:" + typed + "/missing"});
    }

    void startWithNothingToScanSaysSo() {
        CTempDir empty;
        CFakePrompts prompts;
        CValloraDlg dialog(&prompts, CDriveList(empty.path() + "/sys", empty.path() + "/dev"),
                           QUrl());
        dialog.show();
        dialog.outputEdit()->setText(QString::fromStdString(output->path()));
        dialog.OnBnClickedStartScan();
        QCOMPARE(prompts.warnings, QStringList{"请选择要扫描的盘,或者选择一个磁盘映像文件。"});
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.scanDialog());
    }

    void defaultOutputFolderIsMadeWhenFirstUsed() {
        CTempDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QByteArray::fromStdString(home.path()));
        CFakePrompts prompts;
        {
            CValloraDlg dialog(&prompts, fake->driveList(), QUrl());
            const QString folder = dialog.outputFolder();
            QCOMPARE(folder, QString::fromStdString(home.path()) + "/Pictures/Vallora");
            QVERIFY(!QFileInfo::exists(folder));
            const QString image = QString::fromStdString(home.file("card.img"));
            CTempDir::writeFile(image.toStdString(), std::vector<unsigned char>(8192, 0));
            prompts.imageToPick = image;
            emit dialog.driveCombo()->activated(dialog.driveCombo()->count() - 1);
            dialog.OnBnClickedStartScan();
            QVERIFY(QFileInfo(folder).isDir());
            QVERIFY(dialog.scanDialog());
            QTRY_VERIFY(dialog.scanDialog()->workerFinished());
        }
        qputenv("HOME", oldHome);
    }

private:
    std::unique_ptr<CTempDir> root;
    std::unique_ptr<CTempDir> output;
    std::unique_ptr<CFakeSysfs> fake;
};

QTEST_MAIN(TestAppDrives)
#include "AppDrivesTest.moc"
