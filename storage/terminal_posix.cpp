#include "storage/terminal.h"

#include <unistd.h>

namespace platform {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && ::isatty(::fileno(stream)) == 1; }
void SetBinaryMode(std::FILE* /*stream: POSIX streams never translate*/) {}

}  // namespace platform
