// Replays inputs through a fuzz target without libFuzzer, so that the normal
// test suite runs every input a fuzzer once found troublesome.
//
// Usage: <fuzzer>_replay PATH...
// Each PATH is a file or a folder; a folder contributes its regular files
// (not those whose names start with "."), in name order. A folder that does
// not exist yet counts as empty. A crash, a sanitizer report or a hang is the
// failure; the exit status is 0 when every input went through.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional in a fuzz target.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool ReadWholeFile(const fs::path& path, std::vector<std::uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

void CollectInputs(const fs::path& path, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(path, error)) {
            const std::string name = entry.path().filename().string();
            if (!name.starts_with(".") && entry.is_regular_file(error))
                found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        inputs.insert(inputs.end(), found.begin(), found.end());
    } else if (fs::exists(path, error)) {
        inputs.push_back(path);
    } else {
        std::printf("%s: no such folder yet, nothing to replay\n", path.string().c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
        CollectInputs(argv[i], inputs);

    std::vector<std::uint8_t> bytes;
    for (const fs::path& input : inputs) {
        if (!ReadWholeFile(input, bytes)) {
            std::fprintf(stderr, "%s: cannot be read\n", input.string().c_str());
            return 1;
        }
        // Printed before the call so that a crash names its input.
        std::printf("replaying %s (%zu bytes)\n", input.string().c_str(), bytes.size());
        std::fflush(stdout);
        // A copy of exactly the input's size, so that the sanitizers see a
        // read past its end.
        std::vector<std::uint8_t> exact(bytes.begin(), bytes.end());
        LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
