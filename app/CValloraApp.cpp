#include "app/CValloraApp.h"

#include "app/CPublisher.h"
#include "app/CValloraDlg.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

static void registerResources() {
    Q_INIT_RESOURCE(vallora);
    Q_INIT_RESOURCE(vallora_translations);
}

CValloraApp::CValloraApp(int& argc, char** argv) : QApplication(argc, argv) {
    initResources();
}

void CValloraApp::initResources() {
    static const bool done = (registerResources(), true);
    (void)done;
}

bool CValloraApp::installTranslations(const QLocale& locale) {
    initResources();
    static std::unique_ptr<QTranslator> own, qt;
    for (auto* installed : {&own, &qt}) {
        if (*installed)
            QCoreApplication::removeTranslator(installed->get());
        installed->reset();
    }
    bool ok = true;
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (locale.language() == QLocale::Chinese) {
        // The texts are Chinese already; Qt's own buttons and dialogs follow.
        qt = std::make_unique<QTranslator>();
        ok = qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), qtFolder);
    } else {
        own = std::make_unique<QTranslator>();
        ok = own->load(QStringLiteral(":/i18n/vallora_en.qm"));
    }
    for (auto* loaded : {&own, &qt}) {
        if (*loaded && !(*loaded)->isEmpty())
            QCoreApplication::installTranslator(loaded->get());
        else
            loaded->reset();
    }
    return ok;
}

int CValloraApp::InitInstance() {
    installTranslations(QLocale());
    setApplicationName(QString::fromUtf8(CPublisher::kShortName));
    setApplicationDisplayName(CPublisher::text(CPublisher::kDisplayName));
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
