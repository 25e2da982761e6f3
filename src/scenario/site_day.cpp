#include "scenario/site_day.h"

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "counting/day_file_writer.h"
#include "flat/day_file_image.h"
#include "flat/default_layout.h"
#include "flat/flat_tick.h"
#include "flat/random_source.h"
#include "scenario/stay_distribution.h"
#include "scenario/stream_random.h"
#include "scenario/traffic_realism.h"

namespace tly {
namespace {

constexpr int kFlatTickSeconds = 2;
constexpr int kFlatTicksPerDay = 86400 / kFlatTickSeconds;

// Stream quarters below 0 name draws that concern the whole day (the others
// are traffic_realism.h's).
constexpr int32_t kFlatDayStream = -2;

// A walk-through lasts from half a minute to five minutes.
constexpr double kShortestVisit = 30;
constexpr double kLongestWalkThrough = 5 * 60;

cctz::time_zone ZoneOf(const SiteSettings& site) {
  // Loading a zone takes the zone database's lock; consecutive site-days of
  // a thread are mostly of the same zone.
  thread_local std::string loaded_name;
  thread_local cctz::time_zone loaded;
  if (site.time_zone != loaded_name) {
    if (!cctz::load_time_zone(site.time_zone, &loaded)) {
      loaded_name.clear();
      throw std::invalid_argument("cannot load the time zone " + site.time_zone);
    }
    loaded_name = site.time_zone;
  }
  return loaded;
}

int64_t UnixSeconds(const cctz::time_point<cctz::seconds>& moment) {
  return std::chrono::duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
}

// The instant the local day `day` begins: its midnight, or, where the clocks
// skip midnight, the moment they jump.
int64_t StartOfLocalDay(const cctz::time_zone& zone, const cctz::civil_day& day) {
  const cctz::time_zone::civil_lookup lookup = zone.lookup(cctz::civil_second(day));
  return UnixSeconds(lookup.kind == cctz::time_zone::civil_lookup::SKIPPED ? lookup.trans
                                                                           : lookup.pre);
}

cctz::civil_day CivilDayOf(TDateTime date) {
  const CivilDate civil = DecodeDate(date);
  return cctz::civil_day(civil.Year, civil.Month, civil.Day);
}

bool InHours(const DayHours& hours, int minute) {
  for (const auto& [open, close] : hours) {
    if (minute >= open && minute < close) return true;
  }
  return false;
}

StreamKey KeyOf(uint32_t seed, const SiteSettings& site, TDateTime date, int32_t quarter,
                int32_t channel) {
  return SiteDayKey(seed, site, date, quarter, channel);
}

// The flat profile: the program's own ticks every 2 seconds around the
// clock.
std::vector<TrafficEvent> FlatTraffic(const SiteSettings& site, uint32_t seed, TDateTime date) {
  RandomSource random(FlatDayState(site, seed, date));
  std::vector<TrafficEvent> events;
  for (int tick = 0; tick < kFlatTicksPerDay; ++tick) {
    const FlatTick drawn = DrawFlatTick(random);
    if (drawn.total == 0) continue;
    const int second = tick * kFlatTickSeconds;
    for (int c = 0; c < kFlatChannels; ++c) {
      for (int n = 0; n < drawn.counts[c]; ++n) {
        events.push_back(
            {second, static_cast<int16_t>(second / kQuarterSeconds), static_cast<int16_t>(c + 1)});
      }
    }
  }
  return events;
}

}  // namespace

TDateTime LocalTimeOf(const SiteSettings& site, int64_t unix_seconds) {
  const cctz::civil_second local =
      cctz::convert(cctz::time_point<cctz::seconds>(cctz::seconds(unix_seconds)), ZoneOf(site));
  return EncodeDate(static_cast<int>(local.year()), local.month(), local.day()) +
         EncodeTime(local.hour(), local.minute(), local.second(), 0);
}

uint32_t FlatDayState(const SiteSettings& site, uint32_t seed, TDateTime date) {
  return static_cast<uint32_t>(StreamRandom(KeyOf(seed, site, date, kFlatDayStream, 0)).Next());
}

SiteDayClock ClockOfSiteDay(const SiteSettings& site, TDateTime date) {
  const cctz::time_zone zone = ZoneOf(site);
  SiteDayClock clock;
  clock.date = DatePart(date);
  const cctz::civil_day day = CivilDayOf(date);
  clock.start_unix = StartOfLocalDay(zone, day);
  clock.end_unix = StartOfLocalDay(zone, day + 1);
  const int64_t seconds = clock.end_unix - clock.start_unix;
  const int quarters = static_cast<int>(seconds / kQuarterSeconds);
  const bool closed = site.closed_days.count(static_cast<int64_t>(clock.date)) != 0;
  const DayHours& hours = site.hours[ProfileDayOf(site, date)];
  clock.slot.resize(quarters);
  clock.open.resize(quarters);
  const auto offset_at = [&zone](int64_t unix_seconds) {
    return zone.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(unix_seconds))).offset;
  };
  // Most days have no change of the clocks: their quarter hours are the
  // slots in order, without asking the zone for each.
  const bool plain_day =
      seconds == 86400 && offset_at(clock.start_unix) == offset_at(clock.end_unix - 1);
  for (int q = 0; q < quarters; ++q) {
    int minute = q * 15;
    if (!plain_day) {
      const cctz::civil_second local =
          cctz::convert(cctz::time_point<cctz::seconds>(
                            cctz::seconds(clock.start_unix + int64_t{q} * kQuarterSeconds)),
                        zone);
      minute = static_cast<int>(local.hour() * 60 + local.minute());
    }
    clock.slot[q] = minute / 15;
    clock.open[q] = !closed && InHours(hours, minute);
  }
  return clock;
}

