#include "program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

std::string TempFile(const char* role) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/program-" + role + "-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) throw std::runtime_error("cannot make a temporary file");
  close(fd);
  return path;
}

}  // namespace

std::string FileContents(const std::string& path) {
  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv,
                               const std::vector<std::string>& env, const std::string& input)
    : outPath_(TempFile("out")), errPath_(TempFile("err")), inPath_(TempFile("in")) {
  std::ofstream(inPath_, std::ios::binary) << input;
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (std::none_of(env.begin(), env.end(), [&](const std::string& extra) {
          return text.starts_with(extra.substr(0, extra.find('=') + 1));
        })) {
      environment.push_back(text);
    }
  }
  environment.insert(environment.end(), env.begin(), env.end());

  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath_.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY | O_TRUNC,
                                   0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_TRUNC,
                                   0);
  const int spawned =
      posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) pid_ = -1;
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0) Wait(std::chrono::milliseconds(0));
  for (const auto& path : {outPath_, errPath_, inPath_}) std::remove(path.c_str());
}

std::string RunningProgram::Out() const {
  return FileContents(outPath_);
}

std::string RunningProgram::Err() const {
  return FileContents(errPath_);
}

bool RunningProgram::WaitForErr(const std::string& text, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Err().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void RunningProgram::Signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

ProgramRun RunningProgram::Wait(std::chrono::milliseconds limit) {
  ProgramRun run;
  if (pid_ <= 0) {
    run.err = "could not start the program";
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = Out();
  run.err = Err();
  return run;
}

ProgramRun RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& input) {
  return RunningProgram(argv, env, input).Wait();
}
