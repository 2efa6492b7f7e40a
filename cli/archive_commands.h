// tarn extract, tarn pack and tarn rm: the command-line side of archive/extract.h and
// archive/big_writer.h, with the progress line shown on a terminal.
#pragma once

#ifndef TARN_INSIDE_CLI
#error "cli/archive_commands.h is internal to the cli library"
#endif

#include <cstdio>
#include <string>
#include <vector>

// `args` are all of tarn's arguments, the command first. Exit statuses as
// in cli/tarn.h.
int CommandExtract(const std::vector<std::string>& args, std::FILE* err);
int CommandPack(const std::vector<std::string>& args, std::FILE* err);
// tarn rm ARCHIVE ENTRY...: the archive without exactly the named entries
// (GatherRemoval), written beside it and renamed over it; an entry it lacks
// writes nothing.
int CommandRemove(const std::vector<std::string>& args, std::FILE* err);
