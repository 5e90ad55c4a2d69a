#pragma once

#include "config/commandline.h"

namespace kirt {

// kirt --script: the script runs with the port session and no window, under the
// QCoreApplication the caller made. One line a test case and a summary on standard output,
// the JUnit file when asked; returns the exit code (0 all passed, 1 a failure, a stop or the
// time limit, 2 a script that does not load).
int runScriptWithoutWindow(const StartOptions& options);

} // namespace kirt
