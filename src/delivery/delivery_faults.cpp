#include "delivery/delivery_faults.h"

#include <algorithm>

namespace tly {
namespace {

constexpr const char* kNames[kDeliveryFaultCount] = {
    "late_delivery", "out_of_order",  "duplicate_delivery", "cut_upload",
    "in_place",      "server_outage", "stale_resend"};

uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// A number in [0, 1) of the stream (seed, site, day, fault, draw).
double Draw(uint32_t seed, const std::string& site, int64_t day, DeliveryFault fault, int draw) {
  uint64_t h = Mix(seed ^ 0x64656c6976657279ULL);  // "delivery"
  for (const char c : site) h = Mix(h ^ static_cast<unsigned char>(c));
  h = Mix(h ^ static_cast<uint64_t>(day));
  h = Mix(h ^ (static_cast<uint64_t>(fault) << 8) ^ static_cast<uint64_t>(draw));
  return static_cast<double>(h >> 11) / 9007199254740992.0;  // 2^53
}

// A whole number from `low` to `high` of the same stream.
int Between(double draw, int low, int high) {
  return low + std::min(high - low, static_cast<int>(draw * (high - low + 1)));
}

}  // namespace

const char* DeliveryFaultName(DeliveryFault fault) {
  return kNames[static_cast<size_t>(fault)];
}

std::optional<DeliveryFault> DeliveryFaultOfName(std::string_view name) {
  for (size_t i = 0; i < kDeliveryFaultCount; ++i) {
    if (name == kNames[i]) return static_cast<DeliveryFault>(i);
  }
  return std::nullopt;
}

std::string RetryName(const std::string& file_name) {
  const size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return file_name + "(1)";
  return file_name.substr(0, dot) + "(1)" + file_name.substr(dot);
}

DayFaults DrawDayFaults(const DeliveryFaultRates& rates, uint32_t seed, const std::string& site,
                        int64_t day, int every_minutes) {
  const auto happens = [&](DeliveryFault fault) {
    return rates[fault] > 0 && Draw(seed, site, day, fault, 0) < rates[fault];
  };
  const auto between = [&](DeliveryFault fault, int low, int high) {
    return Between(Draw(seed, site, day, fault, 1), low, high);
  };
  DayFaults faults;
  if (happens(DeliveryFault::kOutOfOrder)) {
    faults.out_of_order = between(DeliveryFault::kOutOfOrder, 2, 4);
  }
  if (happens(DeliveryFault::kLateDelivery)) {
    faults.shaping = DeliveryFault::kLateDelivery;
    faults.late_hours = between(DeliveryFault::kLateDelivery, 1, 72);
  } else if (happens(DeliveryFault::kCutUpload)) {
    faults.shaping = DeliveryFault::kCutUpload;
    faults.cut_after = static_cast<uint64_t>(between(DeliveryFault::kCutUpload, 100, 900));
  } else if (happens(DeliveryFault::kDuplicateDelivery)) {
    faults.shaping = DeliveryFault::kDuplicateDelivery;
  } else if (happens(DeliveryFault::kInPlace)) {
    faults.shaping = DeliveryFault::kInPlace;
  } else if (every_minutes < 1440 && happens(DeliveryFault::kStaleResend)) {
    // One of the day's pushes before its final one.
    faults.shaping = DeliveryFault::kStaleResend;
    faults.stale_minute =
        every_minutes * between(DeliveryFault::kStaleResend, 1, (1439 / every_minutes));
  }
  if (happens(DeliveryFault::kServerOutage)) {
    faults.outage_hours = between(DeliveryFault::kServerOutage, 1, 24);
  }
  return faults;
}

DeliveryPlan PlanDeliveries(const std::vector<std::pair<std::string, TDateTime>>& pushes,
                            const DeliveryFaultRates& rates, uint32_t seed, const std::string& site,
                            int every_minutes) {
  DeliveryPlan plan;
  for (size_t i = 0; i < pushes.size(); ++i) {
    const auto& [name, due] = pushes[i];
    const DayFaults faults =
        DrawDayFaults(rates, seed, site, static_cast<int64_t>(due) - 1, every_minutes);
    if (faults.out_of_order > 0 && i + 1 < pushes.size()) {
      // The run's days go together, newest first, at the due of its last.
      const size_t length = std::min<size_t>(faults.out_of_order, pushes.size() - i);
      const TDateTime send_at = pushes[i + length - 1].second;
      for (size_t k = i + length; k-- > i;) {
        plan.pushes.push_back(
            {pushes[k].first, pushes[k].second, send_at, DeliveryFault::kOutOfOrder, 0, 0});
      }
      i += length - 1;
      continue;
    }
    PlannedPush push{name, due, due, faults.shaping, faults.cut_after, faults.stale_minute};
    push.send_at += faults.late_hours / 24.0;
    if (faults.outage_hours > 0) {
      // Half open: a whole day's outage ends as the next push comes.
      plan.outages.emplace_back(due, due + faults.outage_hours / 24.0);
    }
    plan.pushes.push_back(push);
  }
  std::stable_sort(
      plan.pushes.begin(), plan.pushes.end(),
      [](const PlannedPush& a, const PlannedPush& b) { return a.send_at < b.send_at; });
  return plan;
}

}  // namespace tly
