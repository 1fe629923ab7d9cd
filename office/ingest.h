#pragma once
// Takes the stations' messages into office.db: status, reported, events and
// the head office's own retained desired documents. A message is stored
// before Take returns; a document that is not one of the contract's is
// counted and left out (it can never become one).

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "mqtt/client.h"
#include "office/office_store.h"

namespace office {

struct IngestCounters {
  int64_t messages = 0;
  int64_t events = 0;      // new events stored
  int64_t duplicates = 0;  // events that were already stored
  int64_t refused = 0;     // documents not of the contract
};

class Ingest {
 public:
  // `changed`: what changed, as the live feed sends it ({"type": "station"
  // | "event", "station": ..., ...}).
  Ingest(OfficeStore& store, std::function<void(const nlohmann::json&)> changed)
      : store_(store), changed_(std::move(changed)) {}

  // Throws std::runtime_error when the database cannot take it.
  void Take(const tarvo_mqtt::Message& message);
  const IngestCounters& Counters() const { return counters_; }
  const std::string& LastRefusal() const { return lastRefusal_; }

 private:
  OfficeStore& store_;
  std::function<void(const nlohmann::json&)> changed_;
  IngestCounters counters_;
  std::string lastRefusal_;
};

}  // namespace office
