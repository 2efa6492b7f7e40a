// The command-line tool: every command of `tarn`, callable without a process.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a file could not be read, an entry is missing, damage
inline constexpr int kExitUsage = 2;

// Runs `tarn` with the arguments after the program name. Memory running out
// is reported and answered with an exit status here (2 for grep, diff and
// overrides, as their other trouble; 1 for the rest), never thrown.
int RunTarn(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
// The same with the program's own argc and argv (the program name first).
int RunTarn(int argc, char** argv, std::FILE* out, std::FILE* err);
