// A change made with --direct is drift to a running agent: it heals it within
// its verification interval (or only records it), which an operator who did
// not know would take for the sign misbehaving.
#include "cli/agent_client.h"
#include "cli/commands.h"
#include "station/text.h"

namespace tarvo_cli {

station::ExitStatus NoteTheAgentAfterDirect(const Options& options, station::ExitStatus status, Console& console) {
  if (!options.direct) return status;
  try {
    std::optional<AgentClient> agent = AgentClient::Connect();
    if (!agent) return status;
    const nlohmann::json reply = agent->Ask({{"op", "status"}});
    const int64_t rev = reply.value("rev", int64_t{0});
    if (!reply.value("ok", false) || rev == 0) return status;
    const std::string revText = std::to_string(rev);
    console.err
        << "tarvo-cli: "
        << (reply.value("drift", "heal") == "heal"
                ? station::Format(
                      "note: tarvo-agent runs and restores rev %s within %s s; to keep this "
                      "change, make it without --direct",
                      {revText, std::to_string(reply.value("verify_interval_s", 0))})
                : station::Format(
                      "note: tarvo-agent runs and records this change as drift from rev %s",
                      {revText}))
        << '\n';
  } catch (const std::exception&) {
    // The note is a courtesy: the write's own outcome stands.
  }
  return status;
}

}  // namespace tarvo_cli
