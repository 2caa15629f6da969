// sorvane-cli: the command-line face of the comparison engine.

#include "commands.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return sorvane::cli::RunProgram(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                    std::cerr);
}
