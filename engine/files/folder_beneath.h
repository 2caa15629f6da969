#pragma once
// Reaching a folder below another through descriptors only: one name at a
// time from the folder's own descriptor, never through a symbolic link, so
// that whatever is written there stays inside the folder the user named
// however its sub-folders are swapped for links meanwhile.

#include "engine/files/unique_fd.h"

#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace sorvane {

/// Why a folder below another could not be reached.
struct BeneathFailure {
    enum class Kind {
        Link,      ///< a name on the way is a symbolic link
        NotFolder, ///< a name on the way is something other than a folder
        Missing,   ///< a folder on the way is not there (and was not to be made)
        NotMade,   ///< a missing folder could not be made; `error` says why
        Error,     ///< a folder could not be opened; `error` says why
    };
    Kind kind = Kind::Error;
    std::string path; ///< the name that stopped the walk, under the root's path
    int error = 0;
};

/// Opens the folder `parts` ("a", "b" for "a/b") below the folder open as
/// `root`, never following a link on the way; with `create`, each missing
/// folder is made (0777 less the umask) as the walk reaches it. Gives a
/// descriptor for the *at calls (opened for reading where the folder may be
/// read, else as a path). `rootPath` only names the folders in a failure.
/// The parts must be plain names: empty, "." and ".." are refused.
std::expected<UniqueFd, BeneathFailure> OpenFolderBeneath(int root, std::string_view rootPath,
                                                          std::span<const std::string_view> parts,
                                                          bool create);

/// The folder named `path`, opened as OpenFolderBeneath opens the folders
/// below it (links in `path` itself are followed: it is the user's name).
/// -1 with errno set when it cannot be opened.
UniqueFd OpenNamedFolder(const std::string& path);

/// One line for the user: "/t/sub is a symbolic link; Sorvane does not copy
/// through links", "cannot make the folder /t/sub: a file has that name", ...
std::string BeneathFailureText(const BeneathFailure& failure);

/// The text of a link refusal for `path`.
std::string LinkRefusalText(std::string_view path);

} // namespace sorvane
