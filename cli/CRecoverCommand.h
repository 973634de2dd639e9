#pragma once

// The vallora-recover program: checks its arguments, opens the source,
// sweeps it and writes what it finds. Returns the exit status.
class CRecoverCommand {
public:
    int run(int argc, char** argv);
};
