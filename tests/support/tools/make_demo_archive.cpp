// make-demo-archive TEXT_FOLDER OUTPUT: writes the demo archive. Run by the
// build; never installed.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "tests/support/demo_archive.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-demo-archive TEXT_FOLDER OUTPUT\n");
    return 2;
  }
  try {
    // Write beside the target and rename, so a failed run leaves no half file.
    const std::string output = argv[2];
    const std::string partial = output + ".partial";
    WriteWholeFile(partial, BuildDemoArchive(argv[1]));
    std::filesystem::rename(partial, output);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-demo-archive: %s\n", e.what());
    return 1;
  }
  return 0;
}
