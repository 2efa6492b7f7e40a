// Wine passes no variable whose name starts with QT_ from the shell to a
// Windows program, so under Wine the editor's tests would open real windows
// and log every platform message. What ctest sets for them elsewhere is set
// here, before main() starts Qt, unless the environment already says.
#include <QByteArray>
#include <QtGlobal>

namespace {

void SetUnlessGiven(const char* name, const char* value) {
  if (qEnvironmentVariableIsEmpty(name)) qputenv(name, value);
}

[[maybe_unused]] const bool g_environmentSet = [] {
  SetUnlessGiven("QT_QPA_PLATFORM", "offscreen");
  SetUnlessGiven("QT_LOGGING_RULES", "qt.qpa.*=false");
  SetUnlessGiven("QTEST_FUNCTION_TIMEOUT", "120000");
  // Without a console Qt Test logs to the debugger, which Wine keeps; ctest
  // reads the output stream.
  SetUnlessGiven("QT_FORCE_STDERR_LOGGING", "1");
  return true;
}();

}  // namespace