namespace {

// Whether a passage goes uncounted: with the site's error rate, more in the
// busier quarter hours with occlusion.
class MissDraw {
 public:
  MissDraw(const TrafficRealism& realism, double flow_share, const StreamKey& key)
      : probability_(realism.count_error_percent / 100 + realism.occlusion * flow_share),
        stream_(key) {}
  bool Next() { return probability_ > 0 && stream_.Uniform() < probability_; }

 private:
  double probability_;
  StreamRandom stream_;
};

// The doors of a site by their weights, for drawing a door by weight.
class DoorPicker {
 public:
  explicit DoorPicker(const std::vector<DoorSettings>& doors)
      : doors_(doors), last_door_(doors.size() - 1) {
    for (const DoorSettings& door : doors) {
      total_ += door.weight;
      bounds_.push_back(total_);
    }
  }

  // The sum of the doors' weights; no door can be drawn unless it is above 0.
  double total() const { return total_; }

  // The door whose share holds `fraction` (from 0 to 1) of the whole: the
  // number of running sums at or below it, counted without branches (which a
  // random door would mispredict).
  const DoorSettings& At(double fraction) const {
    const double pick = fraction * total_;
    size_t index = 0;
    for (size_t k = 0; k < last_door_; ++k) index += pick >= bounds_[k] ? 1 : 0;
    return doors_[index];
  }

