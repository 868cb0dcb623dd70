// The console: formatted lines for a sink that, in this library, shows them
// nowhere; and the fatal stop of the memory streams.
#pragma once

namespace mz {

// Formats into one static 4096-byte line buffer (not thread-safe; used only
// on the fatal path), hands the line to ConsoleOutputHook and returns the
// formatted length.
int ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The console sink; does nothing with the line.
void ConsoleOutputHook(const char* line);

// Prints the two exit lines, waits 16 seconds and ends the process with
// `status`.
[[noreturn]] void ExitProgram(int status);

}  // namespace mz
