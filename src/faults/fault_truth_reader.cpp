#include "faults/fault_truth_reader.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

namespace tly {
namespace {

using Json = nlohmann::json;

// The text at `key` of the object `json`, if there is one.
const std::string* TextAt(const Json& json, const char* key) {
  const auto found = json.find(key);
  return found != json.end() && found->is_string() ? found->get_ptr<const std::string*>() : nullptr;
}

// The whole number at `key` of the object `json`, if it has one from `low`
// to `high`; out of that range it is no value of its kind and is ignored.
std::optional<int64_t> NumberAt(const Json& json, const char* key, int64_t low, int64_t high) {
  const auto found = json.find(key);
  if (found == json.end() || !found->is_number_integer()) return std::nullopt;
  // Beyond int64_t is beyond every range asked for.
  if (found->is_number_unsigned() && found->get<uint64_t>() > INT64_MAX) return std::nullopt;
  const int64_t number = found->get<int64_t>();
  if (number < low || number > high) return std::nullopt;
  return number;
}

std::optional<int> QuarterAt(const Json& json, const char* key) {
  const std::optional<int64_t> quarter = NumberAt(json, key, 0, 95);
  if (!quarter) return std::nullopt;
  return static_cast<int>(*quarter);
}

// One entry of a record's "values": a quarter hour, a channel (1 to 64), the
// true count and, when the row is in the file, the written one.
std::optional<FaultValue> ValueOf(const Json& json) {
  if (!json.is_object()) return std::nullopt;
  const std::optional<int> quarter = QuarterAt(json, "quarter");
  const std::optional<int64_t> channel = NumberAt(json, "channel", 1, 64);
  const std::optional<int64_t> true_value = NumberAt(json, "true", INT64_MIN, INT64_MAX);
  if (!quarter || !channel || !true_value) return std::nullopt;
  return FaultValue{*quarter, static_cast<int>(*channel), *true_value,
                    NumberAt(json, "written", INT64_MIN, INT64_MAX)};
}

// The passages missed of the line `json` about `file`.
PassageTruth PassagesOf(const Json& json, const std::string& file, const std::string& where) {
  PassageTruth truth;
  truth.file = file;
  const auto channels = json.find("channels");
  const auto missed = json.find("missed");
  const auto bad = [&where]() {
    return std::invalid_argument(where +
                                 ": missed passages need a list of 96 counts from 0 for each "
                                 "of their channels (1 to 64)");
  };
  if (channels == json.end() || missed == json.end() || !channels->is_array() ||
      !missed->is_array() || channels->size() != missed->size()) {
    throw bad();
  }
  for (size_t c = 0; c < channels->size(); ++c) {
    const Json& channel = (*channels)[c];
    const Json& counts = (*missed)[c];
    if (!channel.is_number_unsigned() || channel.get<uint64_t>() < 1 ||
        channel.get<uint64_t>() > 64 || !counts.is_array() || counts.size() != 96) {
      throw bad();
    }
    std::vector<int64_t> quarters;
    for (const Json& count : counts) {
      if (!count.is_number_unsigned() || count.get<uint64_t>() > INT64_MAX) throw bad();
      quarters.push_back(count.get<int64_t>());
    }
    truth.channels.push_back(channel.get<int>());
    truth.missed.push_back(std::move(quarters));
  }
  return truth;
}

// Adds the line `line` to `lines`.
void ParseLine(std::string_view line, const std::string& where, TruthLines& lines) {
  const Json json = Json::parse(line, nullptr, false);
  const std::string* file = json.is_object() ? TextAt(json, "file") : nullptr;
  const std::string* kind_name = json.is_object() ? TextAt(json, "kind") : nullptr;
  if (file == nullptr || kind_name == nullptr) {
    throw std::invalid_argument(where + ": not a fault record (a JSON object with file and kind)");
  }
  if (*kind_name == kMissedPassagesKind) {
    lines.passages.push_back(PassagesOf(json, *file, where));
    return;
  }
  const std::optional<FaultKind> kind = FaultKindOfName(*kind_name);
  if (!kind) throw std::invalid_argument(where + ": no fault kind " + json["kind"].dump());
  TruthEntry entry;
  entry.file = *file;
  entry.kind = *kind;
  const auto seal = json.find("seal_matches");
  entry.no_file = seal != json.end() && seal->is_null();
  entry.first_quarter = QuarterAt(json, "first_quarter");
  entry.last_quarter = QuarterAt(json, "last_quarter");
  const auto values = json.find("values");
  if (values != json.end() && values->is_array()) {
    for (const Json& value : *values) {
      if (std::optional<FaultValue> read = ValueOf(value)) entry.values.push_back(*read);
    }
  }
  lines.faults.push_back(std::move(entry));
}

}  // namespace

TruthLines ParseTruth(std::string_view text, const std::string& name) {
  TruthLines lines;
  int number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    ++number;
    start = end + 1;
    if (line.empty()) continue;
    ParseLine(line, name + ":" + std::to_string(number), lines);
  }
  return lines;
}

std::vector<TruthEntry> ParseFaultTruth(std::string_view text, const std::string& name) {
  return ParseTruth(text, name).faults;
}

}  // namespace tly
