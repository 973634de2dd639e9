#pragma once

#include "cli/CCliOptions.h"

#include <string>
#include <vector>

// Parses args as vallora-recover's command line (the program name is added).
inline bool parseArgs(std::vector<std::string> args, CCliOptions& options, std::string& error) {
    args.insert(args.begin(), "vallora-recover");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    return options.parse(int(argv.size()), argv.data(), error);
}
