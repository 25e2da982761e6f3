#include "faults/fault_record.h"

#include <nlohmann/json.hpp>

namespace tly {

std::string FaultRecordJson(const FaultRecord& record) {
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
