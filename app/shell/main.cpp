// Tarn Editor: browse the rules text inside BIG archives.
#include <cstdio>
#include <cstring>

#include "app/shell/tarn_editor_app.h"

namespace {

CTarnEditorApp theApp;

constexpr const char* kUsage =
    "usage: tarn-editor [QT-OPTION...] [--] [ARCHIVE]\n"
    "\n"
    "Opens ARCHIVE, a BIG archive or a load order (*.order), in a new window;\n"
    "without it, an empty one.\n"
    "  --help       print this text\n"
    "  --version    print the version\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the window system is reached, so they work without a
  // display.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--version") == 0)
      return std::puts("tarn-editor " TARN_VERSION) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
    if (std::strcmp(argv[i], "--help") == 0)
      return std::fputs(kUsage, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : 1;
  }
  return theApp.Run(argc, argv);
}
