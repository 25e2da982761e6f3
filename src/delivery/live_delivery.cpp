#include "delivery/live_delivery.h"

#include <cctz/time_zone.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "dayfile/day_file_name.h"
#include "delivery/delivery_log.h"
#include "delivery/delivery_url.h"
#include "delivery/transfer.h"
#include "support/file_read.h"

namespace tly {
namespace {

// A site's local date (day number) and minute of the day at a UTC instant.
struct LocalMinute {
  int64_t day = 0;
  int minute = 0;
};

LocalMinute LocalAt(const cctz::time_zone& zone, int64_t unix_seconds) {
  const auto moment = std::chrono::time_point_cast<cctz::seconds>(
      std::chrono::system_clock::from_time_t(static_cast<time_t>(unix_seconds)));
  const cctz::civil_second local = cctz::convert(moment, zone);
  const TDateTime date = EncodeDate(static_cast<int>(local.year()), local.month(), local.day());
  return {static_cast<int64_t>(date), local.hour() * 60 + local.minute()};
}

}  // namespace

struct LiveDelivery::State {
  struct Device {
    Site site;
    cctz::time_zone zone;
    std::string url;
    std::string password;
    int64_t day = 0;                  // the local date of the last push slot reached
    int slot = 0;                     // its slot: minute of the day / every_minutes
    std::deque<SpooledFile> waiting;  // to send, oldest first
    bool busy = false;                // a worker sends its files now
  };

  std::string out_dir;
  std::vector<Device> devices;
  std::function<void(const std::string&)> notice;
  std::mutex mutex;
  std::condition_variable work;
  std::condition_variable idle;
  std::deque<size_t> ready;  // devices with files to send and no worker
  std::vector<std::thread> workers;
  std::vector<SpooledFile> unknown_spooled;
  std::set<std::string> failing;
  std::atomic<bool> abort{false};
  int64_t now = 0;  // the simulated instant reached
  bool stopping = false;
  bool spool_dirty = false;                      // the spool on disk may differ from what waits
  std::optional<std::system_error> write_error;  // the first the workers met

  // What waits, and what waited for sites this run does not deliver.
  std::vector<SpooledFile> Spool() const {
    std::vector<SpooledFile> spool = unknown_spooled;
    for (const Device& device : devices) {
      spool.insert(spool.end(), device.waiting.begin(), device.waiting.end());
    }
    return spool;
  }

  // Writes the spool while the run goes on (the mutex held).
  void SaveSpool() {
    try {
      const std::vector<SpooledFile> spool = Spool();
      WriteSpool(out_dir + "/" + SpoolFileName(1, 1), spool);
      spool_dirty = !spool.empty();
    } catch (const std::system_error& error) {
      if (!write_error) write_error = error;
    }
  }

  // Adds `file` to the device's queue; a version of the same file that
  // waits already is replaced (the device sends its file as it stands).
  void Queue(size_t index, const SpooledFile& file) {
    Device& device = devices[index];
    const auto same =
        std::find_if(device.waiting.begin(), device.waiting.end(),
                     [&](const SpooledFile& f) { return f.file_name == file.file_name; });
    if (same != device.waiting.end()) {
      same->due = file.due;
    } else {
      device.waiting.push_back(file);
    }
    if (!device.busy && std::find(ready.begin(), ready.end(), index) == ready.end()) {
      ready.push_back(index);
      work.notify_one();
    }
  }

  void Work() {
    Transfer transfer;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      work.wait(lock, [this] { return stopping || !ready.empty(); });
      if (stopping) return;
      const size_t index = ready.front();
      ready.pop_front();
      Device& device = devices[index];
      device.busy = true;
      while (!device.waiting.empty() && !stopping) {
        const SpooledFile file = device.waiting.front();
        lock.unlock();
        const bool sent = Send(device, file, transfer);
        lock.lock();
        if (!sent) {
          // Kept on disk at once, so that a run that is killed still knows.
          spool_dirty = true;
          SaveSpool();
          break;
        }
        if (!device.waiting.empty() && device.waiting.front().file_name == file.file_name &&
            device.waiting.front().due == file.due) {
          device.waiting.pop_front();
        }
        if (spool_dirty) SaveSpool();
      }
      device.busy = false;
      idle.notify_all();
    }
  }

  // Sends one file; false when it failed and must wait for the next push.
  bool Send(Device& device, const SpooledFile& file, Transfer& transfer) {
    const std::string local = out_dir + "/" + file.site + "/" + file.file_name;
    const RemoteTarget target =
        PushTarget(device.site.delivery.settings, device.url, file.file_name);
    std::optional<std::string> bytes;
    UploadResult result;
    try {
      bytes = ReadWholeFile(local);
    } catch (const std::system_error& error) {
      result.error = error.what();
    }
    if (bytes) {
      Upload upload{&device.site.delivery.settings, target, device.password, *bytes, {}, &abort};
      result = transfer.Send(upload);
    } else if (result.error.empty()) {
      result.error = "the local file is not there yet";
    }
    const bool ok = result.outcome == UploadOutcome::kOk;
    std::lock_guard<std::mutex> lock(mutex);
    const LocalMinute made = LocalAt(device.zone, now);
    try {
      AppendToDeliveryLog(out_dir + "/" + DeliveryLogFileName(1, 1),
                          {AttemptOf(file, target, made.day + made.minute / 1440.0, result)});
    } catch (const std::system_error& error) {
      if (!write_error) write_error = error;
    }
    if (bytes) Tell(device.url, ok, result.error);
    return ok || !bytes;
  }

