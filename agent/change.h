#pragma once
// One accepted change of the desired state: what it changes, who asked, when
// it was asked and when it takes effect. Its number orders the changes as they
// were accepted; the state revision it made is given when it takes effect, so
// revisions follow the order in which changes took effect, never backwards.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/panel_request.h"

namespace agent {

enum class ChangeState { kPending, kApplied, kSkipped, kCancelled };

// What a source (the control socket, a head office) asks for.
struct ChangeRequest {
  std::string issuer;                // the local user, or "head office"
  std::optional<int64_t> sourceRev;  // the source's own revision number, when it has one
  std::vector<station::PanelRequest> panels;
  std::optional<std::string> brightness;  // "auto" or "0".."9"
  std::optional<int64_t> effectiveAt;     // milliseconds since the epoch; none: now
};

struct Change {
  int64_t number = 0;  // in the order accepted
  std::string id;
  int64_t requestedAt = 0;
  ChangeState state = ChangeState::kPending;
  std::optional<int64_t> stateRev;  // the state revision it made, once it took effect
  ChangeRequest request;
};

const char* StateName(ChangeState state);

}  // namespace agent
