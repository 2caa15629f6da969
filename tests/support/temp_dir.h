#pragma once
// A temporary folder for one test, removed with everything in it afterwards.

#include <filesystem>
#include <string>
#include <string_view>

namespace sorvane::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// Full path of `relative` inside the folder, as text.
    std::string file(std::string_view relative) const;
    /// Writes `contents` to `relative`, creating the folders on the way.
    std::string write(std::string_view relative, std::string_view contents) const;
    /// The bytes of `relative`.
    std::string read(std::string_view relative) const;

private:
    std::filesystem::path path_;
};

} // namespace sorvane::test
