#include "delivery/history_delivery.h"

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "dayfile/day_file_name.h"
#include "delivery/delivery_log.h"
#include "delivery/delivery_url.h"
#include "delivery/partial_day_file.h"
#include "delivery/transfer.h"
#include "support/file_read.h"
#include "support/system_error.h"

namespace tly {
namespace {

constexpr double kMinute = 1.0 / 1440;

// "scheme://host:port" of `url`: what a notice of a failing server names.
std::string ServerOf(const std::string& url) {
  const size_t start = url.find("//") + 2;
  return RedactUrl(url.substr(0, url.find('/', start)));
}

// What all sites' devices share while they deliver.
class Delivery {
 public:
  explicit Delivery(const HistoryDeliveryRequest& request) : request_(request) {
    for (const SpooledFile& file : ReadSpool(SpoolPath())) {
      const auto site = std::find_if(request.sites.begin(), request.sites.end(),
                                     [&](const DeliverySite& s) { return s.name == file.site; });
      if (site == request.sites.end()) {
        unknown_spooled_.push_back(file);  // kept for a run that delivers that site
      } else {
        spooled_[file.site].push_back(file);
        ++total_;
      }
    }
    for (size_t i = 0; i < request.pushes.size() && i < request.sites.size(); ++i) {
      const std::vector<SpooledFile>& spooled = spooled_[request.sites[i].name];
      for (const DeliveryPush& push : request.pushes[i]) {
        total_ +=
            push.own && std::none_of(spooled.begin(), spooled.end(), [&](const SpooledFile& file) {
              return file.file_name == push.file_name;
            });
      }
    }
  }

  std::string SpoolPath() const {
    return request_.out_dir + "/" + SpoolFileName(request_.shard_index, request_.shard_count);
  }

  std::vector<SpooledFile> SpooledOf(const std::string& site) {
    const auto found = spooled_.find(site);
    return found == spooled_.end() ? std::vector<SpooledFile>{} : found->second;
  }

  // Says once that a server fails, and once that it is back.
  void ServerState(const std::string& url, bool ok, const std::string& error) {
    const std::string server = ServerOf(url);
    std::lock_guard<std::mutex> lock(mutex_);
    const bool failing = failing_.count(server) != 0;
    if (ok == !failing) return;
    if (ok) {
      failing_.erase(server);
    } else {
      failing_.insert(server);
    }
    if (request_.notice) {
      request_.notice(ok ? server + " is back" : server + " fails: " + error);
    }
  }

  void Done(bool delivered) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (delivered) ++delivered_;
    if (request_.progress) request_.progress(done_, total_);
  }

  const HistoryDeliveryRequest& request() const { return request_; }
  uint64_t delivered() const { return delivered_; }
  std::vector<SpooledFile> unknown_spooled() const { return unknown_spooled_; }

 private:
  const HistoryDeliveryRequest& request_;
  std::map<std::string, std::vector<SpooledFile>> spooled_;
  std::vector<SpooledFile> unknown_spooled_;
  std::mutex mutex_;
  std::set<std::string> failing_;
  uint64_t done_ = 0;
  uint64_t total_ = 0;
  uint64_t delivered_ = 0;
};

// One site's device: sends its backlog and its pushes in order.
class Device {
 public:
  Device(Delivery& delivery, const DeliverySite& site, std::string password, Transfer& transfer)
      : delivery_(delivery),
        site_(site),
        password_(std::move(password)),
        transfer_(transfer),
        url_(ExpandUrl(site.settings.url, site.name, site.shop_code)) {}

