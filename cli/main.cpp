#include <cstdio>
#include <string>
#include <vector>

#include "cli/tarn.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return RunTarn(args, stdout, stderr);
}
