// sorvane-cli: the command-line face of the comparison engine.

#include "commands.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // Past a file size limit a write fails with EFBIG instead of ending the
    // program, so a full output file is reported rather than cut silently.
    std::signal(SIGXFSZ, SIG_IGN);
    std::ios::sync_with_stdio(false);
    int status = sorvane::cli::RunProgram(std::vector<std::string>(argv + 1, argv + argc),
                                          std::cout, std::cerr);
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "sorvane-cli: the output could not be written in full\n";
        status = 2;
    }
    return status;
}
