#include "faults/fault_truth_reader.h"

#include <nlohmann/json.hpp>
#include <cstdint>
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

TruthEntry ParseLine(std::string_view line, const std::string& where) {
  const Json json = Json::parse(line, nullptr, false);
  const std::string* file = json.is_object() ? TextAt(json, "file") : nullptr;
  const std::string* kind_name = json.is_object() ? TextAt(json, "kind") : nullptr;
  if (file == nullptr || kind_name == nullptr) {
    throw std::invalid_argument(where + ": not a fault record (a JSON object with file and kind)");
  }
  const std::optional<FaultKind> kind = FaultKindOfName(*kind_name);
  if (!kind) throw std::invalid_argument(where + ": no fault kind " + json["kind"].dump());
  TruthEntry entry{*file, *kind, std::nullopt, false};
  const auto seal = json.find("seal_matches");
  entry.no_file = seal != json.end() && seal->is_null();
  const auto first = json.find("first_quarter");
  if (first != json.end() && first->is_number_integer()) {
    // Out of int's range is no quarter hour of a day: such a value is ignored.
    const int64_t quarter = first->get<int64_t>();
    if (quarter >= 0 && quarter < 96) entry.first_quarter = static_cast<int>(quarter);
  }
  return entry;
}

}  // namespace

std::vector<TruthEntry> ParseFaultTruth(std::string_view text, const std::string& name) {
  std::vector<TruthEntry> entries;
  int number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    ++number;
    start = end + 1;
    if (line.empty()) continue;
    entries.push_back(ParseLine(line, name + ":" + std::to_string(number)));
  }
  return entries;
}

}  // namespace tly