 private:
  const std::vector<DoorSettings>& doors_;
  size_t last_door_;
  std::vector<double> bounds_;  // the running sums of the weights
  double total_ = 0;
};

// For each quarter hour of `clock`, the end (in seconds of the day) of its
// stretch of opening hours: where the next closed quarter hour begins, when
// everyone inside has left.
std::vector<int> StretchEnds(const SiteDayClock& clock) {
  const int quarters = static_cast<int>(clock.slot.size());
  std::vector<int> stretch_end(quarters, quarters * kQuarterSeconds);
  for (int q = quarters - 2; q >= 0; --q) {
    stretch_end[q] = clock.open[q + 1] ? stretch_end[q + 1] : (q + 1) * kQuarterSeconds;
  }
  return stretch_end;
}

// Calls `passage(second, slot, channel)` for every counted passage of the
// staff of `site` on the day of `clock`, and `missed_passage(slot, channel)`
// for every one its counter misses.
template <typename Passage, typename Missed>
void DrawStaff(const SiteSettings& site, uint32_t seed, const SiteDayClock& clock,
               const DoorPicker& doors, Passage& passage, Missed& missed_passage) {
  MissDraw missed(site.realism, 0, SiteDayKey(seed, site, clock.date, kStaffStream, kMissChannel));
  for (const StaffPassage& staff : StaffPassages(site, seed, clock)) {
    const DoorSettings& door = doors.At(staff.door_pick);
    const int slot = clock.slot[staff.second / kQuarterSeconds];
    const int channel = staff.exit ? door.out_channel : door.in_channel;
    if (missed.Next()) {
      missed_passage(slot, channel);
    } else {
      passage(staff.second, slot, channel);
    }
  }
}

// What the visitors of every quarter hour of a day are drawn with.
struct VisitorDraw {
  const TrafficRealism& realism;
  const SiteDayClock& clock;
  const DoorPicker& doors;
  const std::vector<int>& stretch_end;  // StretchEnds(clock)
  StreamKey day_key;                    // of the day's streams
  double mean_stay;                     // in seconds
  // Stays of another spread than the usual one from a table of their own.
  const StayDistribution* spread;
  bool grouped;         // whether visitors come in groups
  double others_limit;  // of 1 + Poisson(mean - 1), the size of a group
  int taper;            // the seconds before closing in which visitors leave
};

// The second a visitor who came in at `entry` (of quarter hour `q`) and
// stays `stay` seconds leaves: by the end of the stretch of opening hours at
// the latest; sent home by closing time within the taper before it, most in
// its middle (a density rising from nothing at its start and falling to
// nothing at closing, so that neither end shows a step).
int ExitSecond(const VisitorDraw& draw, int q, int entry, int stay, StreamRandom& stays) {
  const int stretch_end = draw.stretch_end[q];
  int exit = std::min(entry + stay, stretch_end - 1);
  if (draw.taper > 0 && entry + stay >= stretch_end && ClosesAt(draw.clock, stretch_end)) {
    const int span = std::min(draw.taper, stretch_end - entry);
    const double before_closing = (stays.Uniform() + stays.Uniform()) / 2;
    exit = stretch_end - 1 - static_cast<int>(span * before_closing);
    exit = std::max(exit, entry);
  }
  return exit;
}

// Calls `passage` for the visitors of quarter hour `q`, `mean` of them
// expected (before crowds and groups), whose weight is `peak_share` of the
// day's largest, and `missed_passage` for those its counter misses: the
// quarter hour's visitors (or groups of them) of the whole site, each with a
// door in, a second, a stay and a door out, from the quarter hour's stream;
// the knobs' draws from streams of their own.
template <typename Passage, typename Missed>
void DrawQuarter(const VisitorDraw& draw, int q, double mean, double peak_share, Passage& passage,
                 Missed& missed_passage) {
  const TrafficRealism& realism = draw.realism;
  const auto key = [&draw, q](int32_t channel) {
    StreamKey quarter_key = draw.day_key;
    quarter_key.quarter = q;
    quarter_key.channel = channel;
    return quarter_key;
  };
  StreamRandom stream(key(0));
  if (realism.dispersion > 0) {
    StreamRandom crowd(key(kDispersionChannel));
    mean *= crowd.Gamma(realism.dispersion) / realism.dispersion;
  }
  if (draw.grouped) mean /= realism.group_size_mean;
  // Streams of knobs that are off are never drawn from.
  StreamRandom groups(key(kGroupChannel));
  StreamRandom stays(key(kStayChannel));
  MissDraw missed(realism, peak_share, key(kMissChannel));
  const int64_t visitors = stream.Poisson(mean);
  for (int64_t v = 0; v < visitors; ++v) {
    // One draw gives the way in (its low half) and the second of the
    // quarter hour (its high half, scaled: a bias below one in four
    // million, far below what any count shows).
    const uint64_t bits = stream.Next();
    const DoorSettings& in = draw.doors.At(static_cast<double>(bits & 0xFFFFFFFFu) * 0x1.0p-32);
    const int entry =
        q * kQuarterSeconds + static_cast<int>(((bits >> 32) * kQuarterSeconds) >> 32);
    double drawn_stay = draw.spread != nullptr ? draw.spread->Draw(stays, draw.mean_stay)
                                               : stream.Stay(draw.mean_stay);
    if (realism.walk_through_share > 0 && stays.Uniform() < realism.walk_through_share) {
      drawn_stay = kShortestVisit + stays.Uniform() * (kLongestWalkThrough - kShortestVisit);
    }
    // Stays are never negative, and this rounding is part of what the day files hold.
    // NOLINTNEXTLINE(bugprone-incorrect-roundings)
    const int stay = static_cast<int>(drawn_stay + 0.5);
    const int exit = ExitSecond(draw, q, entry, stay, stays);
    const DoorSettings& out = draw.doors.At(stream.Uniform());
    const int64_t members = draw.grouped ? 1 + groups.SmallPoisson(draw.others_limit) : 1;
    const int exit_slot = draw.clock.slot[exit / kQuarterSeconds];
    for (int64_t m = 0; m < members; ++m) {
      if (missed.Next()) {
        missed_passage(draw.clock.slot[q], in.in_channel);
      } else {
        passage(entry, draw.clock.slot[q], in.in_channel);
      }
      if (missed.Next()) {
        missed_passage(exit_slot, out.out_channel);
      } else {
        passage(exit, exit_slot, out.out_channel);
      }
    }
  }
}

// Calls `passage(second, slot, channel)` for every counted passage of the
// visitors and the staff of a site of a profile other than flat on the day of
// `clock`, as drawn, and `missed(slot, channel)` for every passage its
// counter misses.
template <typename Passage, typename Missed>
void DrawVisitors(const SiteSettings& site, uint32_t seed, const SiteDayClock& clock,
                  Passage&& passage, Missed&& missed_passage) {
  const TrafficRealism& realism = site.realism;
  const TDateTime date = clock.date;
  const int quarters = static_cast<int>(clock.slot.size());
  const double expected = ExpectedVisitors(site, date) * DayFactor(site, seed, date);

  // The day's visitors spread over its open quarter hours by their weight.
  const std::vector<int> stretch_end = StretchEnds(clock);
  const std::vector<double> weight = ArrivalWeights(site, clock, stretch_end);
  double total_weight = 0;
  for (int q = quarters - 1; q >= 0; --q) total_weight += weight[q];
  const double peak_weight = *std::max_element(weight.begin(), weight.end());
  const DoorPicker doors(site.doors);
  if (doors.total() <= 0) return;

  if (realism.staff_per_day > 0) DrawStaff(site, seed, clock, doors, passage, missed_passage);
  if (expected <= 0 || total_weight <= 0) return;

  const VisitorDraw draw{
      realism,
      clock,
      doors,
      stretch_end,
      KeyOf(seed, site, date, 0, 0),
      site.dwell_minutes * 60,
      realism.dwell_spread != TrafficRealism{}.dwell_spread
          ? &StayDistribution::Of(realism.dwell_spread)
          : nullptr,
      realism.group_size_mean > 1,
      std::exp(1 - realism.group_size_mean),
      realism.closing_taper_minutes * 60,
  };
  for (int q = 0; q < quarters; ++q) {
    if (weight[q] <= 0) continue;
    DrawQuarter(draw, q, expected * weight[q] / total_weight, weight[q] / peak_weight, passage,
                missed_passage);
  }
}

// Adds one passage to the counter of its slot and channel.
void Count(DayCounts& day, int slot, int channel) {
  int32_t& counter = day.Slots[slot].Counts[channel - 1];
  counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
}

}  // namespace

