#pragma once

#include <QApplication>

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
};
