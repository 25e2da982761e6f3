#include "scenario/scenario_file.h"

#include <cctz/time_zone.h>

#include <toml++/toml.h>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "config/config_tables.h"
#include "dayfile/day_file_lines.h"
#include "dayfile/row_text.h"
#include "delivery/delivery_faults.h"
#include "delivery/delivery_settings_reader.h"
#include "faults/fault_truth_file.h"
#include "scenario/traffic_profile.h"
#include "support/file_read.h"

namespace tly {
namespace {

constexpr const char* kWeekdayNames[kDaysPerWeek] = {"monday", "tuesday",  "wednesday", "thursday",
                                                     "friday", "saturday", "sunday"};
constexpr size_t kMaxShopCode = 10;
constexpr size_t kMaxSiteName = 64;
constexpr double kMaxVisitors = 10'000'000;

// The keys a site may have; all but name and shop_code may stand in
// [defaults] too.
const std::set<std::string, std::less<>> kSiteKeys = {
    "name",     "shop_code", "profile", "visitors", "dwell_minutes", "variation_percent",
    "seasonal", "time_zone", "hours",   "closed",   "layout",        "weights",
    "faults",   "delivery"};

// The keys that make a site's traffic look like a real counter's; a site or
// the defaults may have them too.
const std::set<std::string, std::less<>> kRealismKeys = {"smooth",
                                                         "dispersion",
                                                         "group_size_mean",
                                                         "closing_taper_minutes",
                                                         "dwell_spread",
                                                         "walk_through_share",
                                                         "staff_per_day",
                                                         "staff_hours",
                                                         "count_error_percent",
                                                         "occlusion",
                                                         "events",
                                                         "holidays",
                                                         "weather_correlation"};

bool IsSiteKey(std::string_view key) {
  return kSiteKeys.count(key) != 0 || kRealismKeys.count(key) != 0;
}

// The keys that shape a site's own traffic, which the flat profile (the
// program's coin flip around the clock) does not have.
const std::set<std::string, std::less<>> kNotForFlat = {
    "visitors", "dwell_minutes", "variation_percent", "seasonal", "time_zone",
    "hours",    "closed",        "weights",           "layout"};

// Crowds below this shape would put a day's visitors into a handful of
// quarter hours.
constexpr double kLeastDispersion = 0.1;

// Whether the rows of `shop_code` read back as data rows that begin with it:
// a reader drops a line that begins with '#' or holds "CNL" or "Magasin" as a
// header or title line, so such a shop code would make every row vanish.
bool RowsReadBackWith(const std::string& shop_code) {
  const RowStamp stamp{1, 1, 2027, 0, 0};
  const int32_t count = 0;
  std::string row(MaxRowLength(shop_code, 1), '\0');
  row.resize(static_cast<size_t>(PutRow(row.data(), shop_code, stamp, &count, 1) - row.data()));
  return IsDataLine(row) && ExtractField(row, kFieldDelimiter, 0) == shop_code;
}

// Whether `name` can be looked up in the zone database without leaving it: an
// absolute path or one with ".." would let the zone loader read any file (a
// FIFO or a terminal would block the program), so only the characters of zone
// names are allowed.
bool IsZoneName(const std::string& name) {
  return !name.empty() && name.front() != '/' &&
         name.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
             "0123456789/_+-:") == std::string::npos;
}

// Reads one scenario text; every error goes through Fail with the line of
// the node it is about.
class ScenarioReader {
 public:
  explicit ScenarioReader(std::string source) : source_(std::move(source)) {}

