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
