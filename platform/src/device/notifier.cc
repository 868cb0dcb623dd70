// The notifier thread: reads new event rows of every device that has sinks
// and calls the sinks, one event per call, in event order.
//
// Wake-ups come from an eventfd that RecordEvent signals (this process) and
// from inotify on the device folders (a commit by any process writes the
// -wal file). A bounded wait covers whatever inotify misses, such as a
// folder on a file system that does not report changes.
#include "device/notifier.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Event rows kept per device; older ones are pruned as new ones come.
constexpr std::int64_t kKeptEvents = 10000;
constexpr std::int64_t kPruneEvery = 256;
// Longest wait before looking at the database again while sinks are
// registered.
constexpr int kFallbackWaitMs = 200;
// Events read per query, so that a long backlog never holds the lock long.
constexpr int kBatch = 256;

struct Registration {
  std::shared_ptr<Device> device;
  std::int64_t store = 0;
  ULONG mask = 0;
  IMAPIAdviseSink* sink = nullptr;
  std::int64_t after = 0;  // the last event id this registration has seen
};

struct Event {
  std::int64_t id = 0;
  std::int64_t store = 0;
  ULONG type = 0;
  ULONG objectType = 0;
  std::string entryId;
  std::optional<std::string> parentId;
};

struct Notifier {
  std::mutex mutex;
  std::condition_variable delivered;  // signalled when `delivering` clears
  std::map<ULONG, Registration> registrations;
  ULONG next_connection = 1;
  ULONG delivering = 0;  // connection whose sink is being called, or 0
  std::thread thread;
  bool running = false;
  // Bumped by StopNotifier; a thread runs only while it is the one it
  // started with.
  std::uint64_t generation = 0;
  std::atomic<int> wake_fd{-1};
};

// Never destroyed: RecordEvent and the thread may use it during exit.
Notifier& State() {
  static Notifier* notifier = new Notifier;
  return *notifier;
}

thread_local bool t_on_notifier_thread = false;

void Wake() {
  int fd = State().wake_fd.load(std::memory_order_acquire);
  if (fd < 0) return;
  std::uint64_t one = 1;
  ssize_t written = write(fd, &one, sizeof one);
  (void)written;  // a full counter still wakes the thread
}

