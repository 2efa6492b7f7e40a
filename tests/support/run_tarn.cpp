#include "tests/support/run_tarn.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <cstdio>
#include <cstring>

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

#if defined(_WIN32)
std::string MissingFileReason() {
  char text[512];
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  ERROR_FILE_NOT_FOUND, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                                  sizeof text, nullptr);
  // Without the full stop and line end the system puts at the end.
  while (length > 0 && std::strchr(". \r\n", text[length - 1]) != nullptr) --length;
  return std::string(text, length);
}

std::string FolderReason() { return "not a regular file"; }
#else
std::string MissingFileReason() { return "No such file or directory"; }

std::string FolderReason() { return "Is a directory"; }
#endif
