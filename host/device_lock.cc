#include "device_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "host.h"
#include "platform/device_folder.h"

namespace mzhost {
namespace {

namespace fs = std::filesystem;

// How often a waiting host tries the lock again.
constexpr auto kRetryEvery = std::chrono::milliseconds(50);

// A path the platform refuses as a device: a file, or a folder with files
// of its own but no device.db. It gets no lock file, so that a mistyped path
// never has one put into it.
bool NoDevice(const std::string& dir) {
  std::error_code ec;
  if (!fs::exists(dir, ec)) return false;
  return !fs::is_directory(dir, ec) ||
         (!fs::exists(dir + "/device.db", ec) && !emulator::IsFreshFolder(dir));
}

}  // namespace

DeviceLock::DeviceLock(std::string dir, std::string holder,
                       std::optional<std::chrono::seconds> wait)
    : dir_(std::move(dir)),
      path_(dir_ + "/" + emulator::kDeviceLockName),
      holder_(std::move(holder)),
      wait_(wait) {}

DeviceLock::~DeviceLock() {
  Release();
  if (fd_ >= 0) close(fd_);
}

void DeviceLock::Acquire() {
  if (NoDevice(dir_)) return;
  std::error_code ec;
  fs::create_directories(dir_, ec);
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd_ < 0) throw Failure{"cannot lock the phone in " + dir_ + ": " + std::strerror(errno)};
  switch (Take(0)) {
    case Outcome::kTaken:
      return;
    case Outcome::kInterrupted:
      throw Interrupted{};
    case Outcome::kTimedOut:
      throw Failure{Holder() + " still holds the phone in " + dir_ + " after " +
                    std::to_string(wait_->count()) +
                    (wait_->count() == 1 ? " second" : " seconds") + "; giving up"};
    case Outcome::kFailed:
      throw Failure{"cannot lock the phone in " + dir_ + ": " + std::strerror(errno)};
  }
}

bool DeviceLock::Reacquire() {
  return fd_ >= 0 && (held_ || Take(Interrupts()) == Outcome::kTaken);
}

void DeviceLock::Release() {
  if (!held_) return;
  // No holder is named for a lock that no one holds.
  WriteLines("");
  flock(fd_, LOCK_UN);
  held_ = false;
}

DeviceLock::Outcome DeviceLock::Take(unsigned interruptsBefore) {
  const auto start = std::chrono::steady_clock::now();
  while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return Outcome::kFailed;
    if (Interrupts() != interruptsBefore) return Outcome::kInterrupted;
    if (wait_ && std::chrono::steady_clock::now() - start >= *wait_) return Outcome::kTimedOut;
    if (!announced_ && (!wait_ || wait_->count() > 0)) {
      std::fprintf(stderr, "mzhost: waiting for %s, which is using the phone in %s\n",
                   Holder().c_str(), dir_.c_str());
      std::fflush(stderr);
      announced_ = true;
    }
    std::this_thread::sleep_for(kRetryEvery);
  }
  held_ = true;
  char text[512];
  const ssize_t got = pread(fd_, text, sizeof text - 1, 0);
  text[got > 0 ? got : 0] = '\0';
  const char* second = std::strchr(text, '\n');
  generation_ = second != nullptr ? std::strtoull(second + 1, nullptr, 10) + 1 : 1;
  WriteLines(std::to_string(getpid()) + " " + holder_);
  return Outcome::kTaken;
}

void DeviceLock::WriteLines(const std::string& holder) {
  // Best effort: the holder only helps a waiting host say for whom it waits;
  // a lost generation only makes the next host read the phone again.
  std::string lines = holder;
  for (char& c : lines) c = static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  lines += "\n" + std::to_string(generation_) + "\n";
  [[maybe_unused]] const bool written =
      ftruncate(fd_, 0) == 0 && pwrite(fd_, lines.data(), lines.size(), 0) >= 0;
}

std::string DeviceLock::Holder() const {
  char text[512];
  const ssize_t got = pread(fd_, text, sizeof text, 0);
  std::string line(text, got > 0 ? static_cast<std::size_t>(got) : 0);
  line = line.substr(0, line.find('\n'));
  const std::size_t space = line.find(' ');
  if (space == 0 || space == std::string::npos || line.find_first_not_of("0123456789") != space) {
    return "another process";
  }
  return "process " + line.substr(0, space) + " (" + line.substr(space + 1) + ")";
}

}  // namespace mzhost
