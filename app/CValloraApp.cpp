#include "app/CValloraApp.h"

#include "app/CPublisher.h"
#include "app/CValloraDlg.h"

#include <QIcon>

static void registerResources() {
    Q_INIT_RESOURCE(vallora);
}

CValloraApp::CValloraApp(int& argc, char** argv) : QApplication(argc, argv) {
    initResources();
}

void CValloraApp::initResources() {
    static const bool done = (registerResources(), true);
    (void)done;
}

int CValloraApp::InitInstance() {
    setApplicationName(QString::fromUtf8(CPublisher::kDisplayName));
    setApplicationDisplayName(QString::fromUtf8(CPublisher::kDisplayName));
    setDesktopFileName(QStringLiteral("vallora"));
    setWindowIcon(QIcon(QStringLiteral(":/vallora/vallora.png")));
    // Named as the program always has; nothing is stored under it.
    setOrganizationName(QString::fromUtf8(CPublisher::kSettingsKey));
    // The main dialog hides itself during a scan: that must not end the program.
    setQuitOnLastWindowClosed(false);

    CValloraDlg dialog;
    connect(&dialog, &QDialog::finished, this, [] { QCoreApplication::exit(0); });
    connect(&dialog, &CValloraDlg::programEndRequested, this, [] { QCoreApplication::exit(0); });
    dialog.show();
    return exec();
}
