// The command-line tool: every command of `tarn`, callable without a process.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a file could not be read, an entry is missing, damage
inline constexpr int kExitUsage = 2;

// Runs `tarn` with the arguments after the program name.
int RunTarn(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
