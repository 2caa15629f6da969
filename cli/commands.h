#pragma once
// The commands of sorvane-cli. Each takes the arguments after its name and
// returns the exit status.

#include <iosfwd>
#include <string>
#include <vector>

namespace sorvane::cli {

inline constexpr int kUsageError = 2;

/// Writes "sorvane-cli: message" and the help hint to `err`; returns 2.
int UsageError(std::ostream& err, const std::string& message);

int RunOrder(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunLanguage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSettingsFile(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCompare(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace sorvane::cli
