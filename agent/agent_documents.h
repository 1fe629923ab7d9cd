#pragma once
// The JSON the agent answers with: a change, a write's outcome per panel, an
// event. The same shapes serve the control socket and any later link.

#include <nlohmann/json.hpp>
#include <string>

#include "agent/change.h"
#include "agent/desired_state.h"
#include "agent/sign_job.h"
#include "agent/state_db.h"

namespace agent {

// {"id", "rev", "issuer", "requested_at", "effective_at", "state", "panels", "brightness"};
// the panels as a write names them: price, grade, inscription or null for "keep".
nlohmann::json ChangeJson(const Change& change);

// The outcome of a write for the panels the change named, from one session:
// asked, sent, acknowledged, verified (that session read it back as the
// change asked) and what the sign showed after.
nlohmann::json PanelOutcomesJson(const ChangeRequest& change, const SignJobResult& result);

// The record shows every field the request names.
bool PanelShows(const std::optional<sign_link::PanelRecord>& record, const station::PanelRequest& request);

// What a verification or an apply found different, with what the sign showed.
nlohmann::json DriftJson(const SignJobResult& result);

nlohmann::json EventJson(const Event& event);

// "ok", a panel's price, grade and inscription as `read` prints them.
nlohmann::json DesiredPanelsJson(const DesiredState& desired, const Readback& readback);

}  // namespace agent