void Drain(int fd) {
  char buffer[4096];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

bool ReadEvents(Device& device, std::int64_t after, std::vector<Event>* events) {
  auto lock = device.Lock();
  Statement statement(device,
                      "SELECT id, store, event, object_type, entry_id, parent_id FROM msg_events "
                      "WHERE id > ?1 ORDER BY id LIMIT ?2");
  statement.Bind(1, after);
  statement.Bind(2, static_cast<std::int64_t>(kBatch));
  int rc;
  while ((rc = statement.Step()) == SQLITE_ROW) {
    Event& event = events->emplace_back();
    event.id = statement.Int(0);
    event.store = statement.Int(1);
    event.type = static_cast<ULONG>(statement.Int(2));
    event.objectType = static_cast<ULONG>(statement.Int(3));
    event.entryId = statement.Blob(4);
    if (!statement.IsNull(5)) event.parentId = statement.Blob(5);
  }
  return rc == SQLITE_DONE;
}

std::int64_t LastEventId(Device& device) {
  auto lock = device.Lock();
  Statement statement(device, "SELECT ifnull(max(id), 0) FROM msg_events");
  return statement.Step() == SQLITE_ROW ? statement.Int(0) : 0;
}

// Hands `event` to every registration on `device` that has not seen it yet.
// The lock is not held while a sink runs. False once the thread is to stop.
bool Deliver(std::uint64_t generation, const Device* device, Event& event) {
  Notifier& state = State();
  NOTIFICATION notification{};
  notification.ulEventType = event.type;
  auto& obj = notification.info.obj;
  obj.cbEntryID = static_cast<ULONG>(event.entryId.size());
  obj.lpEntryID = reinterpret_cast<LPENTRYID>(event.entryId.data());
  obj.ulObjType = event.objectType;
  if (event.parentId) {
    obj.cbParentID = static_cast<ULONG>(event.parentId->size());
    obj.lpParentID = reinterpret_cast<LPENTRYID>(event.parentId->data());
  }
  ULONG last = 0;
  std::unique_lock lock(state.mutex);
  for (;;) {
    if (state.generation != generation) return false;
    auto it = state.registrations.upper_bound(last);
    while (it != state.registrations.end() &&
           (it->second.device.get() != device || it->second.after >= event.id)) {
      ++it;
    }
    if (it == state.registrations.end()) return true;
    last = it->first;
    Registration& registration = it->second;
    registration.after = event.id;
    if (registration.store != event.store || (registration.mask & event.type) == 0) continue;
    IMAPIAdviseSink* sink = registration.sink;
    state.delivering = last;
    lock.unlock();
    // The sink may unadvise itself from OnNotify; this reference keeps it
    // alive until the call returns.
    sink->AddRef();
    sink->OnNotify(1, &notification);
    sink->Release();
    lock.lock();
    state.delivering = 0;
    state.delivered.notify_all();
  }
}

// Keeps one inotify watch per folder of a device that has sinks.
void UpdateWatches(int inotify, const std::map<const Device*, std::shared_ptr<Device>>& devices,
                   std::map<std::string, int>* watches) {
  if (inotify < 0) return;
  std::map<std::string, int> wanted;
  for (const auto& [key, device] : devices) {
    std::string dir = device->Dir().string();
    auto found = watches->find(dir);
    if (found != watches->end()) {
      wanted.emplace(dir, found->second);
      watches->erase(found);
      continue;
    }
    int wd = inotify_add_watch(inotify, dir.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO);
    if (wd >= 0) wanted.emplace(dir, wd);
  }
  for (const auto& [dir, wd] : *watches) inotify_rm_watch(inotify, wd);
  *watches = std::move(wanted);
}

void Run(std::uint64_t generation) {
  t_on_notifier_thread = true;
  Notifier& state = State();
  int inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  std::map<std::string, int> watches;
  for (;;) {
    // The devices with sinks, each read from the oldest position any of its
    // sinks still needs.
    std::map<const Device*, std::shared_ptr<Device>> devices;
    std::map<const Device*, std::int64_t> from;
    {
      std::lock_guard lock(state.mutex);
      if (state.generation != generation) break;
      for (const auto& [connection, registration] : state.registrations) {
        const Device* key = registration.device.get();
        auto [entry, added] = from.emplace(key, registration.after);
        if (added) {
          devices.emplace(key, registration.device);
        } else if (registration.after < entry->second) {
          entry->second = registration.after;
        }
      }
    }
    UpdateWatches(inotify, devices, &watches);
    bool backlog = false;
    bool stopping = false;
    for (const auto& [key, device] : devices) {
      std::vector<Event> events;
      bool read = ReadEvents(*device, from[key], &events);
      if (read && events.size() == static_cast<std::size_t>(kBatch)) backlog = true;
      for (Event& event : events) {
        if (!Deliver(generation, key, event)) {
          stopping = true;
          break;
        }
      }
      if (stopping) break;
    }
    if (stopping) break;
    devices.clear();  // the last reference to a closed device goes here
    if (backlog) continue;
    pollfd fds[2] = {{state.wake_fd.load(), POLLIN, 0}, {inotify, POLLIN, 0}};
    // With no sink there is nothing to look for until an Advise wakes us.
    poll(fds, inotify >= 0 ? 2 : 1, from.empty() ? -1 : kFallbackWaitMs);
    if (fds[0].revents & POLLIN) Drain(fds[0].fd);
    if (inotify >= 0 && (fds[1].revents & POLLIN)) Drain(inotify);
  }
  if (inotify >= 0) close(inotify);
}

// Stops the thread when the process exits without MAPIUninitialize.
struct StopAtExit {
  ~StopAtExit() { StopNotifier(); }
} g_stop_at_exit;

}  // namespace