  void Run(const std::vector<DeliveryPush>& pushes) {
    for (const SpooledFile& file : delivery_.SpooledOf(site_.name))
      waiting_.push_back({file, std::nullopt, 0, 0, false});
    // A file that waited in the spool goes with the first push, not again
    // with its own.
    // The pushes of another share's days only wake the device up.
    std::set<std::string> skipped;
    for (const Pending& item : waiting_) skipped.insert(item.file.file_name);
    std::vector<std::pair<std::string, TDateTime>> schedule;
    for (const DeliveryPush& push : pushes) {
      schedule.emplace_back(push.file_name, push.due);
      if (!push.own) skipped.insert(push.file_name);
    }
    plan_ = PlanDeliveries(schedule, site_.faults, delivery_.request().seed, site_.name,
                           site_.settings.every_minutes);
    for (const PlannedPush& push : plan_.pushes) {
      if (skipped.count(push.file_name) == 0) {
        waiting_.push_back({{site_.name, push.file_name, push.due},
                            push.fault,
                            push.cut_after,
                            push.stale_minute,
                            false});
      }
      SendWaiting(push.send_at);
    }
    if (pushes.empty() && !waiting_.empty()) SendWaiting(waiting_.back().file.due);
  }

  std::vector<DeliveryAttempt>& attempts() { return attempts_; }
  std::vector<SpooledFile> waiting() const {
    std::vector<SpooledFile> files;
    for (const Pending& item : waiting_) files.push_back(item.file);
    return files;
  }

 private:
  // A file the device has to send, and the fault that shapes its sending.
  struct Pending {
    SpooledFile file;
    std::optional<DeliveryFault> fault;
    uint64_t cut_after = 0;  // per 1000 bytes, for kCutUpload
    int stale_minute = 0;    // for kStaleResend
    bool cut_done = false;
  };

  enum class Sent { kDone, kWaitsByFault, kWaitsForServer };

