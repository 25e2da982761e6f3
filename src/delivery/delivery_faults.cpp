#include "delivery/delivery_faults.h"

#include <algorithm>

namespace tly {
namespace {

constexpr const char* kNames[kDeliveryFaultCount] = {"late_delivery",      "out_of_order",
                                                     "duplicate_delivery", "cut_upload",
                                                     "in_place",           "server_outage"};

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

DeliveryPlan PlanDeliveries(const std::vector<std::pair<std::string, TDateTime>>& pushes,
                            const DeliveryFaultRates& rates, uint32_t seed,
                            const std::string& site) {
  DeliveryPlan plan;
  const auto happens = [&](int64_t day, DeliveryFault fault) {
    return rates[fault] > 0 && Draw(seed, site, day, fault, 0) < rates[fault];
  };
  for (size_t i = 0; i < pushes.size(); ++i) {
    const auto& [name, due] = pushes[i];
    const int64_t day = static_cast<int64_t>(due) - 1;
    PlannedPush push{name, due, due, std::nullopt, 0};
    if (happens(day, DeliveryFault::kOutOfOrder) && i + 1 < pushes.size()) {
      // The run's days go together, newest first, at the due of its last.
      const size_t length = std::min<size_t>(
          Between(Draw(seed, site, day, DeliveryFault::kOutOfOrder, 1), 2, 4), pushes.size() - i);
      const TDateTime send_at = pushes[i + length - 1].second;
      for (size_t k = i + length; k-- > i;) {
        plan.pushes.push_back(
            {pushes[k].first, pushes[k].second, send_at, DeliveryFault::kOutOfOrder, 0});
      }
      i += length - 1;
      continue;
    }
    if (happens(day, DeliveryFault::kLateDelivery)) {
      push.send_at += Between(Draw(seed, site, day, DeliveryFault::kLateDelivery, 1), 1, 72) / 24.0;
      push.fault = DeliveryFault::kLateDelivery;
    } else if (happens(day, DeliveryFault::kCutUpload)) {
      push.fault = DeliveryFault::kCutUpload;
      push.cut_after = static_cast<uint64_t>(
          Between(Draw(seed, site, day, DeliveryFault::kCutUpload, 1), 100, 900));
    } else if (happens(day, DeliveryFault::kDuplicateDelivery)) {
      push.fault = DeliveryFault::kDuplicateDelivery;
    } else if (happens(day, DeliveryFault::kInPlace)) {
      push.fault = DeliveryFault::kInPlace;
    }
    if (happens(day, DeliveryFault::kServerOutage)) {
      const int hours = Between(Draw(seed, site, day, DeliveryFault::kServerOutage, 1), 1, 24);
      // Half open: a whole day's outage ends as the next push comes.
      plan.outages.emplace_back(due, due + hours / 24.0);
    }
    plan.pushes.push_back(push);
  }
  std::stable_sort(
      plan.pushes.begin(), plan.pushes.end(),
      [](const PlannedPush& a, const PlannedPush& b) { return a.send_at < b.send_at; });
  return plan;
}

}  // namespace tly
