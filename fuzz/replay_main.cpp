// Replays saved inputs through a fuzz target's entry point, for builds
// without libFuzzer: each argument is a file or a folder of files.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

static bool replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::size_t done = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        fs::path p(argv[i]);
        if (fs::is_directory(p, ec)) {
            for (const auto& e : fs::recursive_directory_iterator(p, ec))
                // Dot files keep empty folders in the repository.
                if (e.is_regular_file() && e.path().filename().string()[0] != '.') {
                    if (!replay(e.path())) return 1;
                    ++done;
                }
        } else {
            if (!replay(p)) return 1;
            ++done;
        }
    }
    std::printf("replayed %zu inputs\n", done);
    return 0;
}