  // Sends what waits, oldest first, until the server fails. A file that a
  // fault holds back (an outage, a cut) waits without holding back the
  // others, so that what one file meets never depends on which other files
  // a run delivers (a share of the days, or all of them).
  void SendWaiting(TDateTime now) {
    for (size_t i = 0; i < waiting_.size();) {
      const Sent sent = SendWithRetries(waiting_[i], now);
      if (sent == Sent::kWaitsForServer) return;
      if (sent == Sent::kDone) {
        waiting_.erase(waiting_.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }

  bool InOutage(TDateTime time) const {
    return std::any_of(plan_.outages.begin(), plan_.outages.end(), [&](const auto& window) {
      return window.first <= time && time < window.second;
    });
  }

  // Whether `item` is done with (sent, or gone from OUT so that it cannot
  // be), or why it waits.
  Sent SendWithRetries(Pending& item, TDateTime push_time) {
    const SpooledFile& file = item.file;
    // A file from the spool of an earlier run may be due after this push.
    const TDateTime now = std::max(push_time, file.due);
    const std::string local = delivery_.request().out_dir + "/" + site_.name + "/" + file.file_name;
    std::optional<std::string> bytes;
    std::string read_error;
    try {
      bytes = ReadWholeFile(local);
    } catch (const std::system_error& error) {
      read_error = error.what();
    }
    DeliverySettings settings = site_.settings;
    if (item.fault == DeliveryFault::kInPlace) settings.temp_name = false;
    const RemoteTarget target = PushTarget(settings, url_, file.file_name);
    if (!bytes) {
      Record(
          file, target, now,
          {UploadOutcome::kFailed, 0, read_error.empty() ? "the local file is gone" : read_error},
          std::nullopt);
      delivery_.Done(false);
      return Sent::kDone;
    }
    bool by_fault = true;
    const std::vector<int> offsets = RetryOffsets(site_.settings.retry_minutes);
    for (size_t k = 0; k < offsets.size(); ++k) {
      const TDateTime made = now + offsets[k] * kMinute;
      if (InOutage(made)) {
        Record(file, target, made, {UploadOutcome::kFailed, 0, "the server cannot be reached"},
               DeliveryFault::kServerOutage);
        continue;
      }
      if (k > 0) std::this_thread::sleep_for(delivery_.request().retry_pause);
      const bool cut = item.fault == DeliveryFault::kCutUpload && !item.cut_done;
      Upload upload{&settings, target, password_, *bytes, {}, nullptr};
      if (cut) upload.cut_after = bytes->size() * item.cut_after / 1000;
      const UploadResult result = transfer_.Send(upload);
      // A duplicate and a stale resend are attempts of their own, after this one.
      const bool shaped = item.fault && item.fault != DeliveryFault::kDuplicateDelivery &&
                          item.fault != DeliveryFault::kStaleResend &&
                          (item.fault != DeliveryFault::kCutUpload || cut);
      Record(file, target, made, result, shaped ? item.fault : std::nullopt);
      if (result.outcome == UploadOutcome::kCut) {
        item.cut_done = true;  // never completed until the next push
        return Sent::kWaitsByFault;
      }
      by_fault = false;
      delivery_.ServerState(url_, result.outcome == UploadOutcome::kOk, result.error);
      if (result.outcome == UploadOutcome::kOk) {
        if (item.fault == DeliveryFault::kDuplicateDelivery)
          SendAgain(file, settings, *bytes, made);
        if (item.fault == DeliveryFault::kStaleResend)
          SendStale(file, settings, *bytes, made, item.stale_minute);
        delivery_.Done(true);
        return Sent::kDone;
      }
    }
    return by_fault ? Sent::kWaitsByFault : Sent::kWaitsForServer;
  }

  // The same file once more, under the name a device's retry gives it.
  void SendAgain(const SpooledFile& file, const DeliverySettings& settings,
                 const std::string& bytes, TDateTime made) {
    const RemoteTarget target =
        PushTarget(settings, url_, file.file_name, RetryName(file.file_name));
    const UploadResult result = transfer_.Send({&settings, target, password_, bytes, {}, nullptr});
    Record(file, target, made, result, DeliveryFault::kDuplicateDelivery);
  }

  // The version of the day as it stood at `minute`, after its final one and
  // under the same name; the log's due is that version's push.
  void SendStale(const SpooledFile& file, const DeliverySettings& settings,
                 const std::string& final_bytes, TDateTime made, int minute) {
    const TDateTime day = DateFromFileName(file.file_name);
    const std::string bytes = PartialDayFile(final_bytes, day, minute);
    const RemoteTarget target = PushTarget(settings, url_, file.file_name);
    const UploadResult result = transfer_.Send({&settings, target, password_, bytes, {}, nullptr});
    Record({file.site, file.file_name, day + minute / 1440.0}, target, made, result,
           DeliveryFault::kStaleResend);
  }

  void Record(const SpooledFile& file, const RemoteTarget& target, TDateTime made,
              const UploadResult& result, std::optional<DeliveryFault> fault) {
    attempts_.push_back(AttemptOf(file, target, made, result));
    if (fault) attempts_.back().fault = DeliveryFaultName(*fault);
  }

  Delivery& delivery_;
  const DeliverySite& site_;
  std::string password_;
  Transfer& transfer_;
  std::string url_;
  DeliveryPlan plan_;
  std::vector<Pending> waiting_;
  std::vector<DeliveryAttempt> attempts_;
};

}  // namespace

RemoteTarget PushTarget(const DeliverySettings& settings, const std::string& url,
                        const std::string& file_name, const std::string& remote_name) {
  if (IsHttp(settings.protocol) && settings.method == HttpMethod::kPost) {
    // A form is posted to the url itself and names the file.
    const std::string name = remote_name.empty() ? file_name : remote_name;
    return {url, url, name};
  }
  // An HTTP server takes a request's body whole before it shows the file, so
  // HTTP needs no temporary name (and has no rename but WebDAV's).
  return TargetOf(url, file_name, settings.temp_name && !IsHttp(settings.protocol), remote_name);
}

std::vector<int> RetryOffsets(int retry_minutes) {
  std::vector<int> offsets = {0};
  if (retry_minutes / 2 > 0) offsets.push_back(retry_minutes / 2);
  if (retry_minutes > 0) offsets.push_back(retry_minutes);
  return offsets;
}

DeliveryAttempt AttemptOf(const SpooledFile& file, const RemoteTarget& target, TDateTime made,
                          const UploadResult& result) {
  DeliveryAttempt attempt;
  attempt.site = file.site;
  attempt.file = file.site + "/" + file.file_name;
  attempt.remote = target.name;
  attempt.due = file.due;
  attempt.made = made;
  attempt.bytes = result.bytes_sent;
  attempt.outcome = result.outcome == UploadOutcome::kOk    ? "ok"
                    : result.outcome == UploadOutcome::kCut ? "cut"
                                                            : "failed";
  attempt.error = result.error;
  return attempt;
}

std::vector<std::string> DeliveryPasswords(const std::vector<DeliverySite>& sites) {
  std::vector<std::string> passwords;
  for (const DeliverySite& site : sites) {
    const std::string& name = site.settings.password_env;
    const char* value = name.empty() ? "" : std::getenv(name.c_str());
    if (value == nullptr) {
      throw DeliveryRefused("site " + site.name + ": its delivery's password_env names " + name +
                            ", which is not set");
    }
    passwords.emplace_back(value);
  }
  return passwords;
}

HistoryDeliveryResult DeliverHistory(const HistoryDeliveryRequest& request) {
  const std::vector<std::string> passwords = DeliveryPasswords(request.sites);
  InitTransfers();
  Delivery delivery(request);
  std::vector<std::unique_ptr<Device>> devices(request.sites.size());
  std::atomic<size_t> next{0};
  const auto work = [&] {
    Transfer transfer;
    for (size_t i = next++; i < request.sites.size(); i = next++) {
      devices[i] = std::make_unique<Device>(delivery, request.sites[i], passwords[i], transfer);
      devices[i]->Run(i < request.pushes.size() ? request.pushes[i] : std::vector<DeliveryPush>{});
    }
  };
  const size_t threads = std::clamp<size_t>(static_cast<size_t>(std::max(request.connections, 1)),
                                            1, std::max<size_t>(request.sites.size(), 1));
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& thread : pool) thread.join();

  HistoryDeliveryResult result;
  std::vector<DeliveryAttempt> attempts;
  for (const std::unique_ptr<Device>& device : devices) {
    attempts.insert(attempts.end(), device->attempts().begin(), device->attempts().end());
    const std::vector<SpooledFile> waiting = device->waiting();
    result.spooled.insert(result.spooled.end(), waiting.begin(), waiting.end());
  }
  result.attempts = attempts.size();
  result.delivered = delivery.delivered();
  AppendToDeliveryLog(
      request.out_dir + "/" + DeliveryLogFileName(request.shard_index, request.shard_count),
      attempts);
  std::vector<SpooledFile> spool = delivery.unknown_spooled();
  spool.insert(spool.end(), result.spooled.begin(), result.spooled.end());
  WriteSpool(delivery.SpoolPath(), spool);
  return result;
}

std::vector<DeliveryPush> FinalDayFilePushes(const std::string& site_dir,
                                             std::optional<TDateTime> from,
                                             std::optional<TDateTime> to) {
  std::vector<DeliveryPush> pushes;
  DIR* dir = ::opendir(site_dir.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT) return pushes;
    ThrowSystemError(errno, site_dir);
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != 10 || name.substr(6) != ".tly") continue;
    const TDateTime date = DateFromFileName(name);
    if (date == kNoDate || (from && date < *from) || (to && date > *to)) continue;
    pushes.push_back({name, date + 1});
  }
  ::closedir(dir);
  std::sort(pushes.begin(), pushes.end(),
            [](const DeliveryPush& a, const DeliveryPush& b) { return a.due < b.due; });
  return pushes;
}

}  // namespace tly
