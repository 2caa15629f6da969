#include "support/scan_files.h"

#include "support/byte_writer.h"
#include "support/pe_builder.h"
#include "support/version_block_builder.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>
#include <stdexcept>

namespace sorvane::test {

namespace {

// The version resource of `file`.
std::string VersionBlock(const VersionedFile& file) {
    const auto& v = file.version;
    const std::uint32_t ms = (std::uint32_t{v[0]} << 16) | v[1];
    const std::uint32_t ls = (std::uint32_t{v[2]} << 16) | v[3];
    char table[16];
    std::snprintf(table, sizeof table, "%04X04B0", file.language);
    return Serialize32(RootNode(
        FixedInfoBytes(ms, ls, ms, ls),
        {Container("StringFileInfo",
                   {Container(table, {StringNode("FileDescription", file.description),
                                      StringNode("LegalCopyright", file.copyright)})}),
         Container("VarFileInfo", {TranslationNode({{file.language, 0x04B0}})})}));
}

void PadTo4(std::string& out) {
    while (out.size() % 4 != 0)
        out.push_back('\0');
}

// Metadata with a Module and an Assembly table (ECMA-335 II.24): the root,
// the #~, #Strings, #GUID and #Blob streams, small heap indexes.
std::string AssemblyMetadata(const std::string& name, std::array<std::uint16_t, 4> version) {
    std::string strings(1, '\0');
    const auto nameAt = static_cast<std::uint16_t>(strings.size());
    strings += name + '\0';
    const auto moduleAt = static_cast<std::uint16_t>(strings.size());
    strings += name + ".dll" + '\0';
    PadTo4(strings);
    const std::string guids(16, '\x5A');
    const std::string blobs(4, '\0'); // the empty blob, padded

    std::string tables;
    AppendU32(tables, 0);                                    // Reserved
    AppendU8(tables, 2), AppendU8(tables, 0);                // MajorVersion, MinorVersion
    AppendU8(tables, 0);                                     // HeapSizes: 2-byte indexes
    AppendU8(tables, 1);                                     // Reserved
    AppendU64(tables, (std::uint64_t{1} << 0x20) | 1u);      // Valid: Module, Assembly
    AppendU64(tables, 0);                                    // Sorted
    AppendU32(tables, 1), AppendU32(tables, 1);              // rows of each
    AppendU16(tables, 0), AppendU16(tables, moduleAt);       // Module: Generation, Name
    AppendU16(tables, 1), AppendU16(tables, 0), AppendU16(tables, 0); // Mvid, EncId, EncBaseId
    AppendU32(tables, 0x8004);                               // Assembly: HashAlgId (SHA-1)
    for (const std::uint16_t part : version)                 // Major, Minor, Build, Revision
        AppendU16(tables, part);
    AppendU32(tables, 0);                                    // Flags
    AppendU16(tables, 0);                                    // PublicKey: none
    AppendU16(tables, nameAt), AppendU16(tables, 0);         // Name, Culture (neutral)
    PadTo4(tables);

    std::string root;
    AppendU32(root, 0x424A5342); // "BSJB"
    AppendU16(root, 1), AppendU16(root, 1), AppendU32(root, 0);
    const std::string runtime("v4.0.30319\0\0", 12);
    AppendU32(root, static_cast<std::uint32_t>(runtime.size()));
    root += runtime;
    AppendU16(root, 0), AppendU16(root, 4); // Flags, Streams
    const std::pair<std::string, const std::string*> streams[] = {
        {std::string("#~\0\0", 4), &tables},
        {std::string("#Strings\0\0\0\0", 12), &strings},
        {std::string("#GUID\0\0\0", 8), &guids},
        {std::string("#Blob\0\0\0", 8), &blobs}};
    std::size_t at = root.size();
    for (const auto& [streamName, bytes] : streams)
        at += 8 + streamName.size();
    for (const auto& [streamName, bytes] : streams) {
        AppendU32(root, static_cast<std::uint32_t>(at));
        AppendU32(root, static_cast<std::uint32_t>(bytes->size()));
        root += streamName;
        at += bytes->size();
    }
    for (const auto& stream : streams)
        root += *stream.second;
    return root;
}

} // namespace

std::string AssemblyPe(const VersionedFile& file, std::array<std::uint16_t, 4> assemblyVersion,
                       const std::string& name) {
    // The code section holds the CLI header and, after it, the metadata.
    constexpr std::uint32_t kClrHeaderBytes = 72;
    const std::string metadata = AssemblyMetadata(name, assemblyVersion);
    PeOptions options;
    AppendU32(options.code, kClrHeaderBytes);                  // cb
    AppendU16(options.code, 2), AppendU16(options.code, 5);   // runtime version 2.5
    AppendU32(options.code, kPeCodeRva + kClrHeaderBytes);     // MetaData: RVA
    AppendU32(options.code, static_cast<std::uint32_t>(metadata.size())); // and size
    AppendU32(options.code, 1);                                // Flags: IL only
    AppendU32(options.code, 0);                                // EntryPointToken
    options.code.append(6 * 8, '\0'); // Resources .. ManagedNativeHeader: none
    options.code += metadata;
    options.clrRva = kPeCodeRva;
    options.clrSize = kClrHeaderBytes;
    std::string bytes = BuildPe({TestResource{ResourceId::Number(kResourceTypeVersion),
                                              ResourceId::Number(kVersionResourceName),
                                              file.language, VersionBlock(file)}},
                                options)
                            .bytes;
    bytes.append(file.extraBytes, '\0');
    return bytes;
}

std::string VersionedPe(const VersionedFile& file) {
    std::string bytes = BuildPe({TestResource{ResourceId::Number(kResourceTypeVersion),
                                              ResourceId::Number(kVersionResourceName),
                                              file.language, VersionBlock(file)}})
                            .bytes;
    bytes.append(file.extraBytes, '\0');
    return bytes;
}

namespace {

// The folder that `names` lead to from `root`, opened one name at a time
// (and made on the way when `make` is set); -1 when it cannot be reached.
int OpenFolderChain(const std::string& root, const std::vector<std::string>& names, bool make) {
    int folder = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& name : names) {
        if (folder < 0)
            return -1;
        if (make)
            ::mkdirat(folder, name.c_str(), 0755);
        const int next = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = next;
    }
    return folder;
}

std::vector<std::string> Names(std::string_view relative) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < relative.size()) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        if (end > start)
            names.emplace_back(relative.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

void RemoveAt(int parent, const std::string& name) {
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(parent, name.c_str(), 0);
        return;
    }
    (void)!::fchmodat(parent, name.c_str(), 0700, 0); // tests lock folders
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
        } else {
            std::vector<std::string> children;
            while (const dirent* e = ::readdir(dir))
                if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..")
                    children.emplace_back(e->d_name);
            for (const auto& child : children)
                RemoveAt(::dirfd(dir), child);
            ::closedir(dir);
        }
    }
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

