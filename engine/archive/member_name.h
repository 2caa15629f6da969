#pragma once
// The names of the members of archives and installers, made into relative
// paths below the tree's root the way a folder's paths are written.

#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

/// `stored` as a path below the tree's root, parts joined by one "/": parts
/// that are "." or empty (a leading "./", a doubled or trailing "/") are
/// dropped, so "./bin//a.dll" gives "bin/a.dll" and "bin/" gives "bin". The
/// root itself gives empty text. Nothing when the name could lead outside the
/// tree or means something else on another system: an absolute name, a ".."
/// part, a backslash, or a NUL byte.
std::optional<std::string> NormalizeMemberName(std::string_view stored);

/// The part of a normalised name after its last "/" (all of it without one).
std::string_view MemberFileName(std::string_view name);

} // namespace sorvane