std::vector<TrafficEvent> SiteDayTraffic(const SiteSettings& site, uint32_t seed,
                                         const SiteDayClock& clock, TrafficOrder order) {
  if (site.profile == TrafficProfile::kFlat) return FlatTraffic(site, seed, clock.date);
  std::vector<TrafficEvent> events;
  events.reserve(static_cast<size_t>(ExpectedVisitors(site, clock.date) * 2.5) + 64);
  DrawVisitors(
      site, seed, clock,
      [&events](int second, int slot, int channel) {
        events.push_back({second, static_cast<int16_t>(slot), static_cast<int16_t>(channel)});
      },
      [](int /*slot*/, int /*channel*/) {});
  if (order == TrafficOrder::kByTime) {
    std::sort(events.begin(), events.end(), [](const TrafficEvent& a, const TrafficEvent& b) {
      return a.second != b.second ? a.second < b.second : a.channel < b.channel;
    });
  }
  return events;
}

void AddTrafficTo(DayCounts& day, const SiteSettings& site, const SiteDayClock& clock,
                  const std::vector<TrafficEvent>& events) {
  if (site.profile != TrafficProfile::kFlat) {
    for (const int slot : clock.slot) MarkSlotUsed(day, slot);
  }
  for (const TrafficEvent& event : events) {
    Count(day, event.slot, event.channel);
    MarkSlotUsed(day, event.slot);
  }
  day.ChannelCount = std::max(day.ChannelCount, site.ChannelCount());
}

namespace {

// The passages missed on the site-day AddVisitorsTo drew last on this
// thread: planting the faults of a day (which lists its misses in the truth)
// follows right after its drawing, and so need not draw the day again.
struct LastMisses {
  const SiteSettings* site = nullptr;  // none: nothing kept
  uint32_t seed = 0;
  TDateTime date = 0;
  MissedCounts missed;
};

LastMisses& LastMissesOfThread() {
  thread_local LastMisses last;
  return last;
}

}  // namespace