// The bytes of address space the process has mapped.
std::size_t MappedBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Exit status of a child whose limits could not be put in place.
constexpr int kLimitsRefused = 77;

[[noreturn]] void RunChild(int out, const ChildLimits& limits,
                           const std::function<int(std::string&)>& body) {
    // The output pipe becomes descriptor 3 and nothing above it stays open,
    // so a limit of descriptors means the same in every run.
    if (out != 3) {
        ::dup2(out, 3);
        ::close(out);
    }
    ::close_range(4, ~0U, 0);
    const auto limit = [](int resource, rlim_t value) {
        const rlimit r{value, value};
        if (::setrlimit(resource, &r) != 0)
            ::_exit(kLimitsRefused);
    };
    if (limits.freeDescriptors)
        limit(RLIMIT_NOFILE, static_cast<rlim_t>(4 + *limits.freeDescriptors));
    if (limits.processes)
        limit(RLIMIT_NPROC, static_cast<rlim_t>(*limits.processes));
    if ((limits.unprivileged || limits.processes) && ::geteuid() == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0)
            ::_exit(kLimitsRefused);
    }
    if (limits.spareAddressSpace)
        limit(RLIMIT_AS, static_cast<rlim_t>(MappedBytes() + *limits.spareAddressSpace));
    int status = 125;
    std::string output;
    try {
        status = body(output);
    } catch (...) {
        output += "\nthe test body threw";
    }
    for (std::size_t done = 0; done < output.size();) {
        const ssize_t n = ::write(3, output.data() + done, output.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::_exit(status);
}

} // namespace

void WriteDeep(const std::string& root, std::string_view relative, std::string_view contents) {
    std::vector<std::string> names = Names(relative);
    const std::string file = names.back();
    names.pop_back();
    const int folder = OpenFolderChain(root, names, true);
    if (folder < 0)
        throw std::runtime_error("cannot make the folders of a deep file");
    const int fd = ::openat(folder, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ::close(folder);
    if (fd < 0)
        throw std::runtime_error("cannot write a deep file");
    const bool written =
        ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    ::close(fd);
    if (!written)
        throw std::runtime_error("cannot write a deep file");
}

void RemoveDeep(const std::string& root, std::string_view relative) {
    std::vector<std::string> names = Names(relative);
    const std::string last = names.back();
    names.pop_back();
    const int folder = OpenFolderChain(root, names, false);
    if (folder < 0)
        return;
    RemoveAt(folder, last);
    ::close(folder);
}

ChildResult RunInChild(const ChildLimits& limits, const std::function<int(std::string&)>& body) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("cannot fork");
    if (pid == 0) {
        ::close(pipe[0]);
        RunChild(pipe[1], limits, body);
    }
    ::close(pipe[1]);
    ChildResult result;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.ran = result.status != kLimitsRefused;
    return result;
}

std::string TreeDigest(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> lines;
    const auto describe = [&](const fs::path& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return;
        std::string line = fs::relative(path, folder).string() + " " +
                           std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
                           std::to_string(st.st_gid) + " " + std::to_string(st.st_size) + " " +
                           std::to_string(st.st_mtim.tv_sec) + "." +
                           std::to_string(st.st_mtim.tv_nsec);
        std::error_code ec;
        if (S_ISLNK(st.st_mode)) {
            line += " -> " + fs::read_symlink(path, ec).string();
        } else if (S_ISREG(st.st_mode)) {
            std::ifstream in(path, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            line += " #" + std::to_string(std::hash<std::string>{}(bytes));
        }
        lines.push_back(std::move(line));
    };
    describe(folder);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        describe(it->path());
    std::ranges::sort(lines);
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

void ChownDeep(const std::string& folder, unsigned uid, unsigned gid) {
    namespace fs = std::filesystem;
    (void)!::lchown(folder.c_str(), uid, gid);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        (void)!::lchown(it->path().c_str(), uid, gid);
}

} // namespace sorvane::test
