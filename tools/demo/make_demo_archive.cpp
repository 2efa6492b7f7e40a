// make-demo-archive TEXT_FOLDER OUTPUT: writes the demo archive. Run by the
// build; never installed.
#include <cstdio>
#include <exception>
#include <string>

#include "tools/demo/demo_archive.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-demo-archive TEXT_FOLDER OUTPUT\n");
    return 2;
  }
  try {
    // The writer puts the archive in place only once it is whole.
    const CStatus written = WriteDemoArchive(argv[1], argv[2]);
    if (!written.IsOk()) {
      std::fprintf(stderr, "make-demo-archive: %s: %s\n", written.GetPath().c_str(),
                   written.GetWords().c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-demo-archive: %s\n", e.what());
    return 1;
  }
  return 0;
}
