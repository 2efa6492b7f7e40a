// Runs the built tarn program as a process of its own, for the tests of
// what only the real program does: its exit status and its standard
// streams as bytes (binary mode on Windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs tarn with `args`, standard output to the file `stdoutPath` and
// standard error to `stderrPath`; its exit status, or -1 when it could not
// run or did not exit. With `addressSpace`, the process gets at most that
// many bytes of memory (where the system caps a process's address space:
// not on Windows, where it is ignored).
int RunTarnProgram(const std::vector<std::string>& args, const std::string& stdoutPath,
                   const std::string& stderrPath, uint64_t addressSpace = 0);
