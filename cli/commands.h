#pragma once
// The commands of sorvane-cli. Each takes the arguments after its name and
// returns the exit status.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::cli {

inline constexpr int kUsageError = 2;

/// Writes "sorvane-cli: message" (or "sorvane-cli COMMAND: message") and the
/// hint to the help (the command's help when `command` is given) to `err`;
/// returns 2.
int UsageError(std::ostream& err, const std::string& message, std::string_view command = {});

/// The whole program: `args` are the arguments after the program's name.
int RunProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int RunOrder(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunLanguage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSettingsFile(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCopy(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCompare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunExecute(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace sorvane::cli
