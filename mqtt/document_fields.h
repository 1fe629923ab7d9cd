#pragma once
// Strict reading of one JSON object of the fleet's documents: each key read
// once, typed and in range; Finish refuses a key nobody asked for.

#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "mqtt/documents.h"

namespace tarvo_mqtt {

class Fields {
 public:
  // `document` names the document in refusals ("desired", "reported.pending[0]").
  Fields(const nlohmann::json& object, std::string document);
  // A whole payload, which must be one JSON object.
  Fields(std::string_view payload, std::string document);
  Fields(const Fields&) = delete;
  Fields& operator=(const Fields&) = delete;

  int64_t Integer(const char* key, int64_t lowest);
  std::optional<int64_t> OptionalInteger(const char* key, int64_t lowest);
  std::string Text(const char* key);  // not empty
  std::optional<std::string> OptionalText(const char* key);
  WallTime Time(const char* key);
  std::optional<WallTime> OptionalTime(const char* key);
  // Panels as `read --json` prints them; those with "ok": false are left out.
  std::vector<station::PanelRequest> Panels(const char* key);
  // The value as it is, for a reader of its own; null when allowed.
  const nlohmann::json& Value(const char* key);
  void Finish() const;

  [[noreturn]] void Refuse(const std::string& what) const;
  const std::string& Document() const { return document_; }

 private:
  nlohmann::json parsed_;  // a payload's, when Fields read one
  const nlohmann::json& object_;
  std::string document_;
  std::set<std::string> read_;
};

// The panels as `read --json` prints them.
nlohmann::json PanelsJson(const std::vector<station::PanelRequest>& panels);
// Null, or the time in UTC.
nlohmann::json TimeJson(const std::optional<WallTime>& time);

}  // namespace tarvo_mqtt
