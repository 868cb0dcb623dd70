#include "stream/console.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace mz {
namespace {

char g_line[4096];

}  // namespace

int ConsolePrintf(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(g_line, sizeof g_line, format, arguments);
  va_end(arguments);
  if (length < 0) {
    g_line[0] = 0;
    length = 0;
  } else if (length >= static_cast<int>(sizeof g_line)) {
    length = static_cast<int>(sizeof g_line) - 1;  // the line was cut to fit
  }
  ConsoleOutputHook(g_line);
  return length;
}

void ConsoleOutputHook(const char*) {}

void ExitProgram(int status) {
  ConsolePrintf("EXIT!!!!!!!!!!!!!!!!!!!!\n");
  ConsolePrintf("!!!!!!!!!!!Waiting 16 seconds to exit the program!!!!!!!!!!!\n");
  // sleep() may return early on a signal; finish the wait.
  unsigned left = 16;
  while (left > 0) left = sleep(left);
  std::exit(status);
}

}  // namespace mz
