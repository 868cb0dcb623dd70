#include "events.h"

#include <algorithm>

namespace mzhost {

std::string EventHub::Client::Next(std::chrono::milliseconds heartbeat) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, heartbeat, [&] { return stopped_ || !queue_.empty(); });
  if (stopped_) return {};
  if (queue_.empty()) return ": keep-alive\n\n";
  std::string out;
  if (dropped_ > 0) {
    out = "event: dropped\ndata: {\"dropped\":" + std::to_string(dropped_) + "}\n\n";
    dropped_ = 0;
  }
  for (; !queue_.empty(); queue_.pop_front()) out += queue_.front();
  return out;
}

std::shared_ptr<EventHub::Client> EventHub::Join() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(clients_, [](const std::weak_ptr<Client>& c) { return c.expired(); });
  if (stopped_ || clients_.size() >= kMostClients) return nullptr;
  auto client = std::make_shared<Client>();
  clients_.push_back(client);
  return client;
}

void EventHub::Publish(const std::string& event, const std::string& data) {
  const std::string text = "event: " + event + "\ndata: " + data + "\n\n";
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& weak : clients_) {
    const std::shared_ptr<Client> client = weak.lock();
    if (client == nullptr) continue;
    {
      std::lock_guard<std::mutex> clientLock(client->mutex_);
      if (client->queue_.size() >= kMostQueued) {
        ++client->dropped_;
        ++dropped_;
        continue;
      }
      client->queue_.push_back(text);
    }
    client->wake_.notify_one();
  }
}

void EventHub::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  for (const auto& weak : clients_) {
    if (const std::shared_ptr<Client> client = weak.lock()) {
      {
        std::lock_guard<std::mutex> clientLock(client->mutex_);
        client->stopped_ = true;
      }
      client->wake_.notify_all();
    }
  }
}

bool EventHub::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

uint64_t EventHub::Dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

}  // namespace mzhost
