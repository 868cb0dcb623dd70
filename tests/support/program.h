// Runs the project's programs as separate processes, the way users run them:
// standard output and error are collected in temporary files (no pipe can
// fill up), and a running program can be watched, signalled and waited for.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct ProgramRun {
  int status = -1;  // exit status; 128 + the signal's number when killed by one
  std::string out;
  std::string err;
};

class RunningProgram {
 public:
  // Starts argv[0] with the environment plus `env` ("NAME=value" entries,
  // overriding) and, when `input` is not empty, that text on stdin.
  RunningProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                 const std::string& input = {});
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  std::string Out() const;
  std::string Err() const;

  // Waits until `text` appears in stderr; the limit only guards against a
  // hang and is not a timing assertion.
  bool WaitForErr(const std::string& text,
                  std::chrono::milliseconds limit = std::chrono::seconds(30)) const;

  pid_t pid() const { return pid_; }
  void Signal(int signal) const;
  // Waits for the program to end (killing it after `limit`).
  ProgramRun Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));

 private:
  pid_t pid_ = -1;
  std::string outPath_;
  std::string errPath_;
  std::string inPath_;
};

// The whole text of a file; empty when it cannot be read.
std::string FileContents(const std::string& path);

// Runs a program to its end.
ProgramRun RunProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env = {}, const std::string& input = {});