void AddVisitorsTo(DayCounts& day, const SiteSettings& site, uint32_t seed,
                   const SiteDayClock& clock) {
  for (const int slot : clock.slot) MarkSlotUsed(day, slot);
  // Counted in a small table of the site's channels first: the whole day
  // record is larger than the cache the drawing needs.
  const int channels = site.ChannelCount();
  std::vector<uint32_t> counts(static_cast<size_t>(kSlotsPerDay * channels), 0);
  LastMisses& last = LastMissesOfThread();
  last.site = nullptr;
  const bool misses = site.realism.Miscounts();
  if (misses) {
    last.missed.channels = channels;
    last.missed.counts.assign(counts.size(), 0);
  }
  uint32_t* const missed = last.missed.counts.data();
  DrawVisitors(
      site, seed, clock,
      [&counts, channels](int /*second*/, int slot, int channel) {
        ++counts[static_cast<size_t>(slot * channels + channel - 1)];
      },
      [missed, channels](int slot, int channel) {
        ++missed[static_cast<size_t>(slot * channels + channel - 1)];
      });
  if (misses) {
    last.site = &site;
    last.seed = seed;
    last.date = clock.date;
  }
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    for (int c = 0; c < channels; ++c) {
      int32_t& counter = day.Slots[slot].Counts[c];
      const int index = slot * channels + c;
      counter =
          static_cast<int32_t>(static_cast<uint32_t>(counter) + counts[static_cast<size_t>(index)]);
    }
  }
  day.ChannelCount = std::max(day.ChannelCount, channels);
}

MissedCounts PassagesMissed(const SiteSettings& site, uint32_t seed, TDateTime date) {
  LastMisses& last = LastMissesOfThread();
  if (last.site == &site && last.seed == seed && last.date == DatePart(date)) {
    last.site = nullptr;
    return std::move(last.missed);
  }
  MissedCounts missed;
  missed.channels = site.ChannelCount();
  missed.counts.assign(static_cast<size_t>(kSlotsPerDay * missed.channels), 0);
  if (!site.realism.Miscounts() || site.profile == TrafficProfile::kFlat) return missed;
  uint32_t* const counts = missed.counts.data();
  const int channels = missed.channels;
  DrawVisitors(
      site, seed, ClockOfSiteDay(site, date), [](int /*second*/, int /*slot*/, int /*channel*/) {},
      [counts, channels](int slot, int channel) {
        ++counts[static_cast<size_t>(slot * channels + channel - 1)];
      });
  return missed;
}

TTlyConfig SiteConfig(const SiteSettings& site) {
  TTlyConfig config;
  if (site.default_layout) {
    ApplyDefaultLayout(config);
  } else {
    config.SetDeviceType(site.device_type);
    config.Flags = 0;
    DoorTable& doors = config.GetDoorTable();
    ChannelTable& channels = config.GetChannelTable();
    for (DoorEntry& door : doors) {
      door = DoorEntry{};
      door.Kind = 'D';
    }
    for (int n = 1; n <= kChannelCount; ++n) {
      channels[n].Active = false;
      channels[n].IsOut = false;
      channels[n].DoorIndex = 1;
    }
    int number = 0;
    for (const DoorSettings& settings : site.doors) {
      DoorEntry& door = doors[++number];
      door.Active = true;
      door.Name = settings.name;
      door.Kind = settings.kind;
      door.HasOut = true;
      for (const int channel : {settings.in_channel, settings.out_channel}) {
        channels[channel].Active = true;
        channels[channel].IsOut = channel == settings.out_channel;
        channels[channel].DoorIndex = number;
      }
    }
    // A TLY01 header derives its channel lines from the doors.
    config.BuildTly01Channels();
  }
  config.ShopName = site.name;
  return config;
}

std::string SiteDayImage(const SiteSettings& site, const DayCounts& day, TDateTime updated_at) {
  TTlyConfig config = SiteConfig(site);
  // Only used slots get a row; as many count fields as the site has channels.
  const std::string rows = FormatDayRows(day, site.shop_code, kGeneratorFromTime, kGeneratorToTime,
                                         kGeneratorChannelsPerRow);
  return config.BuildSealedFileText(rows, updated_at);
}

std::string SiteDirectory(const std::string& out_dir, const SiteSettings& site) {
  return out_dir + (out_dir.empty() || out_dir.back() != '/' ? "/" : "") + site.name;
}

}  // namespace tly
