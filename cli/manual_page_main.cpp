// Writes the manual page of sorvane-cli to standard output:
//   sorvane-cli-manual VERSION DATE

#include "help_texts.h"
#include "manual_page.h"

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: sorvane-cli-manual VERSION DATE\n";
        return 2;
    }
    std::cout << sorvane::cli::ManualPage(sorvane::cli::ManualText(), {argv[1], argv[2]});
    std::cout.flush();
    return std::cout ? 0 : 1;
}
