// vallora-screenshots OUTPUT_DIR [LOCALE]
//
// Shows the main dialog on a small made-up machine, a scan dialog in the
// middle of a sweep, the Cancel question, the box of a scan that cannot
// start and the About box, in the language of LOCALE (zh_CN by default),
// and saves each as a PNG for the documentation: main-dialog.png and so on,
// with "-en" before the ".png" for English. Run it under Xvfb (xvfb-run) or
// with QT_QPA_PLATFORM=offscreen.
#include "CFakeSysfs.h"
#include "app/CAboutDlg.h"
#include "app/CDriveCombo.h"
#include "app/CScanDig.h"
#include "app/CUserPrompts.h"
#include "app/CValloraApp.h"
#include "app/CValloraDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QString suffix;
QString folder;
bool allSaved = true;

void settle(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

void save(QWidget& widget, const QString& name) {
    settle();
    const QString path = folder + "/" + name + suffix + ".png";
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    allSaved = allSaved && ok;
}

// Saves the box that show() opens, then closes it.
void saveBox(const QString& name, const std::function<void()>& show) {
    QTimer::singleShot(600, [name] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) {
            std::printf("no box for %s\n", qPrintable(name));
            allSaved = false;
            return;
        }
        save(*box, name);
        box->close();
    });
    show();
}

dev_t deviceOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_dev;
}

} // namespace

int main(int argc, char** argv) {
    CValloraApp app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: vallora-screenshots OUTPUT_DIR [LOCALE]\n");
        return 2;
    }
    folder = QString::fromLocal8Bit(argv[1]);
    const QLocale locale(argc == 3 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("zh_CN"));
    suffix = locale.language() == QLocale::Chinese ? QString() : QStringLiteral("-en");
    QDir().mkpath(folder);
    CValloraApp::installTranslations(locale);
    QLocale::setDefault(locale);

    // A laptop whose system lies on its NVMe disk, with a camera card in its reader.
    QTemporaryDir machineDir;
    const std::string machine = QFile::encodeName(machineDir.path()).toStdString();
    CFakeSysfs box(machine);
    box.addDisk("nvme0n1", makedev(259, 0), 1000215216, false, "Samsung SSD 970");
    box.addPartition("nvme0n1", "nvme0n1p1", 1, makedev(259, 1), 1048576);
    box.addPartition("nvme0n1", "nvme0n1p2", 2, deviceOf(machineDir.path()), 999164592);
    box.addFileSystem(deviceOf(machineDir.path()), "ext4", "1.0");
    box.addDisk("sdb", makedev(8, 16), 15523840, true, "Card Reader");
    box.addPartition("sdb", "sdb1", 1, makedev(8, 17), 15521792);
    box.addFileSystem(makedev(8, 17), "vfat", "FAT32");
    box.addLabel("CANON", "sdb1");
    box.addMount(makedev(8, 17), "/media/anna/CANON", "vfat");

    CUserPrompts prompts;
    CValloraDlg main(&prompts, CDriveList(box.sysRoot(), "/dev", box.mountInfo(), machine), QUrl());
    main.outputEdit()->setText(QStringLiteral("/home/anna/Pictures/Vallora"));
    main.resize(860, main.height());
    CDriveCombo* combo = main.driveCombo();
    combo->setCurrentIndex(combo->findData(QStringLiteral("/dev/sdb1")));
    main.show();
    save(main, "main-dialog");
    // The list open: the system's disk is marked.
    QTimer::singleShot(300, [combo] {
        QWidget* popup = combo->view()->window();
        save(*popup, "drive-list");
        combo->hidePopup();
    });
    combo->QComboBox::showPopup();
    settle(30);

    auto* scan = new CScanDig(&main, tagScanSource{}, "/tmp", &prompts);
    scan->show();
    // What the scan engine shows part way through a sweep of a 7.9 GB card,
    // fed over a few seconds so that the pace and the time left are known.
    scan->setCaption("正在搜索sdb1盘文件");
    scan->setClusterSize(512);
    scan->showLabelText(CScanDig::kTotalLabel, "总扇区:15521792");
    scan->setProgressRange(15521792);
    const uint32_t perStep = 85000000 / 512 / 10; // 85 MB/s in steps of 0.1 s
    uint32_t position = 0;
    for (int step = 0; step < 40; ++step) {
        position += perStep;
        scan->setProgressPos(position);
        settle(5);
    }
    char text[64];
    std::snprintf(text, sizeof text, "已扫描:%u个扇区", position);
    scan->showLabelText(CScanDig::kSweptLabel, text);
    std::snprintf(text, sizeof text, "%.2f%%", position * 100.0 / 15521792);
    scan->showLabelText(CScanDig::kPercentLabel, text);
    scan->showLabelText(CScanDig::kFoundLabel, "找到27个文件");
    save(*scan, "scan-dialog");

    saveBox("cancel-question", [&] {
        prompts.stopQuestion(
            scan, QCoreApplication::translate("CScanDig", "取消扫描以后,恢复已经扫描到的文件"),
            QCoreApplication::translate("CScanDig", "提示"));
    });
    saveBox("error-box", [&] {
        prompts.warning(
            scan,
            QCoreApplication::translate("CScanWorker", "无法打开要扫描的盘或磁盘映像文件。") +
                "\n\ncannot open the source /dev/sdb1: udisks2: Not authorized to "
                "perform operation",
            QCoreApplication::translate("CScanDig", "无法开始扫描"));
    });
    delete scan;

    CAboutDlg about(&main);
    about.show();
    save(about, "about-box");
    return allSaved ? 0 : 1;
}
