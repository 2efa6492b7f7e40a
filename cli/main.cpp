#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cli/tarn.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
  // The same bytes on every system: no line end of an entry's bytes or of
  // a row is ever rewritten on its way out.
  platform::SetBinaryMode(stdout);
  platform::SetBinaryMode(stderr);
  // An archive's index is refused by the reader when memory runs out; this
  // catches the rest (a huge entry's rows, say), which must not end in an
  // abort either.
  try {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunTarn(args, stdout, stderr);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fputs("tarn: out of memory\n", stderr);
    return 1;
  }
}
