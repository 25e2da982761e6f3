#include "faults/fault_record.h"

#include <charconv>
#include <nlohmann/json.hpp>

namespace tly {
namespace {

// The line of the passages missed: a site-day's many counts written by hand,
// as the JSON library would write them, which is several times faster.
std::string MissedPassagesJson(const FaultRecord& record) {
  nlohmann::ordered_json json;
  json["file"] = record.file;
  json["kind"] = std::string(kMissedPassagesKind);
  json["site"] = record.site;
  json["channels"] = record.channels;
  std::string line = json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  line.pop_back();  // the closing brace
  line += ",\"missed\":[";
  // Each count has at most 10 digits and a comma; each list two brackets
  // and a comma.
  size_t room = 0;
  for (const std::vector<uint32_t>& quarters : *record.missed) room += quarters.size() * 11 + 3;
  const size_t head = line.size();
  line.resize(head + room);
  char* out = line.data() + head;
  for (size_t c = 0; c < record.missed->size(); ++c) {
    if (c > 0) *out++ = ',';
    *out++ = '[';
    const std::vector<uint32_t>& quarters = (*record.missed)[c];
    for (size_t q = 0; q < quarters.size(); ++q) {
      if (q > 0) *out++ = ',';
      out = std::to_chars(out, out + 10, quarters[q]).ptr;
    }
    *out++ = ']';
  }
  line.resize(static_cast<size_t>(out - line.data()));
  line += "]}";
  return line;
}

}  // namespace

std::string FaultRecordJson(const FaultRecord& record) {
  if (record.missed) return MissedPassagesJson(record);
  nlohmann::ordered_json json;
  json["file"] = record.file;
  json["kind"] = std::string(FaultKindName(record.kind));
  json["site"] = record.site;
  json["first_quarter"] = record.first_quarter ? nlohmann::ordered_json(*record.first_quarter)
                                               : nlohmann::ordered_json(nullptr);
  json["last_quarter"] = record.last_quarter ? nlohmann::ordered_json(*record.last_quarter)
                                             : nlohmann::ordered_json(nullptr);
  json["channels"] = record.channels;
  nlohmann::ordered_json values = nlohmann::ordered_json::array();
  for (const FaultValue& value : record.values) {
    nlohmann::ordered_json cell;
    cell["quarter"] = value.quarter;
    cell["channel"] = value.channel;
    cell["true"] = value.true_value;
    cell["written"] =
        value.written ? nlohmann::ordered_json(*value.written) : nlohmann::ordered_json(nullptr);
    values.push_back(std::move(cell));
  }
  json["values"] = std::move(values);
  json["seal_matches"] = record.seal_matches ? nlohmann::ordered_json(*record.seal_matches)
                                             : nlohmann::ordered_json(nullptr);
  if (record.line) json["line"] = *record.line;
  if (record.shift_minutes) json["shift_minutes"] = *record.shift_minutes;
  if (record.shift_days) json["shift_days"] = *record.shift_days;
  if (record.door) json["door"] = *record.door;
  if (record.text) json["text"] = *record.text;
  if (record.kept_bytes) json["kept_bytes"] = *record.kept_bytes;
  if (record.padding_bytes) json["padding_bytes"] = *record.padding_bytes;
  // Header lines may hold bytes above 127 (single-byte names): never refuse them.
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace tly
