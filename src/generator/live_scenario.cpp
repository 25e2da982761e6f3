#include "generator/live_scenario.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <system_error>

#include "config/day_file_replace.h"
#include "counting/day_file_loader.h"
#include "dayfile/day_file_name.h"
#include "generator/site_day.h"
#include "generator/site_day_faults.h"
#include "support/system_error.h"

namespace tly {
namespace {

// The least simulated time between two saves of a site.
constexpr int64_t kSaveSeconds = 2;

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
  bool unreadable = false;  // the day file exists but could not be read: never replace it
  bool dirty = false;       // counted more than the last save wrote
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
    std::filesystem::create_directory(site->dir, error);
    if (error) ThrowSystemError(error.value(), "cannot create the site directory " + site->dir);
    locks_.push_back(std::make_unique<DirectoryLock>(site->dir, "tly-generator run --scenario"));
    BeginDay(*site, unix_seconds);
    sites_.push_back(std::move(site));
  }
}

void LiveScenario::BeginDay(Site& site, int64_t unix_seconds) {
  const TDateTime date = DatePart(LocalTimeOf(*site.settings, unix_seconds));
  site.clock = ClockOfSiteDay(*site.settings, date);
  site.events = SiteDayTraffic(*site.settings, seed_, site.clock);
  // The counters start now: what passed earlier that day is not counted.
  const int64_t since_midnight = unix_seconds - site.clock.start_unix;
  site.next_event = static_cast<size_t>(
      std::lower_bound(site.events.begin(), site.events.end(), since_midnight,
                       [](const TrafficEvent& event, int64_t second) { return event.second < second; }) -
      site.events.begin());
  site.next_quarter = static_cast<size_t>(since_midnight / kQuarterSeconds);
  site.file = DayFileNameFor(site.dir, date);
  site.unreadable = !LoadDayFile(site.file, *site.day);
  if (!site.unreadable) NoticeExistingDayFile(site.file, existing_noticed_);
  if (site.settings->profile != TrafficProfile::kFlat) {
    site.day->ChannelCount = std::max(site.day->ChannelCount, site.settings->ChannelCount());
  }
  site.dirty = true;
}

void LiveScenario::AdvanceTo(int64_t unix_seconds, const DayChangeFn& day_changed) {
  now_ = unix_seconds;
  for (const std::unique_ptr<Site>& owned : sites_) {
    Site& site = *owned;
    for (;;) {
      const bool day_over = unix_seconds >= site.clock.end_unix;
      const int64_t until = (day_over ? site.clock.end_unix - 1 : unix_seconds) -
                            site.clock.start_unix;
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
      for (; site.next_event < site.events.size() &&
             site.events[site.next_event].second <= until;
           ++site.next_event) {
        const TrafficEvent& event = site.events[site.next_event];
        int32_t& counter = site.day->Slots[event.slot].Counts[event.channel - 1];
        counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
        MarkSlotUsed(*site.day, event.slot);
        site.day->ChannelCount = std::max(site.day->ChannelCount, site.settings->ChannelCount());
        site.dirty = true;
      }
      if (!day_over) break;
      // The day is complete: its last save, then the next day.
      Save(site, site.clock.end_unix, true);
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

bool LiveScenario::SaveAll() {
  bool all = true;
  for (const std::unique_ptr<Site>& site : sites_) {
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
    if (site.unreadable) {
      // Replacing it would drop the rows it holds.
      throw std::system_error(EIO, std::generic_category(),
                              site.file + " exists but cannot be read; it is not replaced");
    }
    const TDateTime updated_at = LocalTimeOf(*site.settings, unix_seconds);
    if (day_over && site.settings->faults.Any()) {
      // The day as the site delivers it, broken as its rates draw.
      FaultedSiteDay faulted =
          PlantSiteDayFaults(*site.settings, seed_, site.clock.date, *site.day, updated_at);
      for (FaultRecord& record : faulted.records) truth_.push_back(std::move(record));
      if (faulted.written) {
        ReplaceDayFile(site.file, faulted.image);
      } else {
        std::error_code error;
        std::filesystem::remove(site.file, error);
        if (error) ThrowSystemError(error.value(), "cannot remove " + site.file);
      }
    } else {
      ReplaceDayFile(site.file, SiteDayImage(*site.settings, *site.day, updated_at));
    }
    site.dirty = false;
    if (!site.last_save_ok) {
      site.last_save_ok = true;
      if (SavesOk()) last_error_.clear();
    }
  } catch (const std::system_error& error) {
    if (SavesOk()) last_error_ = error.what();
    site.last_save_ok = false;
  }
}

}  // namespace tly
