#include "live/live_scenario.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "counting/day_file_loader.h"
#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
#include "dayfile/line_scanner.h"
#include "live/live_site.h"
#include "scenario/site_day.h"
#include "scenario/site_day_faults.h"
#include "scenario/site_layout_check.h"
#include "support/output_directory.h"
#include "support/system_error.h"

namespace tly {
namespace {

// The least simulated time between two saves of a site.
constexpr int64_t kSaveSeconds = 2;

// How many of the day's first passages `events` (in the order of time) `day`
// holds, when its counts are exactly theirs; std::nullopt when they are no
// beginning of the day. Each passage adds one to one count, so at most one
// number of passages can match.
std::optional<size_t> PassagesHeld(const DayCounts& day, const std::vector<TrafficEvent>& events) {
  std::vector<uint32_t> counted(static_cast<size_t>(kSlotsPerDay) * kMaxChannels, 0);
  size_t differing = 0;  // counts of the day that differ from `counted`
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    for (int c = 0; c < kMaxChannels; ++c) differing += day.Slots[slot].Counts[c] != 0 ? 1 : 0;
  }
  for (size_t held = 0;; ++held) {
    if (differing == 0) return held;
    if (held == events.size()) return std::nullopt;
    const TrafficEvent& event = events[held];
    const auto wanted = static_cast<uint32_t>(day.Slots[event.slot].Counts[event.channel - 1]);
    uint32_t& count = counted[static_cast<size_t>(event.slot) * kMaxChannels +
                              static_cast<size_t>(event.channel - 1)];
    differing -= count != wanted ? 1 : 0;
    ++count;
    differing += count != wanted ? 1 : 0;
  }
}

// The bytes of the day file `file`; std::nullopt also when it cannot be read
// (the loader has said so already).
std::optional<std::string> DayFileBytes(const std::string& file) {
  try {
    return ReadDayFileBytes(file);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

// Why the day file `file` must not be continued as a day of `site`: it
// describes another layout. std::nullopt when it may (or is not there).
std::optional<OtherLayout> LayoutRefusal(const SiteSettings& site, const std::string& file) {
  const std::optional<std::string> text = DayFileBytes(file);
  if (!text) return std::nullopt;
  const std::optional<std::string> difference = LayoutDifference(site, *text);
  if (!difference) return std::nullopt;
  return OtherLayout(file, site, *difference,
                     "move it away, or write the day anew with backfill --existing replace");
}

// `text` without its "#M" line, the moment of the save.
std::string WithoutUpdateLine(std::string_view text) {
  std::string kept;
  LineScanner lines(text);
  for (ScannedLine line; lines.Next(line);) {
    if (line.whole.substr(0, 2) != "#M") kept += line.whole;
  }
  return kept;
}

}  // namespace

struct LiveScenario::Site {
  explicit Site(const SiteSettings& site) : settings(&site), live("tly-generator run --scenario") {}

  const SiteSettings* settings;
  // The day, its file, its lock and its saves.
  LiveSite live;
  SiteDayClock clock;                // the local day being counted
  std::vector<TrafficEvent> events;  // its passages in the order of time
  size_t next_event = 0;             // the first passage not yet counted
  size_t next_quarter = 0;           // the first real quarter hour not yet reached
  int64_t begun_at = 0;              // the moment the day began in the run
  int64_t revealed = 0;              // seconds after midnight counted up to
  // The day file describes another layout than the site's: it is never
  // replaced.
  std::optional<OtherLayout> other_layout;
  // The day file is the finished day an earlier run wrote: it stays as it is.
  bool finished_before = false;
  bool dirty = false;  // counted more than the last save wrote
};

LiveScenario::LiveScenario(const Scenario& scenario, std::string out_dir, uint32_t seed)
    : scenario_(scenario), out_dir_(std::move(out_dir)), seed_(seed) {}

LiveScenario::~LiveScenario() = default;

void LiveScenario::Start(int64_t unix_seconds) {
  now_ = unix_seconds;
  for (const SiteSettings& settings : scenario_.sites) {
    auto owned = std::make_unique<Site>(settings);
    Site& site = *owned;
    const std::string dir = SiteDirectory(out_dir_, settings);
    std::error_code error;
    MakeDirectory(dir, error);
    if (error) ThrowSystemError(error.value(), "cannot create the site directory " + dir);
    site.live.SetDayFile(dir, "");
    site.live.LockDirectory(true);
    // A day file unread at the load is read again by the next save, and the
    // day is then continued from it as if it had been read at once.
    site.live.SetCatchUp([this, &site](const std::string&, DayCounts&) {
      const bool readable = ContinueDayFile(site);
      Reveal(site, site.revealed);
      return readable;
    });
    BeginDay(site, unix_seconds);
    if (site.other_layout) throw *site.other_layout;
    // The day so far, as a device has counted it since midnight.
    Reveal(site, unix_seconds - site.clock.start_unix);
    sites_.push_back(std::move(owned));
  }
}

void LiveScenario::BeginDay(Site& site, int64_t unix_seconds) {
  const TDateTime date = DatePart(LocalTimeOf(*site.settings, unix_seconds));
  site.clock = ClockOfSiteDay(*site.settings, date);
  site.events = SiteDayTraffic(*site.settings, seed_, site.clock);
  site.live.SetDayFile(site.live.Dir(), DayFileNameFor(site.live.Dir(), date));
  site.begun_at = unix_seconds;
  site.revealed = -1;
  site.live.LoadDay(
      [this, &site](const std::string&, DayCounts&) { return ContinueDayFile(site); });
}

bool LiveScenario::ContinueDayFile(Site& site) {
  const std::string& file = site.live.File();
  DayCounts& day = site.live.Day();
  site.finished_before = false;
  site.other_layout.reset();
  const bool readable = LoadDayFile(file, day);
  if (site.settings->profile != TrafficProfile::kFlat) {
    day.ChannelCount = std::max(day.ChannelCount, site.settings->ChannelCount());
  }
  const bool counts_of_another_day = !ResumeDay(site, site.begun_at);
  if (!readable || site.finished_before) return readable;
  // A file to continue: its rows must be those the site's header describes.
  site.other_layout = LayoutRefusal(*site.settings, file);
  if (site.other_layout) return true;
  NoticeExistingDayFile(file, existing_noticed_);
  if (counts_of_another_day && existing_noticed_) {
    existing_noticed_(file,
                      "its counts are not those of this scenario's day so far; they are kept and "
                      "counting goes on from " +
                          std::string(site.begun_at == site.clock.start_unix ? "the day's start"
                                                                             : "this moment"));
  }
  return true;
}

bool LiveScenario::ResumeDay(Site& site, int64_t unix_seconds) {
  // Every quarter hour reached since midnight gets its row at the next step.
  site.next_quarter = 0;
  site.dirty = true;
  if (site.settings->faults.Any() && FinishedBefore(site)) {
    // Faults and all, by an earlier run: nothing to add.
    site.finished_before = true;
    site.next_event = site.events.size();
    site.next_quarter = site.clock.slot.size();
    site.dirty = false;
    return true;
  }
  if (const std::optional<size_t> held = PassagesHeld(site.live.Day(), site.events)) {
    site.next_event = *held;
    return true;
  }
  // Not this day's counts: they are kept, and counting goes on from now.
  const int64_t since_midnight = unix_seconds - site.clock.start_unix;
  site.next_event =
      static_cast<size_t>(std::lower_bound(site.events.begin(), site.events.end(), since_midnight,
                                           [](const TrafficEvent& event, int64_t second) {
                                             return event.second < second;
                                           }) -
                          site.events.begin());
  site.next_quarter = static_cast<size_t>(since_midnight / kQuarterSeconds);
  return false;
}

bool LiveScenario::FinishedBefore(const Site& site) const {
  const std::optional<std::string> text = DayFileBytes(site.live.File());
  if (!text) return false;
  const auto whole = std::make_unique<DayCounts>();
  InitDayCountsFor(*whole, site.clock.date);
  AddTrafficTo(*whole, *site.settings, site.clock, site.events);
  const FaultedSiteDay finished =
      PlantSiteDayFaults(*site.settings, seed_, site.clock.date, *whole, site.clock.date);
  return finished.written && WithoutUpdateLine(*text) == WithoutUpdateLine(finished.image);
}

void LiveScenario::AdvanceTo(int64_t unix_seconds, const DayChangeFn& day_changed) {
  now_ = unix_seconds;
  for (const std::unique_ptr<Site>& owned : sites_) {
    Site& site = *owned;
    for (;;) {
      const bool day_over = unix_seconds >= site.clock.end_unix;
      Reveal(site, (day_over ? site.clock.end_unix - 1 : unix_seconds) - site.clock.start_unix);
      if (!day_over) break;
      // The day is complete: its last save, then the next day.
      if (!site.finished_before) Save(site, site.clock.end_unix, true);
      const std::string finished = site.live.File();
      BeginDay(site, site.clock.end_unix);
      if (day_changed) day_changed({site.settings->name, finished, site.live.File()});
    }
    if (site.dirty && site.live.SaveDue(static_cast<double>(unix_seconds)))
      Save(site, unix_seconds);
  }
}

void LiveScenario::Reveal(Site& site, int64_t until) {
  site.revealed = std::max(site.revealed, until);
  DayCounts& day = site.live.Day();
  // Every quarter hour reached gets its row, zeros included; the flat
  // profile writes rows only for quarter hours with counts.
  for (; site.next_quarter < site.clock.slot.size() &&
         static_cast<int64_t>(site.next_quarter) * kQuarterSeconds <= until;
       ++site.next_quarter) {
    if (site.settings->profile != TrafficProfile::kFlat) {
      MarkSlotUsed(day, site.clock.slot[site.next_quarter]);
      site.dirty = true;
    }
  }
  for (; site.next_event < site.events.size() && site.events[site.next_event].second <= until;
       ++site.next_event) {
    const TrafficEvent& event = site.events[site.next_event];
    int32_t& counter = day.Slots[event.slot].Counts[event.channel - 1];
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
    MarkSlotUsed(day, event.slot);
    day.ChannelCount = std::max(day.ChannelCount, site.settings->ChannelCount());
    site.dirty = true;
  }
}

bool LiveScenario::SaveAll() {
  bool all = true;
  for (const std::unique_ptr<Site>& site : sites_) {
    if (site->finished_before) continue;
    Save(*site, now_);
    all = all && site->live.LastSaveOk();
  }
  return all;
}

bool LiveScenario::SavesOk() const {
  return std::all_of(sites_.begin(), sites_.end(),
                     [](const std::unique_ptr<Site>& site) { return site->live.LastSaveOk(); });
}

void LiveScenario::Save(Site& site, int64_t unix_seconds, bool day_over) {
  ++saves_;
  site.live.ScheduleSave(static_cast<double>(unix_seconds + kSaveSeconds));
  const bool was_ok = site.live.LastSaveOk();
  const bool all_were_ok = SavesOk();
  std::optional<DayTruth> truth;
  const bool saved = site.live.Save([&](const DayCounts& day) {
    // Replacing it would give its rows a header that does not describe them.
    if (site.other_layout) throw std::runtime_error(site.other_layout->what());
    if (site.finished_before) return DayFileUpdate{};
    const TDateTime updated_at = LocalTimeOf(*site.settings, unix_seconds);
    if (!day_over || !site.settings->faults.Any()) {
      return DayFileUpdate{DayFileUpdate::Kind::kReplace,
                           SiteDayImage(*site.settings, day, updated_at)};
    }
    // The day as the site delivers it, broken as its rates draw.
    FaultedSiteDay faulted =
        PlantSiteDayFaults(*site.settings, seed_, site.clock.date, day, updated_at);
    truth = DayTruth{site.settings->name + "/" + DayFileBaseName(site.clock.date),
                     std::move(faulted.records)};
    return faulted.written ? DayFileUpdate{DayFileUpdate::Kind::kReplace, std::move(faulted.image)}
                           : DayFileUpdate{DayFileUpdate::Kind::kRemove, {}};
  });
  if (!saved) {
    if (all_were_ok) last_error_ = site.live.LastSaveError();
    return;
  }
  if (truth) truth_.push_back(std::move(*truth));
  site.dirty = false;
  if (!was_ok && SavesOk()) last_error_.clear();
}

}  // namespace tly
