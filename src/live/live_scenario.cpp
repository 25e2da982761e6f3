#include "live/live_scenario.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>

#include "counting/day_file_loader.h"
#include "dayfile/day_file_name.h"
#include "dayfile/day_file_reader.h"
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
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
    const std::string_view line = text.substr(start, end - start);
    if (line.substr(0, 2) != "#M") kept += line;
    start = end;
  }
  return kept;
}

}  // namespace

struct LiveScenario::Site {
  const SiteSettings* settings = nullptr;
  std::string dir;
  SiteDayClock clock;                // the local day being counted
  std::vector<TrafficEvent> events;  // its passages in the order of time
  size_t next_event = 0;             // the first passage not yet counted
  size_t next_quarter = 0;           // the first real quarter hour not yet reached
  std::unique_ptr<DayCounts> day = std::make_unique<DayCounts>();
  std::string file;
  // Why the day file must never be replaced (it exists but cannot be read, or
  // describes another layout); empty when it may.
  std::string not_replaced;
  // The day file describes another layout than the site's (so it is not
  // replaced either).
  std::optional<OtherLayout> other_layout;
  // The day file is the finished day an earlier run wrote: it stays as it is.
  bool finished_before = false;
  bool dirty = false;  // counted more than the last save wrote
  bool last_save_ok = true;
  int64_t last_save = std::numeric_limits<int64_t>::min();
};

LiveScenario::LiveScenario(const Scenario& scenario, std::string out_dir, uint32_t seed)
    : scenario_(scenario), out_dir_(std::move(out_dir)), seed_(seed) {}

LiveScenario::~LiveScenario() = default;

void LiveScenario::Start(int64_t unix_seconds) {
  now_ = unix_seconds;
  for (const SiteSettings& settings : scenario_.sites) {
    auto site = std::make_unique<Site>();
    site->settings = &settings;
    site->dir = SiteDirectory(out_dir_, settings);
    std::error_code error;
    MakeDirectory(site->dir, error);
    if (error) ThrowSystemError(error.value(), "cannot create the site directory " + site->dir);
    locks_.push_back(std::make_unique<DirectoryLock>(site->dir, "tly-generator run --scenario"));
    BeginDay(*site, unix_seconds);
    if (site->other_layout) throw *site->other_layout;
    // The day so far, as a device has counted it since midnight.
    Reveal(*site, unix_seconds - site->clock.start_unix);
    sites_.push_back(std::move(site));
  }
}

void LiveScenario::BeginDay(Site& site, int64_t unix_seconds) {
  const TDateTime date = DatePart(LocalTimeOf(*site.settings, unix_seconds));
  site.clock = ClockOfSiteDay(*site.settings, date);
  site.events = SiteDayTraffic(*site.settings, seed_, site.clock);
  site.file = DayFileNameFor(site.dir, date);
  site.not_replaced.clear();
  site.finished_before = false;
  site.other_layout.reset();
  if (!LoadDayFile(site.file, *site.day)) {
    site.not_replaced = site.file + " exists but cannot be read; it is not replaced";
  }
  if (site.settings->profile != TrafficProfile::kFlat) {
    site.day->ChannelCount = std::max(site.day->ChannelCount, site.settings->ChannelCount());
  }
  const bool counts_of_another_day = !ResumeDay(site, unix_seconds);
  if (!site.not_replaced.empty() || site.finished_before) return;
  // A file to continue: its rows must be those the site's header describes.
  site.other_layout = LayoutRefusal(*site.settings, site.file);
  if (site.other_layout) {
    site.not_replaced = site.other_layout->what();
    return;
  }
  NoticeExistingDayFile(site.file, existing_noticed_);
  if (counts_of_another_day && existing_noticed_) {
    existing_noticed_(
        site.file,
        "its counts are not those of this scenario's day so far; they are kept and "
        "counting goes on from " +
            std::string(unix_seconds == site.clock.start_unix ? "the day's start" : "this moment"));
  }
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
  if (const std::optional<size_t> held = PassagesHeld(*site.day, site.events)) {
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
  const std::optional<std::string> text = DayFileBytes(site.file);
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
      const std::string finished = site.file;
      BeginDay(site, site.clock.end_unix);
      if (day_changed) day_changed({site.settings->name, finished, site.file});
    }
    // A site never saved is due; its mark, the lowest instant, must not be
    // subtracted from (that overflows).
    const bool due = site.last_save == std::numeric_limits<int64_t>::min() ||
                     unix_seconds - site.last_save >= kSaveSeconds;
    if (site.dirty && due) Save(site, unix_seconds);
  }
}

void LiveScenario::Reveal(Site& site, int64_t until) {
  // Every quarter hour reached gets its row, zeros included; the flat
  // profile writes rows only for quarter hours with counts.
  for (; site.next_quarter < site.clock.slot.size() &&
         static_cast<int64_t>(site.next_quarter) * kQuarterSeconds <= until;
       ++site.next_quarter) {
    if (site.settings->profile != TrafficProfile::kFlat) {
      MarkSlotUsed(*site.day, site.clock.slot[site.next_quarter]);
      site.dirty = true;
    }
  }
  for (; site.next_event < site.events.size() && site.events[site.next_event].second <= until;
       ++site.next_event) {
    const TrafficEvent& event = site.events[site.next_event];
    int32_t& counter = site.day->Slots[event.slot].Counts[event.channel - 1];
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
    MarkSlotUsed(*site.day, event.slot);
    site.day->ChannelCount = std::max(site.day->ChannelCount, site.settings->ChannelCount());
    site.dirty = true;
  }
}

bool LiveScenario::SaveAll() {
  bool all = true;
  for (const std::unique_ptr<Site>& site : sites_) {
    if (site->finished_before) continue;
    Save(*site, now_);
    all = all && site->last_save_ok;
  }
  return all;
}

bool LiveScenario::SavesOk() const {
  return std::all_of(sites_.begin(), sites_.end(),
                     [](const std::unique_ptr<Site>& site) { return site->last_save_ok; });
}

void LiveScenario::Save(Site& site, int64_t unix_seconds, bool day_over) {
  ++saves_;
  site.last_save = unix_seconds;
  try {
    // Replacing it would drop the rows it holds, or give them a header that
    // does not describe them.
    if (!site.not_replaced.empty()) throw std::runtime_error(site.not_replaced);
    const TDateTime updated_at = LocalTimeOf(*site.settings, unix_seconds);
    if (day_over && site.settings->faults.Any()) {
      // The day as the site delivers it, broken as its rates draw.
      FaultedSiteDay faulted =
          PlantSiteDayFaults(*site.settings, seed_, site.clock.date, *site.day, updated_at);
      if (faulted.written) {
        ReplaceFileWith(site.file, faulted.image);
      } else {
        RemoveFile(site.file);
      }
      truth_.push_back({site.settings->name + "/" + DayFileBaseName(site.clock.date),
                        std::move(faulted.records)});
    } else {
      ReplaceFileWith(site.file, SiteDayImage(*site.settings, *site.day, updated_at));
    }
    site.dirty = false;
    if (!site.last_save_ok) {
      site.last_save_ok = true;
      if (SavesOk()) last_error_.clear();
    }
  } catch (const std::runtime_error& error) {
    // std::system_error included.
    if (SavesOk()) last_error_ = error.what();
    site.last_save_ok = false;
  }
}

}  // namespace tly