bool RecordEvent(Device& device, std::int64_t store, ULONG eventType, ULONG objectType,
                 std::string_view entryId, std::string_view parentId) {
  std::int64_t id = 0;
  {
    Statement statement(device,
                        "INSERT INTO msg_events (store, event, object_type, entry_id, parent_id) "
                        "VALUES (?1, ?2, ?3, ?4, ?5)");
    statement.Bind(1, store);
    statement.Bind(2, static_cast<std::int64_t>(eventType));
    statement.Bind(3, static_cast<std::int64_t>(objectType));
    statement.BindBlob(4, entryId.data(), static_cast<int>(entryId.size()));
    if (parentId.empty()) {
      statement.BindNull(5);
    } else {
      statement.BindBlob(5, parentId.data(), static_cast<int>(parentId.size()));
    }
    if (statement.Step() != SQLITE_DONE) return false;
    id = sqlite3_last_insert_rowid(device.Db());
  }
  if (id % kPruneEvery == 0) {
    Statement prune(device, "DELETE FROM msg_events WHERE id <= ?1");
    prune.Bind(1, id - kKeptEvents);
    if (prune.Step() != SQLITE_DONE) return false;
  }
  Wake();
  return true;
}

HRESULT AdviseSink(const std::shared_ptr<Device>& device, std::int64_t store, ULONG eventMask,
                   IMAPIAdviseSink* sink, ULONG* connection) {
  if (connection != nullptr) *connection = 0;
  if (!device || sink == nullptr || connection == nullptr || eventMask == 0) return E_INVALIDARG;
  Notifier& state = State();
  std::int64_t after = LastEventId(*device);
  {
    std::lock_guard lock(state.mutex);
    if (state.wake_fd.load() < 0) {
      int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (fd < 0) return E_FAIL;
      state.wake_fd.store(fd, std::memory_order_release);  // kept for the process's life
    }
    ULONG number = state.next_connection;
    while (number == 0 || state.registrations.count(number) != 0) ++number;
    try {
      state.registrations.emplace(number, Registration{device, store, eventMask, sink, after});
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (!state.running) {
      try {
        state.thread = std::thread(Run, state.generation);
      } catch (const std::system_error&) {
        state.registrations.erase(number);
        return E_FAIL;
      }
      state.running = true;
    }
    state.next_connection = number + 1;
    sink->AddRef();
    *connection = number;
  }
  Wake();
  return S_OK;
}

HRESULT UnadviseSink(ULONG connection) {
  Notifier& state = State();
  IMAPIAdviseSink* sink = nullptr;
  std::shared_ptr<Device> device;
  {
    std::unique_lock lock(state.mutex);
    auto found = state.registrations.find(connection);
    if (found == state.registrations.end()) return MAPI_E_NOT_FOUND;
    sink = found->second.sink;
    device = std::move(found->second.device);
    state.registrations.erase(found);
    if (!t_on_notifier_thread) {
      state.delivered.wait(lock, [&] { return state.delivering != connection; });
    }
  }
  sink->Release();
  return S_OK;
}

void StopNotifier() {
  Notifier& state = State();
  std::thread thread;
  std::vector<Registration> cancelled;
  {
    std::lock_guard lock(state.mutex);
    ++state.generation;
    for (auto& [connection, registration] : state.registrations) {
      cancelled.push_back(std::move(registration));
    }
    state.registrations.clear();
    if (state.running) {
      thread = std::move(state.thread);
      state.running = false;
    }
  }
  Wake();
  if (thread.joinable()) {
    // Called from a sink: the thread ends by itself once the sink returns.
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }
  for (Registration& registration : cancelled) registration.sink->Release();
}

}  // namespace platform
