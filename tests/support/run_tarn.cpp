#include "tests/support/run_tarn.h"

#include <cstdio>

#include "cli/tarn.h"

namespace {

std::string Drain(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  std::fclose(file);
  return text;
}

}  // namespace

CTarnResult RunTarnCaptured(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = RunTarn(args, out, err);
  return {status, Drain(out), Drain(err)};
}
