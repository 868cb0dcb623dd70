// Runs the project's programs as separate processes, the way users run them:
// standard output and error are collected in temporary files (no pipe can
// fill up), and a running program can be watched, signalled and waited for.
#pragma once

#include <sys/types.h>

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
  // overriding) and the file `input` on stdin.
  RunningProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                 const std::string& input = "/dev/null");
  ~RunningProgram();  // kills the program if it still runs
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }
  bool Running() const;
  std::string Err() const;
  // Waits until `text` appears in stderr; false if the program ends first.
  bool WaitForErr(const std::string& text) const;
  void Signal(int signal) const;
  ProgramRun Wait();

 private:
  pid_t pid_ = -1;
  std::string outPath_;
  std::string errPath_;
};

// The whole text of a file; empty when it cannot be read.
std::string FileContents(const std::string& path);

// Runs a program to its end.
ProgramRun RunProgram(const std::vector<std::string>& argv,
                      const std::vector<std::string>& env = {},
                      const std::string& input = "/dev/null");