  Scenario Read(std::string_view text) {
    toml::table root;
    try {
      root = toml::parse(text, source_);
    } catch (const toml::parse_error& error) {
      throw ScenarioError(source_ + ":" + std::to_string(error.source().begin.line) + ": " +
                          std::string(error.description()));
    }
    Scenario scenario;
    scenario.source = source_;
    const toml::table* defaults = nullptr;
    const toml::array* sites = nullptr;
    FaultRates faults;
    for (const auto& [key, node] : root) {
      const std::string name(key.str());
      if (name == "seed") {
        scenario.seed = static_cast<uint32_t>(Integer(node, "seed", 0, 4294967295));
      } else if (name == "defaults") {
        defaults = Table(node, "defaults");
      } else if (name == "faults") {
        faults = Faults(node, "faults", faults, delivery_faults_);
      } else if (name == "delivery") {
        delivery_ = Delivery(&node, "delivery");
      } else if (name == "site") {
        sites = node.as_array();
        if (sites == nullptr) Fail(node, "site", "must be written as [[site]] tables");
      } else {
        Fail(node, name,
             "is not a key of a scenario (seed, [defaults], [faults], [delivery], [[site]])");
      }
    }
    if (sites == nullptr || sites->empty()) {
      throw ScenarioError(source_ + ":1: site: the scenario has no [[site]]");
    }
    if (defaults != nullptr) CheckDefaults(*defaults);
    std::map<std::string, int> names;
    int index = 0;
    for (const toml::node& node : *sites) {
      ++index;
      const toml::table* site = Table(node, "site");
      scenario.sites.push_back(
          ReadSite(*site, defaults, faults, "site[" + std::to_string(index) + "]"));
      const SiteSettings& settings = scenario.sites.back();
      if (const auto [other, added] = names.emplace(settings.name, settings.line); !added) {
        Fail(*site->get("name"), "site[" + std::to_string(index) + "].name",
             "\"" + settings.name + "\" is the name of the site on line " +
                 std::to_string(other->second) + " too");
      }
    }
    return scenario;
  }

 private:
  // Refuses keys of [defaults] that belong to each site, stand at the top or
  // are no key of a site.
  void CheckDefaults(const toml::table& defaults) const {
    for (const auto& [key, node] : defaults) {
      const std::string name(key.str());
      if (name == "name" || name == "shop_code") {
        Fail(node, "defaults." + name, "belongs to each site, not to the defaults");
      }
      if (name == "faults" || name == "delivery") {
        Fail(node, "defaults." + name, "stands at the top as [" + name + "], not in the defaults");
      }
      if (!IsSiteKey(name)) Fail(node, "defaults." + name, UnknownSiteKey());
    }
  }

  [[noreturn]] void Fail(const toml::node& node, const std::string& key,
                         const std::string& problem) const {
    throw ScenarioError(source_ + ":" + std::to_string(node.source().begin.line) + ": " + key +
                        ": " + problem);
  }

  // The scenario's [delivery] `node` (when `site_line` is 0), or a site's
  // delivery on top of it (`node` may then be null).
  std::optional<DeliverySettings> Delivery(const toml::node* node, const std::string& key,
                                           int site_line = 0) const {
    try {
      if (site_line == 0) return ReadDeliveryTable(*node, key, {});
      return SiteDelivery(node, key, delivery_, site_line);
    } catch (const DeliverySettingsError& error) {
      throw ScenarioError(source_ + ":" + std::to_string(error.line()) + ": " + error.what());
    }
  }

  static std::string UnknownSiteKey() {
    std::string text = "is not a key of a site (";
    bool first = true;
    for (const auto* keys : {&kSiteKeys, &kRealismKeys}) {
      for (const std::string& key : *keys) {
        text += (first ? "" : ", ") + key;
        first = false;
      }
    }
    return text + ")";
  }

  const toml::table* Table(const toml::node& node, const std::string& key) const {
    const toml::table* table = node.as_table();
    if (table == nullptr) Fail(node, key, "must be a table");
    return table;
  }

  std::string String(const toml::node& node, const std::string& key) const {
    const std::optional<std::string> text = node.value_exact<std::string>();
    if (!text) Fail(node, key, "must be a text in quotes");
    return *text;
  }

