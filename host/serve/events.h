// The live event stream (Server-Sent Events): every new message goes to each
// connected client. Each client has its own bounded queue, so a client that
// reads slowly loses events (and is told how many) without holding back the
// others or the phone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mzhost {

class EventHub {
 public:
  static constexpr std::size_t kMostClients = 16;
  static constexpr std::size_t kMostQueued = 256;  // events waiting per client

  class Client {
   public:
    // The next bytes of the stream: the events waiting, else after
    // `heartbeat` a comment that keeps the connection alive. Empty once the
    // hub has stopped.
    std::string Next(std::chrono::milliseconds heartbeat);

   private:
    friend class EventHub;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> queue_;
    uint64_t dropped_ = 0;  // not yet reported to the client
    bool stopped_ = false;
  };

  // A new client; null when kMostClients are connected or the hub stopped.
  std::shared_ptr<Client> Join();
  // Sends `data` (one line of JSON) as an event named `event` to every client.
  void Publish(const std::string& event, const std::string& data);
  // Ends every stream; Join fails from now on.
  void Stop();
  bool Stopped() const;
  // Events dropped for slow clients since the start.
  uint64_t Dropped() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<Client>> clients_;
  uint64_t dropped_ = 0;
  bool stopped_ = false;
};

}  // namespace mzhost
