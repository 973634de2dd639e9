#include "cli/CRecoverCommand.h"

#include <csignal>

int main(int argc, char** argv) {
    // A file-size limit must fail the write of a recovered file, not kill
    // the program before it can tell which files were not written.
    std::signal(SIGXFSZ, SIG_IGN);
    return CRecoverCommand().run(argc, argv);
}
