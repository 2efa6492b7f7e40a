// tarn info: what each entry of an archive is, one line an entry.
#pragma once

#ifndef TARN_INSIDE_CLI
#error "cli/info_command.h is internal to the cli library"
#endif

#include <cstdio>
#include <string>
#include <vector>

// tarn info ARCHIVE [ENTRY...]: NAME, KIND and DETAILS of every entry, or of
// the named ones, in name order. Only headers are read, except that named
// rules entries are parsed for their blocks and rows. `args` are all of
// tarn's arguments, the command first. 0, or 1 when the archive cannot be
// read or a named entry is missing or unreadable (the others are printed).
int CommandInfo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
