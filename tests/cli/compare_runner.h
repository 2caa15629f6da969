#pragma once
// Runs `sorvane-cli compare` on the folders src and dst of a test folder,
// keeping what it printed.

#include "cli/commands.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace sorvane::cli::test_compare {

class CompareRunner : public ::testing::Test {
protected:
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), {dir.file("src"), dir.file("dst")});
        return RunCompare(args, out, err);
    }

    test::TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
};

} // namespace sorvane::cli::test_compare