  void Tell(const std::string& url, bool ok, const std::string& error) {
    const size_t start = url.find("//") + 2;
    const std::string server = RedactUrl(url.substr(0, url.find('/', start)));
    if (ok == (failing.count(server) == 0)) return;
    if (ok) {
      failing.erase(server);
    } else {
      failing.insert(server);
    }
    if (notice) notice(ok ? server + " is back" : server + " fails: " + error);
  }

  // The push of the file of local day `day` made at local `day` + `minute`.
  SpooledFile PushOf(const Device& device, int64_t file_day, int64_t due_day, int minute) const {
    return {device.site.delivery.name, DayFileBaseName(static_cast<TDateTime>(file_day)),
            static_cast<TDateTime>(due_day) + minute / 1440.0};
  }
};

LiveDelivery::LiveDelivery(std::string out_dir, std::vector<Site> sites, int connections,
                           std::function<void(const std::string&)> notice)
    : state_(std::make_unique<State>()) {
  state_->out_dir = std::move(out_dir);
  state_->notice = std::move(notice);
  std::vector<DeliverySite> delivering;
  for (const Site& site : sites) delivering.push_back(site.delivery);
  const std::vector<std::string> passwords = DeliveryPasswords(delivering);
  for (size_t i = 0; i < sites.size(); ++i) {
    State::Device device;
    device.site = sites[i];
    if (!cctz::load_time_zone(sites[i].time_zone, &device.zone)) {
      throw std::invalid_argument("cannot load the time zone " + sites[i].time_zone);
    }
    device.url = ExpandUrl(sites[i].delivery.settings.url, sites[i].delivery.name,
                           sites[i].delivery.shop_code);
    device.password = passwords[i];
    state_->devices.push_back(std::move(device));
  }
  for (const SpooledFile& file : ReadSpool(state_->out_dir + "/" + SpoolFileName(1, 1))) {
    const auto device =
        std::find_if(state_->devices.begin(), state_->devices.end(),
                     [&](const State::Device& d) { return d.site.delivery.name == file.site; });
    if (device == state_->devices.end()) {
      state_->unknown_spooled.push_back(file);
    } else {
      device->waiting.push_back(file);  // sent with the device's first push
    }
  }
  const int threads = std::clamp(connections, 1, std::max(1, static_cast<int>(sites.size())));
  for (int t = 0; t < threads; ++t) state_->workers.emplace_back([this] { state_->Work(); });
}

LiveDelivery::~LiveDelivery() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->abort = true;
  state_->work.notify_all();
  for (std::thread& worker : state_->workers) worker.join();
}

void LiveDelivery::Start(int64_t unix_seconds) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->now = unix_seconds;
  for (State::Device& device : state_->devices) {
    const LocalMinute local = LocalAt(device.zone, unix_seconds);
    device.day = local.day;
    device.slot = local.minute / device.site.delivery.settings.every_minutes;
  }
}

void LiveDelivery::AdvanceTo(int64_t unix_seconds) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->now = unix_seconds;
  for (size_t i = 0; i < state_->devices.size(); ++i) {
    State::Device& device = state_->devices[i];
    const int every = device.site.delivery.settings.every_minutes;
    const LocalMinute local = LocalAt(device.zone, unix_seconds);
    const int slot = local.minute / every;
    if (local.day == device.day && slot == device.slot) continue;
    if (local.day != device.day) {
      // Midnight passed: the day's final file.
      state_->Queue(i, state_->PushOf(device, device.day, device.day + 1, 0));
    }
    if (slot > 0) state_->Queue(i, state_->PushOf(device, local.day, local.day, slot * every));
    device.day = local.day;
    device.slot = slot;
  }
}

std::vector<SpooledFile> LiveDelivery::Finish(int64_t unix_seconds,
                                              std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->now = unix_seconds;
  for (size_t i = 0; i < state_->devices.size(); ++i) {
    State::Device& device = state_->devices[i];
    const LocalMinute local = LocalAt(device.zone, unix_seconds);
    state_->Queue(i, state_->PushOf(device, local.day, local.day, local.minute));
  }
  // Each failure waits for another push: at the end that is a retry, until
  // the wait is over.
  const auto end = std::chrono::steady_clock::now() + wait;
  const auto all_sent = [this] {
    return std::all_of(state_->devices.begin(), state_->devices.end(),
                       [](const State::Device& d) { return d.waiting.empty() && !d.busy; });
  };
  while (!all_sent() && std::chrono::steady_clock::now() < end) {
    for (size_t i = 0; i < state_->devices.size(); ++i) {
      const State::Device& device = state_->devices[i];
      if (!device.waiting.empty() && !device.busy &&
          std::find(state_->ready.begin(), state_->ready.end(), i) == state_->ready.end()) {
        state_->ready.push_back(i);
        state_->work.notify_one();
      }
    }
    state_->idle.wait_for(lock, std::chrono::seconds(1));
  }
  state_->stopping = true;
  state_->abort = true;
  state_->work.notify_all();
  lock.unlock();
  for (std::thread& worker : state_->workers) worker.join();
  state_->workers.clear();
  std::vector<SpooledFile> left;
  for (const State::Device& device : state_->devices) {
    left.insert(left.end(), device.waiting.begin(), device.waiting.end());
  }
  WriteSpool(state_->out_dir + "/" + SpoolFileName(1, 1), state_->Spool());
  if (state_->write_error) throw *state_->write_error;
  return left;
}

}  // namespace tly
