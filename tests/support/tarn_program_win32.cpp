#include "tests/support/tarn_program.h"

#include <windows.h>

namespace {

// One argument as the C runtime's command-line parser will read it back:
// quoted when it holds blanks or quotes, with the backslashes before a quote
// (or before the closing quote) doubled.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == '\\') {
      ++i;
      ++backslashes;
    }
    if (i == arg.size()) {
      out.append(backslashes * 2, '\\');
      break;
    }
    if (arg[i] == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    out += arg[i];
  }
  return out + '"';
}

HANDLE CreateOutput(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int RunTarnProgram(const std::vector<std::string>& args, const std::string& stdoutPath,
                   const std::string& stderrPath, uint64_t /*addressSpace*/) {
  const std::string program = std::string(TARN_BIN_DIR) + "/tarn.exe";
  std::string commandLine = Quote(program);
  for (const std::string& arg : args) commandLine += ' ' + Quote(arg);
  const HANDLE out = CreateOutput(stdoutPath);
  const HANDLE err = CreateOutput(stderrPath);
  int status = -1;
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    if (::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         nullptr, &startup, &process)) {
      DWORD code = 0;
      if (::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
          ::GetExitCodeProcess(process.hProcess, &code)) {
        status = static_cast<int>(code);
      }
      ::CloseHandle(process.hThread);
      ::CloseHandle(process.hProcess);
    }
  }
  if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
  return status;
}
