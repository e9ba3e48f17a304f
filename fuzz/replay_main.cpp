// Replays fuzzer inputs through the harness without libFuzzer, so that the corpus also runs
// where libFuzzer does not: the Windows builds under Wine, the 32-bit one included.
// Usage: fuzz_replay FILE_OR_FOLDER...
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << "fuzz_replay: cannot read " << file.string() << "\n";
        return false;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(arg, error)) {
            std::vector<std::filesystem::path> inFolder;
            for (const auto& entry : std::filesystem::directory_iterator(arg, error)) {
                if (entry.is_regular_file()) {
                    inFolder.push_back(entry.path());
                }
            }
            std::sort(inFolder.begin(), inFolder.end());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.push_back(arg);
        }
    }
    // A wrong path must not pass as a clean run.
    if (files.empty()) {
        std::cerr << "fuzz_replay: no input to replay\n";
        return 2;
    }
    for (const auto& file : files) {
        if (!Replay(file)) {
            return 1;
        }
        std::cout << "replayed " << file.filename().string() << "\n";
    }
    std::cout << "fuzz_replay: " << files.size() << " inputs, every check held\n";
    return 0;
}
