#include <cstdio>

#include "cli/tarn.h"
#include "storage/terminal.h"

int main(int argc, char** argv) {
  // The same bytes on every system: no line end of an entry's bytes or of
  // a row is ever rewritten on its way out.
  platform::SetBinaryMode(stdout);
  platform::SetBinaryMode(stderr);
  return RunTarn(argc, argv, stdout, stderr);
}
