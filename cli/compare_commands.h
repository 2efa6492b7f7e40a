// tarn diff and tarn overrides: the command-line side of
// archive/archive_compare.h and rules/rules_diff.h.
#pragma once

#ifndef TARN_INSIDE_CLI
#error "cli/compare_commands.h is internal to the cli library"
#endif

#include <cstdio>
#include <string>
#include <vector>

// `args` are all of tarn's arguments, the command first. Both answer 2 on
// trouble, as diff does; diff answers 0 when nothing differs and 1 when
// something does, overrides 0.
int CommandDiff(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int CommandOverrides(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
