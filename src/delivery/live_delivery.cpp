#include "delivery/live_delivery.h"

#include <cctz/time_zone.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "dayfile/day_file_name.h"
#include "delivery/delivery_log.h"
#include "delivery/delivery_url.h"
#include "delivery/partial_day_file.h"
#include "delivery/transfer.h"
#include "support/directory_lock.h"
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
  // A file to send, and the delivery fault that shapes its sending.
  struct Pending {
    SpooledFile file;
    std::optional<DeliveryFault> fault;
    uint64_t cut_after = 0;  // kCutUpload: of every 1000 bytes
    int stale_minute = 0;    // kStaleResend
    bool cut_done = false;
  };

  // A push of `file` that no fault shapes.
  static Pending Plain(const SpooledFile& file) {
    Pending item;
    item.file = file;
    return item;
  }

  enum class Sent { kDone, kFailed, kCut };

  struct Device {
    Site site;
    cctz::time_zone zone;
    std::string url;
    std::string password;
    int64_t day = 0;                  // the local date of the last push slot reached
    int slot = 0;                     // its slot: minute of the day / every_minutes
    std::deque<Pending> waiting;      // to send, oldest first
    bool busy = false;                // a worker sends its files now
    int tries = 0;                    // failed attempts of the first file since its push
    int64_t first_try = 0;            // the simulated instant of the first of them
    std::optional<int64_t> retry_at;  // of the next attempt
    std::vector<std::pair<int64_t, Pending>> delayed;      // late files, with when they go
    std::vector<Pending> run;                              // out of order: held, oldest first
    int run_left = 0;                                      // days still to join the run
    std::vector<std::pair<TDateTime, TDateTime>> outages;  // local [start, end)
    std::map<std::string, std::string> stale;  // the version a stale resend sends, per file
  };

  std::string out_dir;
  // The delivery log and the spool are OUT's: a `deliver` on the same OUT
  // is refused while the run delivers, and the other way round.
  std::unique_ptr<DirectoryLock> out_lock;
  uint32_t seed = 0;
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

  // What waits (held back by a fault too), and what waited for sites this
  // run does not deliver.
  std::vector<SpooledFile> Spool() const {
    std::vector<SpooledFile> spool = unknown_spooled;
    for (const Device& device : devices) {
      for (const Pending& item : device.waiting) spool.push_back(item.file);
      for (const Pending& item : device.run) spool.push_back(item.file);
      for (const auto& [when, item] : device.delayed) spool.push_back(item.file);
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

  void MakeReady(size_t index) {
    const Device& device = devices[index];
    if (device.busy || device.waiting.empty() ||
        std::find(ready.begin(), ready.end(), index) != ready.end()) {
      return;
    }
    ready.push_back(index);
    work.notify_one();
  }

  // Adds the push `item` to the device's queue; a version of the same file
  // that waits already is replaced (the device sends its file as it stands).
  // A push starts the retries anew.
  void Queue(size_t index, const Pending& item) {
    Device& device = devices[index];
    const auto same =
        std::find_if(device.waiting.begin(), device.waiting.end(),
                     [&](const Pending& p) { return p.file.file_name == item.file.file_name; });
    if (same != device.waiting.end()) {
      *same = item;
    } else {
      device.waiting.push_back(item);
    }
    device.tries = 0;
    device.retry_at.reset();
    MakeReady(index);
  }

  // The final file of local day `day`, pushed at its midnight, as the day's
  // delivery faults make it (delivery_faults.h).
  void QueueFinal(size_t index, int64_t day) {
    Device& device = devices[index];
    Pending push = Plain(PushOf(device, day, day + 1, 0));
    // A file held back is in the spool on disk, so that a run that is
    // killed still sends it the next time.
    spool_dirty = true;
    if (device.run_left > 0) {
      push.fault = DeliveryFault::kOutOfOrder;
      device.run.push_back(push);
      if (--device.run_left == 0) ReleaseRun(index);
      SaveSpool();
      return;
    }
    const DayFaults faults = FaultsOf(device, day);
    if (faults.out_of_order > 0) {
      push.fault = DeliveryFault::kOutOfOrder;
      device.run = {push};
      device.run_left = faults.out_of_order - 1;
      SaveSpool();
      return;
    }
    push.fault = faults.shaping;
    push.cut_after = faults.cut_after;
    push.stale_minute = faults.stale_minute;
    const TDateTime midnight = static_cast<TDateTime>(day + 1);
    if (faults.outage_hours > 0) {
      device.outages.emplace_back(midnight, midnight + faults.outage_hours / 24.0);
    }
    if (faults.late_hours > 0) {
      device.delayed.emplace_back(now + int64_t{faults.late_hours} * 3600, push);
      SaveSpool();
      return;
    }
    Queue(index, push);
  }

  // The held run of days, newest first.
  void ReleaseRun(size_t index) {
    std::vector<Pending> run = std::move(devices[index].run);
    devices[index].run.clear();
    devices[index].run_left = 0;
    for (auto item = run.rbegin(); item != run.rend(); ++item) Queue(index, *item);
  }

  // Late files whose time has come, and retries that are due.
  void Release(size_t index, bool all) {
    Device& device = devices[index];
    for (size_t k = 0; k < device.delayed.size();) {
      if (all || device.delayed[k].first <= now) {
        const Pending item = device.delayed[k].second;
        device.delayed.erase(device.delayed.begin() + static_cast<std::ptrdiff_t>(k));
        Queue(index, item);
      } else {
        ++k;
      }
    }
    if (all && !device.run.empty()) ReleaseRun(index);
    // A device that is still busy is retried at the next advance.
    if (device.retry_at && *device.retry_at <= now && !device.busy) {
      device.retry_at.reset();
      MakeReady(index);
    }
  }

  DayFaults FaultsOf(const Device& device, int64_t day) const {
    return DrawDayFaults(device.site.delivery.faults, seed, device.site.delivery.name, day,
                         device.site.delivery.settings.every_minutes);
  }

  TDateTime LocalNow(const Device& device) const {
    const LocalMinute local = LocalAt(device.zone, now);
    return static_cast<TDateTime>(local.day) + local.minute / 1440.0;
  }

  bool InOutage(const Device& device) const {
    const TDateTime time = LocalNow(device);
    return std::any_of(device.outages.begin(), device.outages.end(), [&](const auto& window) {
      return window.first <= time && time < window.second;
    });
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
        const Pending item = device.waiting.front();
        lock.unlock();
        const Sent sent = Send(device, item, transfer);
        lock.lock();
        if (sent != Sent::kDone) {
          if (sent == Sent::kCut) device.waiting.front().cut_done = true;
          // Kept on disk at once, so that a run that is killed still knows.
          spool_dirty = true;
          SaveSpool();
          break;
        }
        device.tries = 0;
        if (!device.waiting.empty() &&
            device.waiting.front().file.file_name == item.file.file_name &&
            device.waiting.front().file.due == item.file.due) {
          device.waiting.pop_front();
        }
        if (spool_dirty) SaveSpool();
      }
      device.busy = false;
      // A retry that came due while it was busy.
      if (device.retry_at && *device.retry_at <= now) {
        device.retry_at.reset();
        MakeReady(index);
      }
      idle.notify_all();
    }
  }

  // The next attempt after half the site's retry_minutes and after all of
  // them, counted from the instant of the first failed one (the mutex held,
  // at the attempt); then the file waits for the next push.
  void ScheduleRetry(Device& device) {
    if (device.tries++ == 0) device.first_try = now;
    const std::vector<int> offsets = RetryOffsets(device.site.delivery.settings.retry_minutes);
    if (device.tries < static_cast<int>(offsets.size())) {
      device.retry_at = device.first_try + int64_t{offsets[static_cast<size_t>(device.tries)]} * 60;
    }
  }

  // Sends one file, and what its fault adds after it.
  Sent Send(Device& device, const Pending& item, Transfer& transfer) {
    const SpooledFile& file = item.file;
    DeliverySettings settings = device.site.delivery.settings;
    if (item.fault == DeliveryFault::kInPlace) settings.temp_name = false;
    const RemoteTarget target = PushTarget(settings, device.url, file.file_name);
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (InOutage(device)) {
        Log(device, {Attempt(device, file, target,
                             {UploadOutcome::kFailed, 0, "the server cannot be reached"},
                             DeliveryFault::kServerOutage)});
        ScheduleRetry(device);
        return Sent::kFailed;
      }
    }
    std::optional<std::string> bytes;
    UploadResult result;
    try {
      bytes = ReadWholeFile(out_dir + "/" + file.site + "/" + file.file_name);
    } catch (const std::system_error& error) {
      result.error = error.what();
    }
    if (!bytes) {
      if (result.error.empty()) result.error = "the local file is not there yet";
      std::lock_guard<std::mutex> lock(mutex);
      Log(device, {Attempt(device, file, target, result, std::nullopt)});
      return Sent::kDone;
    }
    const bool cut = item.fault == DeliveryFault::kCutUpload && !item.cut_done;
    Upload upload{&settings, target, device.password, *bytes, {}, &abort};
    if (cut) upload.cut_after = bytes->size() * item.cut_after / 1000;
    result = transfer.Send(upload);
    const bool shaped = item.fault && item.fault != DeliveryFault::kDuplicateDelivery &&
                        item.fault != DeliveryFault::kStaleResend &&
                        (item.fault != DeliveryFault::kCutUpload || cut);
    std::vector<DeliveryAttempt> attempts;
    {
      std::lock_guard<std::mutex> lock(mutex);
      attempts.push_back(Attempt(device, file, target, result, shaped ? item.fault : std::nullopt));
    }
    const bool ok = result.outcome == UploadOutcome::kOk;
    if (ok) SendAfter(device, item, settings, *bytes, transfer, attempts);
    std::lock_guard<std::mutex> lock(mutex);
    if (ok) KeepStaleVersion(device, file, *bytes);
    Log(device, attempts);
    if (result.outcome == UploadOutcome::kCut) return Sent::kCut;
    Tell(device.url, ok, result.error);
    if (!ok) ScheduleRetry(device);
    return ok ? Sent::kDone : Sent::kFailed;
  }

  // After a final file: its duplicate under a retry's name, or the stale
  // version of the day sent again under its own.
  void SendAfter(Device& device, const Pending& item, const DeliverySettings& settings,
                 const std::string& bytes, Transfer& transfer,
                 std::vector<DeliveryAttempt>& attempts) {
    const SpooledFile& file = item.file;
    if (item.fault == DeliveryFault::kDuplicateDelivery) {
      const RemoteTarget target =
          PushTarget(settings, device.url, file.file_name, RetryName(file.file_name));
      const UploadResult again =
          transfer.Send({&settings, target, device.password, bytes, {}, &abort});
      std::lock_guard<std::mutex> lock(mutex);
      attempts.push_back(Attempt(device, file, target, again, DeliveryFault::kDuplicateDelivery));
    } else if (item.fault == DeliveryFault::kStaleResend) {
      const TDateTime day = DateFromFileName(file.file_name);
      std::string stale;
      {
        std::lock_guard<std::mutex> lock(mutex);
        const auto kept = device.stale.find(file.file_name);
        stale = kept != device.stale.end() ? kept->second
                                           : PartialDayFile(bytes, day, item.stale_minute);
        device.stale.erase(file.file_name);
      }
      const RemoteTarget target = PushTarget(settings, device.url, file.file_name);
      const UploadResult again =
          transfer.Send({&settings, target, device.password, stale, {}, &abort});
      std::lock_guard<std::mutex> lock(mutex);
      attempts.push_back(Attempt(device,
                                 {file.site, file.file_name, day + item.stale_minute / 1440.0},
                                 target, again, DeliveryFault::kStaleResend));
    }
  }

  // The bytes of the push whose version the day's stale resend sends again
  // (the mutex held).
  void KeepStaleVersion(Device& device, const SpooledFile& file, const std::string& bytes) {
    const TDateTime day = DateFromFileName(file.file_name);
    const double minute = (file.due - day) * 1440.0;
    if (minute <= 0 || minute >= 1440) return;
    const DayFaults faults = FaultsOf(device, static_cast<int64_t>(day));
    if (faults.shaping == DeliveryFault::kStaleResend &&
        static_cast<int>(std::lround(minute)) == faults.stale_minute) {
      device.stale[file.file_name] = bytes;
    }
  }

  // The log line of an attempt made now (the mutex held).
  DeliveryAttempt Attempt(const Device& device, const SpooledFile& file, const RemoteTarget& target,
                          const UploadResult& result, std::optional<DeliveryFault> fault) const {
    DeliveryAttempt attempt = AttemptOf(file, target, LocalNow(device), result);
    if (fault) attempt.fault = DeliveryFaultName(*fault);
    return attempt;
  }

  // Adds `attempts` to the log (the mutex held).
  void Log(const Device&, const std::vector<DeliveryAttempt>& attempts) {
    try {
      AppendToDeliveryLog(out_dir + "/" + DeliveryLogFileName(1, 1), attempts);
    } catch (const std::system_error& error) {
      if (!write_error) write_error = error;
    }
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
                           std::function<void(const std::string&)> notice, uint32_t seed)
    : state_(std::make_unique<State>()) {
  state_->out_dir = std::move(out_dir);
  state_->seed = seed;
  state_->out_lock =
      std::make_unique<DirectoryLock>(state_->out_dir, "tly-generator live delivery");
  state_->notice = std::move(notice);
  std::vector<DeliverySite> delivering;
  delivering.reserve(sites.size());
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
      device->waiting.push_back(State::Plain(file));  // sent with the device's first push
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
    state_->Release(i, false);
    if (local.day == device.day && slot == device.slot) continue;
    // Midnight passed: the day's final file.
    if (local.day != device.day) state_->QueueFinal(i, device.day);
    if (slot > 0)
      state_->Queue(i, State::Plain(state_->PushOf(device, local.day, local.day, slot * every)));
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
    // Late files and held runs go now, before the run's last push.
    state_->Release(i, true);
    state_->Queue(i, State::Plain(state_->PushOf(device, local.day, local.day, local.minute)));
  }
  // Each failure waits for another push: at the end that is a retry, until
  // the wait is over.
  const auto end = std::chrono::steady_clock::now() + wait;
  // A device whose server is out keeps its files for the next run.
  const auto all_sent = [this] {
    return std::all_of(state_->devices.begin(), state_->devices.end(), [this](const auto& d) {
      return (d.waiting.empty() || state_->InOutage(d)) && !d.busy;
    });
  };
  while (!all_sent() && std::chrono::steady_clock::now() < end) {
    for (size_t i = 0; i < state_->devices.size(); ++i) {
      if (!state_->InOutage(state_->devices[i])) state_->MakeReady(i);
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
    for (const State::Pending& item : device.waiting) left.push_back(item.file);
  }
  WriteSpool(state_->out_dir + "/" + SpoolFileName(1, 1), state_->Spool());
  if (state_->write_error) throw *state_->write_error;
  return left;
}

}  // namespace tly
