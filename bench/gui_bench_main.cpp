// vallora-gui-bench IMAGE OUTPUT_DIR
//
// Runs one scan of a disk image through the desktop program's dialogs, as a
// user would start it, with the summary box answered at once. Prints the
// seconds from "开始扫描" to the end of the program. Used by
// bench/gui-vs-cli-bench.sh.
#include "app/CDriveCombo.h"
#include "app/CUserPrompts.h"
#include "app/CValloraApp.h"
#include "app/CValloraDlg.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>

namespace {

// Chooses the image when asked, closes every box at once, opens nothing.
class CBenchPrompts : public CUserPrompts {
public:
    explicit CBenchPrompts(QString image) : image(std::move(image)) {}
    QString pickImageFile(const QString&) override { return image; }
    void message(QWidget*, const QString& text, const QString&) override { summary = text; }
    void openFolder(const QString&) override {}
    QString image;
    QString summary;
};

} // namespace

int main(int argc, char** argv) {
    CValloraApp app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: vallora-gui-bench IMAGE OUTPUT_DIR\n");
        return 2;
    }
    CBenchPrompts prompts(QString::fromLocal8Bit(argv[1]));
    CValloraDlg dialog(&prompts, CDriveList(), QUrl());
    dialog.show();
    CDriveCombo* combo = dialog.driveCombo();
    emit combo->activated(combo->count() - 1); // choose the image file
    dialog.outputEdit()->setText(QString::fromLocal8Bit(argv[2]));

    QElapsedTimer timer;
    QObject::connect(&dialog, &CValloraDlg::programEndRequested, &app, [&] {
        std::printf("%.3f\n", double(timer.nsecsElapsed()) / 1e9);
        std::fprintf(stderr, "%s\n", qPrintable(prompts.summary));
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(0, &dialog, [&] {
        timer.start();
        dialog.OnBnClickedStartScan();
    });
    return app.exec();
}
