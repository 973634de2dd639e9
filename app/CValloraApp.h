#pragma once

#include <QApplication>
#include <QLocale>

// The application object: prepares the UI platform, runs the main dialog
// and ends the program when that dialog ends or a scan has ended.
class CValloraApp : public QApplication {
    Q_OBJECT
public:
    CValloraApp(int& argc, char** argv);

    // Runs the main dialog; returns the program's exit status.
    int InitInstance();
    // Makes the program's pictures available (they live in a static library).
    static void initResources();
    // Speaks the language of locale: the program's own Chinese texts for
    // Chinese, English for every other language, with Qt's own translations
    // (standard buttons, file dialogs) to match. Replaces what an earlier
    // call installed; returns false when a translation could not be loaded.
    static bool installTranslations(const QLocale& locale);
};
