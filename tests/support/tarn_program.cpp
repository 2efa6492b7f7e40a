#include "tests/support/tarn_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int RunTarnProgram(const std::vector<std::string>& args, const std::string& stdoutPath,
                   const std::string& stderrPath, uint64_t addressSpace) {
  const std::string program = std::string(TARN_BIN_DIR) + "/tarn";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    const rlimit cap{static_cast<rlim_t>(addressSpace), static_cast<rlim_t>(addressSpace)};
    if (addressSpace != 0 && ::setrlimit(RLIMIT_AS, &cap) != 0) ::_exit(125);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
    return WEXITSTATUS(status);
  return -1;
}
