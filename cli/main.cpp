#include "cli/CRecoverCommand.h"

int main(int argc, char** argv) {
    return CRecoverCommand().run(argc, argv);
}
