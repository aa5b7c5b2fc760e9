// Runs a fuzz harness over files instead of under libFuzzer: every file
// named on the command line, and every file inside a folder named there, is
// fed once to LLVMFuzzerTestOneInput. Used by the ordinary test build to keep
// the harnesses and their corpora alive without the fuzzing engine.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

bool runFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the file's size, so that reading past it is caught.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    std::uint8_t* begin = data.empty() ? nullptr : data.data();
    LLVMFuzzerTestOneInput(begin, data.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int files = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> paths{argv[i]};
        if (std::filesystem::is_directory(paths.front())) {
            paths.clear();
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    paths.push_back(entry.path());
            std::sort(paths.begin(), paths.end());
        }
        for (const auto& p : paths) {
            ok = runFile(p) && ok;
            ++files;
        }
    }
    // The empty input is always worth one run.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d file(s)\n", files);
    return ok && files > 0 ? 0 : 1;
}
