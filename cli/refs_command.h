// tarn refs and tarn lint: references between the rules blocks of some
// archives, read in load order.
#pragma once

#ifndef TARN_INSIDE_CLI
#error "cli/refs_command.h is internal to the cli library"
#endif

#include <cstdio>
#include <string>
#include <vector>

// `args` are all of tarn's arguments, the command first.
// refs: 0 when a line was printed, 1 when none was, 2 on a usage error or
// when an archive could not be read (the others are still searched).
int CommandRefs(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
// lint: 0 when there is no problem, 1 when there are, 2 on trouble.
int CommandLint(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
