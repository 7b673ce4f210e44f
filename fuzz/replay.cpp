// Runs kept inputs through the readers without libFuzzer: replay_readers DIR...
// Each DIR holds one folder per reader (control, parameters, data, knots) with one input per
// file. A reader that crashes or breaks its contract ends the run abnormally; otherwise prints
// how many files were replayed and exits 0 (1 when an argument is not such a folder or holds no
// input at all).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "readers.hpp"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  int replayed = 0;
  for (int a = 1; a < argc; a++) {
    if (!fs::is_directory(argv[a])) {
      std::fprintf(stderr, "replay_readers: %s is not a folder\n", argv[a]);
      return 1;
    }
    for (const fs::directory_entry& folder : fs::directory_iterator(argv[a])) {
      InputReader reader;
      if (!folder.is_directory() || !input_reader_named(folder.path().filename().string(), &reader))
        continue;
      for (const fs::directory_entry& file : fs::directory_iterator(folder.path())) {
        if (!file.is_regular_file()) continue;
        std::ifstream in(file.path(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        std::printf("%s\n", file.path().string().c_str());
        std::fflush(stdout);
        feed_input_reader(reader, content.str());
        replayed++;
      }
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
