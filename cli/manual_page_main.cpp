// Writes what is made from the command table at build time to standard
// output: the manual page of sorvane-cli, or a shell's completion script.
//   sorvane-cli-manual VERSION DATE
//   sorvane-cli-manual --completion bash|zsh|fish

#include "completion.h"
#include "help_texts.h"
#include "manual_page.h"

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--completion") {
        const auto shell = sorvane::cli::ShellNamed(argv[2]);
        if (!shell) {
            std::cerr << "sorvane-cli-manual: no completion for the shell '" << argv[2] << "'\n";
            return 2;
        }
        std::cout << sorvane::cli::Completion(*shell);
    } else if (argc == 3) {
        std::cout << sorvane::cli::ManualPage(sorvane::cli::ManualText(), {argv[1], argv[2]});
    } else {
        std::cerr << "usage: sorvane-cli-manual VERSION DATE\n"
                     "       sorvane-cli-manual --completion bash|zsh|fish\n";
        return 2;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
