// vallora-screenshots OUTPUT_DIR
//
// Shows the main dialog, a scan dialog in the middle of a sweep and the
// About box, and saves each as a PNG for the documentation. Run it under
// Xvfb (xvfb-run) or with QT_QPA_PLATFORM=offscreen.
#include "app/CAboutDlg.h"
#include "app/CScanDig.h"
#include "app/CUserPrompts.h"
#include "app/CValloraApp.h"
#include "app/CValloraDlg.h"

#include <QDir>
#include <QPixmap>
#include <QThread>

namespace {

void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

bool save(QWidget& widget, const QString& path) {
    settle();
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    CValloraApp app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vallora-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    app.setApplicationDisplayName(QStringLiteral("Vallora 照片恢复"));

    CUserPrompts prompts;
    CValloraDlg main(&prompts, CDriveList(), QUrl());
    main.show();
    bool ok = save(main, dir + "/main-dialog.png");

    auto* scan = new CScanDig(&main, tagScanSource{}, "/tmp", &prompts);
    scan->OnInitDialog();
    scan->show();
    // What the scan engine shows part way through a sweep of a 7.9 GB card.
    scan->setCaption("正在搜索sdb1盘文件");
    scan->showLabelText(CScanDig::kTotalLabel, "总扇区:15523840");
    scan->setProgressRange(15523840);
    scan->setProgressPos(6127616);
    scan->showLabelText(CScanDig::kSweptLabel, "已扫描:6127616个扇区");
    scan->showLabelText(CScanDig::kPercentLabel, "39.47%");
    scan->showLabelText(CScanDig::kFoundLabel, "找到27个文件");
    ok = save(*scan, dir + "/scan-dialog.png") && ok;

    CAboutDlg about(&main);
    about.show();
    ok = save(about, dir + "/about-box.png") && ok;
    return ok ? 0 : 1;
}
