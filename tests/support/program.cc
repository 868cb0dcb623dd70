#include "program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace {

std::string TempFile() {
  std::string path = std::filesystem::temp_directory_path() / "program-XXXXXX";
  close(mkstemp(path.data()));
  return path;
}

}  // namespace

std::string FileContents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

RunningProgram::RunningProgram(const std::vector<std::string>& argv,
                               const std::vector<std::string>& env, const std::string& input)
    : outPath_(TempFile()), errPath_(TempFile()) {
  std::vector<std::string> environment = env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    if (std::ranges::none_of(env, [&](const std::string& e) { return e.starts_with(name); })) {
      environment.push_back(text);
    }
  }
  std::vector<char*> args, envp;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  for (auto& entry : environment) envp.push_back(entry.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY, 0);
  if (posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), envp.data()) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
}

RunningProgram::~RunningProgram() {
  Signal(SIGKILL);
  Wait();
  std::remove(outPath_.c_str());
  std::remove(errPath_.c_str());
}

bool RunningProgram::Running() const {
  siginfo_t info{};
  return pid_ > 0 && waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == 0;
}

std::string RunningProgram::Err() const {
  return FileContents(errPath_);
}

bool RunningProgram::WaitForErr(const std::string& text) const {
  for (bool running = true; running; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    running = Running();
    if (Err().find(text) != std::string::npos) return true;
  }
  return false;
}

void RunningProgram::Signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

ProgramRun RunningProgram::Wait() {
  int status = 0;
  if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) return {-1, "", "could not start"};
  pid_ = -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), FileContents(outPath_),
          Err()};
}

ProgramRun RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& input) {
  return RunningProgram(argv, env, input).Wait();
}
