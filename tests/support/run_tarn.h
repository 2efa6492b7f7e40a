// Runs the tarn commands in-process and captures what they print.
#pragma once

#include <string>
#include <vector>

struct CTarnResult {
  int status;
  std::string out;
  std::string err;
};

CTarnResult RunTarnCaptured(const std::vector<std::string>& args);

// The reason tarn gives after "PATH: " for a file that does not exist and
// for a folder: the C library's words on POSIX; on Windows the system's
// message (its words differ with version and language) and our own.
std::string MissingFileReason();
std::string FolderReason();
