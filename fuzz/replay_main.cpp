// Replays inputs through a fuzz target's entry function without libFuzzer:
// every file named on the command line, and every file below every folder
// named there, in sorted order. A crash or sanitizer report fails the run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    // absolute, since a target may change the working folder
    const std::filesystem::path argument = std::filesystem::absolute(argv[i]);
    if (std::filesystem::is_directory(argument)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(argument)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else if (std::filesystem::is_regular_file(argument)) {
      inputs.push_back(argument);
    } else {
      std::fprintf(stderr, "ERROR: no input file or folder \"%s\"\n", argv[i]);
      return 2;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  if (inputs.empty()) {
    std::fprintf(stderr, "ERROR: no inputs to replay\n");
    return 2;
  }
  for (const std::filesystem::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
      std::fprintf(stderr, "ERROR: cannot read \"%s\"\n", input.c_str());
      return 2;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
