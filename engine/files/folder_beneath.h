#pragma once
// Reaching a folder below another through descriptors only: one name at a
// time from the folder's own descriptor, never through a symbolic link, so
// that whatever is written there stays inside the folder the user named
// however its sub-folders are swapped for links meanwhile.

#include "engine/failure.h"
#include "engine/files/unique_fd.h"

#include <span>
#include <string>
#include <string_view>

namespace sorvane {

/// Opens the folder `parts` ("a", "b" for "a/b") below the folder open as
/// `root`, never following a link on the way; with `create`, each missing
/// folder is made (0777 less the umask) as the walk reaches it. Gives a
/// descriptor for the *at calls (opened for reading where the folder may be
/// read, else as a path). `rootPath` only names the folders in a failure.
/// The parts must be plain names: empty, "." and ".." are refused.
/// A failure names the folder that stopped the walk (under `rootPath`):
/// SymbolicLink for a link on the way, NameTaken (step MakeFolder) for
/// something other than a folder, FolderMissing for a folder that is not
/// there and was not to be made, the system's error with step MakeFolder for
/// one that could not be made, and with step OpenFolder for one that could
/// not be opened.
Result<UniqueFd> OpenFolderBeneath(int root, std::string_view rootPath,
                                   std::span<const std::string_view> parts, bool create);

/// The folder named `path`, opened as OpenFolderBeneath opens the folders
/// below it (links in `path` itself are followed: it is the user's name).
/// -1 with errno set when it cannot be opened.
UniqueFd OpenNamedFolder(const std::string& path);

} // namespace sorvane
