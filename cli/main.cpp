#include "cli/CRecoverCommand.h"

#ifdef _WIN32
#include "platform/win32/CWinConsole.h"

#include <string>
#include <vector>

int main() {
    // Paths and messages are UTF-8 inside the program.
    CWinConsole::useUtf8();
    std::vector<std::string> arguments = CWinConsole::utf8Arguments();
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return CRecoverCommand().run(int(arguments.size()), argv.data());
}
#else
#include <csignal>

int main(int argc, char** argv) {
    // A file-size limit must fail the write of a recovered file, not kill
    // the program before it can tell which files were not written.
    std::signal(SIGXFSZ, SIG_IGN);
    return CRecoverCommand().run(argc, argv);
}
#endif
