#include "app/CValloraApp.h"

#include <csignal>

int main(int argc, char** argv) {
    // A file-size limit must fail the write of a recovered file, not kill
    // the program before it can tell which files were not written.
    std::signal(SIGXFSZ, SIG_IGN);
    CValloraApp app(argc, argv);
    return app.InitInstance();
}