  int64_t Integer(const toml::node& node, const std::string& key, int64_t min, int64_t max) const {
    const std::optional<int64_t> value = node.value_exact<int64_t>();
    if (!value || *value < min || *value > max) {
      Fail(node, key,
           "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    }
    return *value;
  }

  double Number(const toml::node& node, const std::string& key, double min, double max) const {
    const std::optional<double> value = node.value<double>();
    if (!node.is_number() || !value || !std::isfinite(*value) || *value < min || *value > max) {
      char range[96];
      std::snprintf(range, sizeof range, "must be a number from %g to %g", min, max);
      Fail(node, key, range);
    }
    return *value;
  }

  // A list of N weights; when `not_all_zero`, at least one must be above 0.
  template <size_t N>
  std::array<double, N> Numbers(const toml::node& node, const std::string& key,
                                bool not_all_zero = false) const {
    const toml::array* array = node.as_array();
    if (array == nullptr || array->size() != N) {
      Fail(node, key, "must be a list of " + std::to_string(N) + " numbers");
    }
    std::array<double, N> values{};
    for (size_t i = 0; i < N; ++i) {
      values[i] = Number(*array->get(i), key + "[" + std::to_string(i + 1) + "]", 0, 1e6);
    }
    if (not_all_zero &&
        std::all_of(values.begin(), values.end(), [](double v) { return v == 0; })) {
      Fail(node, key, "must not all be 0");
    }
    return values;
  }

  // "HH:MM" as minutes since midnight; "24:00" ends a day.
  std::optional<int> Minutes(std::string_view text) const {
    if (text.size() != 5 || text[2] != ':') return std::nullopt;
    int hour = 0;
    int minute = 0;
    if (std::from_chars(text.data(), text.data() + 2, hour).ptr != text.data() + 2 ||
        std::from_chars(text.data() + 3, text.data() + 5, minute).ptr != text.data() + 5 ||
        !std::isdigit(static_cast<unsigned char>(text[0])) ||
        !std::isdigit(static_cast<unsigned char>(text[3]))) {
      return std::nullopt;
    }
    if (minute > 59 || hour > 24 || (hour == 24 && minute != 0)) return std::nullopt;
    return hour * 60 + minute;
  }

  // "closed", or "HH:MM-HH:MM" intervals separated by commas, in order.
  DayHours Hours(const toml::node& node, const std::string& key) const {
    const std::string text = String(node, key);
    DayHours hours;
    if (text == "closed") return hours;
    size_t start = 0;
    while (start <= text.size()) {
      size_t comma = text.find(',', start);
      if (comma == std::string::npos) comma = text.size();
      std::string_view part(text.data() + start, comma - start);
      while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
      while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
      const size_t dash = part.find('-');
      const std::optional<int> open =
          dash == std::string_view::npos ? std::nullopt : Minutes(part.substr(0, dash));
      const std::optional<int> close =
          dash == std::string_view::npos ? std::nullopt : Minutes(part.substr(dash + 1));
      if (!open || !close) {
        Fail(node, key,
             "\"" + text +
                 "\" is not \"closed\" or opening hours such as \"09:00-19:00\" or "
                 "\"08:30-12:00, 14:00-18:30\"");
      }
      if (*close <= *open) {
        Fail(node, key, "\"" + std::string(part) + "\" ends before it starts");
      }
      if (*open % 15 != 0 || *close % 15 != 0) {
        Fail(node, key,
             "\"" + std::string(part) +
                 "\" does not open and close on quarter hours (:00, :15, "
                 ":30, :45), which the day file counts in");
      }
      if (!hours.empty() && *open < hours.back().second) {
        Fail(node, key, "\"" + std::string(part) + "\" does not come after the hours before it");
      }
      hours.emplace_back(*open, *close);
      start = comma + 1;
    }
    return hours;
  }

  CivilDate Date(const toml::node& node, const std::string& key) const {
    const std::string text = String(node, key);
    CivilDate date;
    const bool shaped =
        text.size() == 10 && text[4] == '-' && text[7] == '-' &&
        std::from_chars(text.data(), text.data() + 4, date.Year).ptr == text.data() + 4 &&
        std::from_chars(text.data() + 5, text.data() + 7, date.Month).ptr == text.data() + 7 &&
        std::from_chars(text.data() + 8, text.data() + 10, date.Day).ptr == text.data() + 10;
    if (!shaped || !IsValidDate(date.Year, date.Month, date.Day)) {
      Fail(node, key, "\"" + text + "\" is not a date written YYYY-MM-DD");
    }
    return date;
  }

  // The value of `key` for a site: its own, else the defaults', else none.
  static const toml::node* Lookup(const toml::table& site, const toml::table* defaults,
                                  std::string_view key) {
    if (const toml::node* own = site.get(key)) return own;
    return defaults != nullptr ? defaults->get(key) : nullptr;
  }

  // The rates of a faults table `node`, on top of `rates` and of `delivery`
  // (the faults of delivery): each key a fault kind, each value a probability.
  FaultRates Faults(const toml::node& node, const std::string& key, FaultRates rates,
                    DeliveryFaultRates& delivery) const {
    const toml::table* table = Table(node, key);
    for (const auto& [name, value] : *table) {
      if (const std::optional<DeliveryFault> fault = DeliveryFaultOfName(name.str())) {
        delivery[*fault] = Number(value, key + "." + std::string(name.str()), 0, 1);
        continue;
      }
      const std::optional<FaultKind> kind = FaultKindOfName(name.str());
      if (!kind) {
        std::string known;
        for (size_t i = 0; i < kFaultKindCount; ++i) {
          known += (i == 0 ? "" : ", ") + std::string(FaultKindName(static_cast<FaultKind>(i)));
        }
        for (size_t i = 0; i < kDeliveryFaultCount; ++i) {
          known += ", " + std::string(DeliveryFaultName(static_cast<DeliveryFault>(i)));
        }
        Fail(value, key + "." + std::string(name.str()), "is not a fault kind (" + known + ")");
      }
      rates[*kind] = Number(value, key + "." + std::string(name.str()), 0, 1);
    }
    return rates;
  }

  SiteSettings ReadSite(const toml::table& site, const toml::table* defaults,
                        const FaultRates& faults, const std::string& where) const {
    SiteSettings settings;
    settings.line = static_cast<int>(site.source().begin.line);
    settings.faults = faults;
    settings.delivery_faults = delivery_faults_;
    if (const toml::node* own = site.get("faults")) {
      settings.faults = Faults(*own, where + ".faults", faults, settings.delivery_faults);
    }
    settings.delivery = Delivery(site.get("delivery"), where + ".delivery", settings.line);
    for (const auto& [key, node] : site) {
      if (!IsSiteKey(key.str())) Fail(node, where + "." + std::string(key.str()), UnknownSiteKey());
    }
    const KeyOf key_of{where};
    ReadIdentity(site, key_of, settings);
    settings.profile = Profile(site, defaults, key_of);
    if (settings.profile == TrafficProfile::kFlat) {
      // The program's own traffic: its layout, around the clock. Keys the
      // site sets itself for its traffic would be silently ignored: refuse.
      for (const auto& [key, node] : site) {
        if (kNotForFlat.count(key.str()) != 0 || kRealismKeys.count(key.str()) != 0) {
          Fail(node, key_of(key.str()), "does not apply to profile \"flat\"");
        }
      }
      ApplyDefaultLayoutTo(settings);
      return settings;
    }
    ReadShape(site, defaults, key_of, settings);
    ReadVolume(site, defaults, key_of, settings);
    ReadCalendar(site, defaults, key_of, settings);
    if (const toml::node* node = Lookup(site, defaults, "layout")) {
      ReadLayout(*node, key_of("layout"), settings);
    } else {
      ApplyDefaultLayoutTo(settings);
    }
    ReadRealism(site, defaults, key_of, settings.realism);
    settings.faults.passages_missed = settings.realism.Miscounts();
    return settings;
  }

  // The full key of a site's `key`, for messages: "site[N].key".
  struct KeyOf {
    const std::string& where;
    std::string operator()(std::string_view key) const { return where + "." + std::string(key); }
  };

  // A site's name (a directory name the program does not write beside the
  // sites) and shop code (a row's first field that reads back as data).
  void ReadIdentity(const toml::table& site, const KeyOf& key_of, SiteSettings& settings) const {
    const toml::node* name = site.get("name");
    if (name == nullptr) Fail(site, key_of("name"), "is missing: every site needs a name");
    settings.name = String(*name, key_of("name"));
    if (settings.name.empty() || settings.name.size() > kMaxSiteName || settings.name == "." ||
        settings.name == ".." ||
        settings.name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789._-") != std::string::npos) {
      Fail(*name, key_of("name"),
           "\"" + settings.name +
               "\" is not a directory name of 1 to 64 letters, digits, '.', '-' "
               "or '_' (its files go to OUT/<name>/)");
    }
    if (IsFaultTruthFileName(settings.name)) {
      Fail(*name, key_of("name"),
           "\"" + settings.name +
               "\" is the name of a file the program writes beside the site "
               "directories (the truth of the faults)");
    }
    const toml::node* shop = site.get("shop_code");
    if (shop == nullptr) Fail(site, key_of("shop_code"), "is missing: every site needs one");
    settings.shop_code = String(*shop, key_of("shop_code"));
    if (settings.shop_code.empty() || settings.shop_code.size() > kMaxShopCode ||
        settings.shop_code.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                             "0123456789_-") != std::string::npos) {
      Fail(*shop, key_of("shop_code"),
           "\"" + settings.shop_code +
               "\" does not fit a row's first field: 1 to 10 letters, "
               "digits, '-' or '_'");
    }
    if (!RowsReadBackWith(settings.shop_code)) {
      Fail(*shop, key_of("shop_code"),
           "\"" + settings.shop_code +
               "\" would hide every row: a reader takes a line that holds "
               "\"CNL\" or \"Magasin\" for a column title line, not for data");
    }
  }

  // A site's traffic profile, its own or the defaults'; retail when neither
  // names one.
  TrafficProfile Profile(const toml::table& site, const toml::table* defaults,
                         const KeyOf& key_of) const {
    const toml::node* profile = Lookup(site, defaults, "profile");
    if (profile == nullptr) return TrafficProfile::kRetail;
    const std::string text = String(*profile, key_of("profile"));
    const std::optional<TrafficProfile> known = ProfileOfName(text);
    if (!known) {
      Fail(*profile, key_of("profile"),
           "\"" + text + "\" is not retail, office, transit, flat or custom");
    }
    return *known;
  }

  // The shape of a site's day and week: its profile's, or for the custom
  // profile the weights it must give; the other settings at their defaults.
  void ReadShape(const toml::table& site, const toml::table* defaults, const KeyOf& key_of,
                 SiteSettings& settings) const {
    const ProfileDefaults shape = DefaultsOf(settings.profile);
    settings.hourly = shape.hourly;
    settings.weekday = shape.weekday;
    settings.hours = shape.hours;
    settings.dwell_minutes = shape.dwell_minutes;
    settings.seasonal.fill(1.0);
    settings.visitors = 1000;
    settings.variation_percent = 10;
    const toml::node* weights = Lookup(site, defaults, "weights");
    if (weights == nullptr) {
      if (settings.profile == TrafficProfile::kCustom) {
        Fail(site, key_of("weights"), "is missing: profile \"custom\" needs weights");
      }
      return;
    }
    if (settings.profile != TrafficProfile::kCustom) {
      Fail(*weights, key_of("weights"), "needs profile = \"custom\"");
    }
    const toml::table* table = Table(*weights, key_of("weights"));
    for (const auto& [key, node] : *table) {
      if (key.str() != "hourly" && key.str() != "weekday") {
        Fail(node, key_of("weights." + std::string(key.str())),
             "is not a key of weights (hourly, weekday)");
      }
    }
    if (const toml::node* hourly = table->get("hourly")) {
      settings.hourly = Numbers<24>(*hourly, key_of("weights.hourly"), true);
    }
    if (const toml::node* weekday = table->get("weekday")) {
      settings.weekday = Numbers<kDaysPerWeek>(*weekday, key_of("weights.weekday"), true);
    }
  }

  // How many visitors a site has, how long they stay, how that varies over
  // days and months, and the zone of its clock.
  void ReadVolume(const toml::table& site, const toml::table* defaults, const KeyOf& key_of,
                  SiteSettings& settings) const {
    if (const toml::node* node = Lookup(site, defaults, "visitors")) {
      settings.visitors = Number(*node, key_of("visitors"), 0, kMaxVisitors);
    }
    if (const toml::node* node = Lookup(site, defaults, "dwell_minutes")) {
      settings.dwell_minutes = Number(*node, key_of("dwell_minutes"), 1, 24 * 60);
    }
    if (const toml::node* node = Lookup(site, defaults, "variation_percent")) {
      settings.variation_percent = Number(*node, key_of("variation_percent"), 0, 100);
    }
    if (const toml::node* node = Lookup(site, defaults, "seasonal")) {
      settings.seasonal = Numbers<12>(*node, key_of("seasonal"));
    }
    if (const toml::node* node = Lookup(site, defaults, "time_zone")) {
      settings.time_zone = String(*node, key_of("time_zone"));
      cctz::time_zone zone;
      if (!IsZoneName(settings.time_zone) || !cctz::load_time_zone(settings.time_zone, &zone)) {
        Fail(*node, key_of("time_zone"),
             "\"" + settings.time_zone +
                 "\" is not a zone of the system's zone database (such as "
                 "\"Europe/Paris\" or \"UTC\")");
      }
    }
  }

  // A site's opening hours per weekday and the days it is closed.
  void ReadCalendar(const toml::table& site, const toml::table* defaults, const KeyOf& key_of,
                    SiteSettings& settings) const {
    if (const toml::node* node = Lookup(site, defaults, "hours")) {
      const toml::table* table = Table(*node, key_of("hours"));
      for (const auto& [key, day] : *table) {
        const auto known = std::find(std::begin(kWeekdayNames), std::end(kWeekdayNames), key.str());
        if (known == std::end(kWeekdayNames)) {
          Fail(day, key_of("hours." + std::string(key.str())),
               "is not a weekday (monday to sunday)");
        }
        settings.hours[known - std::begin(kWeekdayNames)] =
            Hours(day, key_of("hours." + std::string(key.str())));
      }
    }
    if (const toml::node* node = Lookup(site, defaults, "closed")) {
      for (const int64_t day : Dates(*node, key_of("closed"))) settings.closed_days.insert(day);
    }
  }

  // The knobs that make a site's traffic look like a real counter's.
  void ReadRealism(const toml::table& site, const toml::table* defaults, const KeyOf& key_of,
                   TrafficRealism& realism) const {
    const auto number = [&](std::string_view key, double min, double max, double& value) {
      if (const toml::node* node = Lookup(site, defaults, key)) {
        value = Number(*node, key_of(key), min, max);
      }
    };
    if (const toml::node* node = Lookup(site, defaults, "smooth")) {
      const std::optional<bool> smooth = node->value_exact<bool>();
      if (!smooth) Fail(*node, key_of("smooth"), "must be true or false");
      realism.smooth = *smooth;
    }
    number("dispersion", 0, 1000, realism.dispersion);
    if (realism.dispersion > 0 && realism.dispersion < kLeastDispersion) {
      Fail(*Lookup(site, defaults, "dispersion"), key_of("dispersion"),
           "must be 0 (no crowds) or a number from 0.1 to 1000");
    }
    number("group_size_mean", 1, 6, realism.group_size_mean);
    if (const toml::node* node = Lookup(site, defaults, "closing_taper_minutes")) {
      realism.closing_taper_minutes =
          static_cast<int>(Integer(*node, key_of("closing_taper_minutes"), 0, 240));
    }
    number("dwell_spread", 0.1, 3, realism.dwell_spread);
    number("walk_through_share", 0, 1, realism.walk_through_share);
    if (const toml::node* node = Lookup(site, defaults, "staff_per_day")) {
      realism.staff_per_day = static_cast<int>(Integer(*node, key_of("staff_per_day"), 0, 1000));
    }
    if (const toml::node* node = Lookup(site, defaults, "staff_hours")) {
      const DayHours hours = Hours(*node, key_of("staff_hours"));
      if (hours.size() != 1) {
        Fail(*node, key_of("staff_hours"), "must be one interval, such as \"06:00-21:00\"");
      }
      realism.staff_hours = hours[0];
    }
    number("count_error_percent", 0, 50, realism.count_error_percent);
    number("occlusion", 0, 0.5, realism.occlusion);
    if (const toml::node* node = Lookup(site, defaults, "holidays")) {
      for (const int64_t day : Dates(*node, key_of("holidays"))) realism.holidays.insert(day);
    }
    if (const toml::node* node = Lookup(site, defaults, "events")) {
      realism.events = Events(*node, key_of("events"));
    }
    number("weather_correlation", 0, 0.95, realism.weather_correlation);
  }

  // A list of dates YYYY-MM-DD as day numbers.
  std::vector<int64_t> Dates(const toml::node& node, const std::string& key) const {
    const toml::array* dates = node.as_array();
    if (dates == nullptr) Fail(node, key, "must be a list of dates YYYY-MM-DD");
    std::vector<int64_t> days;
    for (const toml::node& date_node : *dates) {
      const CivilDate date = Date(date_node, key);
      days.push_back(static_cast<int64_t>(EncodeDate(date.Year, date.Month, date.Day)));
    }
    return days;
  }

  // A list of { from, to, factor, name } tables.
  std::vector<SiteEvent> Events(const toml::node& node, const std::string& key) const {
    const toml::array* list = node.as_array();
    if (list == nullptr) {
      Fail(node, key,
           "must be a list such as [{ from = \"2027-11-26\", to = \"2027-11-28\", factor = 1.8, "
           "name = \"Sale\" }]");
    }
    std::vector<SiteEvent> events;
    int number = 0;
    for (const toml::node& item : *list) {
      const std::string where = key + "[" + std::to_string(++number) + "]";
      const toml::table* table = Table(item, where);
      for (const auto& [name, value] : *table) {
        if (name.str() != "from" && name.str() != "to" && name.str() != "factor" &&
            name.str() != "name") {
          Fail(value, where + "." + std::string(name.str()),
               "is not a key of an event (from, to, factor, name)");
        }
      }
      SiteEvent event;
      for (const char* field : {"from", "to", "factor"}) {
        if (table->get(field) == nullptr) {
          Fail(item, where + "." + field, "is missing: every event needs from, to and factor");
        }
      }
      const auto day_of = [&](const char* field) {
        const CivilDate date = Date(*table->get(field), where + "." + field);
        return static_cast<int64_t>(EncodeDate(date.Year, date.Month, date.Day));
      };
      event.first_day = day_of("from");
      event.last_day = day_of("to");
      if (event.last_day < event.first_day) {
        Fail(*table->get("to"), where + ".to", "comes before from");
      }
      event.factor = Number(*table->get("factor"), where + ".factor", 0, 100);
      if (const toml::node* name = table->get("name")) event.name = String(*name, where + ".name");
      events.push_back(std::move(event));
    }
    return events;
  }

  // The program's own layout: four doors and a passage on channels 1 to 10.
  static void ApplyDefaultLayoutTo(SiteSettings& settings) {
    settings.default_layout = true;
    settings.device_type = "RV9";
    settings.doors.clear();
    for (int d = 1; d <= 5; ++d) {
      DoorSettings door;
      door.name = d <= 4 ? "Porte " + std::to_string(d) : "Passage 1";
      door.kind = d <= 4 ? 'D' : 'C';
      door.in_channel = 2 * d - 1;
      door.out_channel = 2 * d;
      settings.doors.push_back(door);
    }
  }

  // A site's layout: "default" (the program's), or a device and its doors.
  void ReadLayout(const toml::node& node, const std::string& key, SiteSettings& settings) const {
    if (node.is_string()) {
      if (String(node, key) != "default") {
        Fail(node, key, "must be \"default\" or a table with device and doors");
      }
      ApplyDefaultLayoutTo(settings);
      return;
    }
    const toml::table* table = Table(node, key);
    settings.default_layout = false;
    ReadDevice(*table, key, settings);
    const toml::node* doors_node = table->get("doors");
    const toml::array* doors = doors_node != nullptr ? doors_node->as_array() : nullptr;
    if (doors == nullptr || doors->empty()) {
      Fail(doors_node != nullptr ? *doors_node : node, key + ".doors",
           "must be a list of doors, such as [{ name = \"Entrance\" }]");
    }
    const DeviceLimits limits = LimitsOf(settings.device_type);
    if (static_cast<int>(doors->size()) > limits.doors) {
      Fail(*doors_node, key + ".doors",
           std::to_string(doors->size()) + " doors are more than a " + settings.device_type +
               " configuration holds (" + std::to_string(limits.doors) + ")");
    }
    std::map<int, std::string> channel_owner;
    int number = 0;
    for (const toml::node& door_node : *doors) {
      ++number;
      const std::string where = key + ".doors[" + std::to_string(number) + "]";
      const DoorSettings door = Door(door_node, where, number, limits.tly01);
      for (const int channel : {door.in_channel, door.out_channel}) {
        if (channel > limits.channels) {
          Fail(door_node, where,
               "channel " + std::to_string(channel) + " is beyond the " +
                   std::to_string(limits.channels) + " channels a " + settings.device_type +
                   " configuration holds");
        }
        const auto [owner, added] = channel_owner.emplace(channel, where);
        if (!added) {
          Fail(door_node, where,
               "channel " + std::to_string(channel) + " is counted by " + owner->second +
                   " already");
        }
      }
      settings.doors.push_back(door);
    }
    double weights = 0;
    for (const DoorSettings& door : settings.doors) weights += door.weight;
    if (weights <= 0) Fail(*doors_node, key + ".doors", "the doors' weights must not all be 0");
  }

  // The keys of a layout table checked, and its device (the settings' own
  // when it names none) read into `settings`.
  void ReadDevice(const toml::table& table, const std::string& key, SiteSettings& settings) const {
    for (const auto& [name, value] : table) {
      if (name.str() != "device" && name.str() != "doors") {
        Fail(value, key + "." + std::string(name.str()),
             "is not a key of a layout (device, doors)");
      }
    }
    if (const toml::node* device = table.get("device")) {
      settings.device_type = String(*device, key + ".device");
      if (settings.device_type != "RV9" && settings.device_type != "QDX" &&
          settings.device_type != "TLY08" && settings.device_type != "TLY01") {
        Fail(*device, key + ".device",
             "\"" + settings.device_type +
                 "\" is not a device the header knows (RV9, QDX, TLY08, "
                 "TLY01)");
      }
    }
  }

  // How many doors and channels a device type's configuration holds; a
  // TLY01 also fixes each door's channels.
  struct DeviceLimits {
    bool tly01 = false;
    int doors = 0;
    int channels = 0;
  };
  static DeviceLimits LimitsOf(const std::string& device_type) {
    const bool tly01 = device_type == "TLY01";
    return {tly01, tly01 ? 4 : kDoorCount, device_type == "TLY08" || tly01 ? 8 : kChannelCount};
  }

  // Door `number` (from 1) of a layout, at `where`: its keys over the
  // defaults of its place (its name by number, the next two channels; on a
  // TLY01 channels n and n + 4, which it may not change).
  DoorSettings Door(const toml::node& node, const std::string& where, int number,
                    bool tly01) const {
    const toml::table* table = Table(node, where);
    DoorSettings door;
    door.name = "Door " + std::to_string(number);
    door.in_channel = tly01 ? number : 2 * number - 1;
    door.out_channel = tly01 ? number + 4 : 2 * number;
    for (const auto& [name, value] : *table) {
      const std::string field(name.str());
      const std::string field_key = std::string(where).append(".").append(field);
      if (field == "name") {
        door.name = String(value, field_key);
        if (door.name.size() > decltype(DoorEntry::Name)::kCapacity) {
          Fail(value, field_key, "is longer than the header's 32 characters");
        }
        if (door.name.find_first_of("\r\n") != std::string::npos) {
          Fail(value, field_key, "must be one line");
        }
      } else if (field == "kind") {
        const std::string kind = String(value, field_key);
        if (kind != "D" && kind != "C" && kind != "P") {
          Fail(value, field_key, "\"" + kind + "\" is not D (door), C (passage) or P");
        }
        door.kind = kind[0];
      } else if (field == "weight") {
        door.weight = Number(value, field_key, 0, 1e6);
      } else if (field == "in" || field == "out") {
        int& channel = field == "in" ? door.in_channel : door.out_channel;
        const int chosen = static_cast<int>(Integer(value, field_key, 1, kChannelCount));
        if (tly01 && chosen != channel) {
          Fail(value, field_key,
               "a TLY01 device counts door n on channels n (in) and n + 4 (out); door " +
                   std::to_string(number) + "'s " + field + " channel is " +
                   std::to_string(channel));
        }
        channel = chosen;
      } else {
        Fail(value, field_key, "is not a key of a door (name, kind, weight, in, out)");
      }
    }
    return door;
  }

  std::string source_;
  std::optional<DeliverySettings> delivery_;  // the scenario's [delivery]
  DeliveryFaultRates delivery_faults_;        // the scenario's [faults] of delivery
};

}  // namespace

Scenario ParseScenario(std::string_view text, const std::string& source) {
  return ScenarioReader(source).Read(text);
}

Scenario LoadScenario(const std::string& path) {
  std::optional<std::string> text;
  try {
    text = ReadWholeFile(path);
  } catch (const std::system_error& error) {
    throw ScenarioError(path + ": cannot read the scenario: " + error.code().message());
  }
  if (!text) throw ScenarioError(path + ": there is no such scenario file");
  return ParseScenario(*text, path);
}

}  // namespace tly
