// tarn grep: the rows of every rules entry of some archives that hold a
// piece of text, one line each.
#pragma once

#ifndef TARN_INSIDE_CLI
#error "cli/grep_command.h is internal to the cli library"
#endif

#include <cstdio>
#include <string>
#include <vector>

// `args` are all of tarn's arguments, the command first. Exit statuses as
// grep has them, which scripts expect of a command of that name: 0 when a
// row matched, 1 when none did, 2 on a usage error or when an archive could
// not be read (the others are still searched).
int CommandGrep(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
