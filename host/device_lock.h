// The device lock: one host at a time calls the library on a device.
//
// The library's vCard conversions share one scratch file and contacts are
// read by position, so two hosts calling it at once on one device corrupt
// contacts. Every host therefore holds an exclusive flock on DIR/device.lock
// around its library calls. The lock ends with the process that holds it, so
// a host that was killed never blocks the next one.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace mzhost {

class DeviceLock {
 public:
  // The lock of the device folder `dir`; `holder` describes this process to
  // hosts that have to wait ("mzhost contacts import big.vcf"). Waits at most
  // `wait` for the lock, without bound when it is nullopt.
  DeviceLock(std::string dir, std::string holder, std::optional<std::chrono::seconds> wait);
  ~DeviceLock();
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  // Creates the folder and the lock file when missing, takes the lock and
  // writes "PID HOLDER\n" into the file. When another process holds it,
  // prints once on stderr for whom it waits. Throws Failure when the lock
  // file cannot be opened or the wait bound passed, Interrupted on Ctrl-C.
  // A path the platform refuses as a device (a file, or a folder that holds
  // other files but no device.db) is left untouched and no lock is taken.
  void Acquire();
  // Takes the lock again after Release, for a last library call: false,
  // without throwing, when the wait bound passes or a new interrupt comes.
  bool Reacquire();
  // Empties the file and releases the lock; the descriptor is close-on-exec,
  // so child processes never inherit it.
  void Release();
  bool held() const { return held_; }

 private:
  enum class Outcome { kTaken, kTimedOut, kInterrupted, kFailed };
  Outcome Take(unsigned interruptsBefore);
  std::string Holder() const;

  std::string dir_;
  std::string path_;
  std::string holder_;
  std::optional<std::chrono::seconds> wait_;
  int fd_ = -1;
  bool held_ = false;
  bool announced_ = false;
};

}  // namespace mzhost
