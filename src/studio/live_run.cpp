#include "studio/live_run.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>

#include "cli/deliver_command.h"
#include "delivery/live_delivery.h"
#include "live/live_scenario.h"
#include "live/truth_follower.h"

namespace tly {
namespace {

constexpr int64_t kTickSeconds = 2;
// How often the run wakes at most: at high speeds many ticks are revealed at
// once, which gives the same files (what is revealed depends on the
// simulated moment alone).
constexpr std::chrono::milliseconds kFrame{50};

}  // namespace

LiveRun::LiveRun(std::shared_ptr<const Scenario> scenario, QString out_dir, double speed,
                 int64_t start, int64_t end, QObject* parent)
    : QThread(parent),
      scenario_(std::move(scenario)),
      out_dir_(std::move(out_dir)),
      speed_(speed),
      start_(start),
      end_(end > 0 ? end : std::numeric_limits<int64_t>::max()) {}

LiveRun::~LiveRun() {
  RequestStop();
  wait();
}

void LiveRun::RequestStop() {
  const std::lock_guard<std::mutex> lock(mutex_);
  stop_ = true;
  wake_.notify_all();
}

bool LiveRun::WaitUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_until(lock, until, [this] { return stop_; });
}

void LiveRun::run() {
  const std::string out = out_dir_.toStdString();
  LiveScenario live(*scenario_, out, scenario_->seed);
  std::unique_ptr<LiveDelivery> delivery;
  try {
    live.Start(start_);
    delivery = StartSitesDelivery(*scenario_, out, start_, [this](const std::string& text) {
      emit DeliveryNotice(QString::fromStdString(text));
    });
  } catch (const std::exception& refused) {
    // Another writer, a day file of another layout, a folder that cannot be
    // written: nothing was generated.
    emit Stopped(QString::fromUtf8(refused.what()));
    return;
  }
  // The truth of each finished day goes to OUT/faults.jsonl at once, as the
  // command does.
  TruthFollower truth(live, out);
  const int64_t now = Simulate(live, delivery.get(), truth);
  Finish(live, delivery.get(), now, truth);
}

int64_t LiveRun::Simulate(LiveScenario& live, LiveDelivery* delivery, TruthFollower& truth) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point real_start = Clock::now();
  const auto simulated_at = [&](Clock::time_point real) {
    const double seconds = std::chrono::duration<double>(real - real_start).count() * speed_;
    const int64_t moment = start_ + static_cast<int64_t>(seconds) / kTickSeconds * kTickSeconds;
    return std::min(moment, end_);
  };
  const auto real_tick = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(kTickSeconds / speed_));
  const Clock::duration frame = std::max<Clock::duration>(real_tick, kFrame);
  int64_t now = start_;
  Clock::time_point wake = real_start;
  while (now < end_) {
    wake += frame;
    if (WaitUntil(wake)) break;
    const int64_t next = simulated_at(Clock::now());
    if (next <= now) continue;
    now = next;
    live.AdvanceTo(now, [this](const LiveScenario::DayChange& change) {
      emit DayFinished(QString::fromStdString(change.site),
                       QString::fromStdString(change.finished_file));
    });
    truth.Follow();
    if (delivery) delivery->AdvanceTo(now);
    emit Progressed(now, live.SaveCount(),
                    live.SavesOk() ? QString() : QString::fromStdString(live.LastSaveError()));
  }
  return now;
}

void LiveRun::Finish(LiveScenario& live, LiveDelivery* delivery, int64_t now,
                     TruthFollower& truth) {
  const bool saved = live.SaveAll();
  truth.Follow();
  size_t undelivered = 0;
  QString delivery_error;
  if (delivery) {
    try {
      undelivered = delivery->Finish(now, kFinalDeliveryWait).size();
    } catch (const std::system_error& failure) {
      delivery_error = QString::fromUtf8(failure.what());
    }
  }
  emit Progressed(now, live.SaveCount(),
                  saved ? QString() : QString::fromStdString(live.LastSaveError()));
  if (!saved) {
    emit Stopped(
        tr("Stopped; the last save failed: %1").arg(QString::fromStdString(live.LastSaveError())));
  } else if (!truth.Ok()) {
    emit Stopped(tr("Stopped; the truth of the faults cannot be written: %1")
                     .arg(QString::fromStdString(truth.Error())));
  } else if (!delivery_error.isEmpty()) {
    emit Stopped(tr("Stopped; the delivery log cannot be written: %1").arg(delivery_error));
  } else if (undelivered > 0) {
    emit Stopped(tr("Stopped; every site saved, %1 file(s) wait in the spool for the next run.")
                     .arg(undelivered));
  } else {
    emit Stopped(tr("Stopped; every site saved."));
  }
}

}  // namespace tly
