#include "agent/head_office_revisions.h"

#include <algorithm>

namespace agent {

namespace {

using nlohmann::json;

json RevisionJson(const HeadOfficeRevision& revision) {
  return {{"rev", revision.rev},
          {"change_id", revision.changeId},
          {"agent_rev", revision.agentRev},
          {"agent_id", revision.agentId},
          {"effective_at", revision.effectiveAt ? json(*revision.effectiveAt) : json()}};
}

HeadOfficeRevision RevisionFromJson(const json& document) {
  HeadOfficeRevision revision{document.at("rev").get<int64_t>(),
                              document.at("change_id").get<std::string>(),
                              document.at("agent_rev").get<int64_t>(),
                              document.at("agent_id").get<std::string>(), std::nullopt};
  if (!document.at("effective_at").is_null())
    revision.effectiveAt = document.at("effective_at").get<int64_t>();
  return revision;
}

}  // namespace

int64_t HeadOfficeRevisions::Highest() const {
  int64_t highest = plan.is_object() ? plan.at("rev").get<int64_t>() : 0;
  if (applied) highest = std::max(highest, applied->rev);
  for (const HeadOfficeRevision& revision : pending) highest = std::max(highest, revision.rev);
  return highest;
}

std::string HeadOfficeRevisions::PlanChangeId() const {
  return plan.is_object() ? plan.at("change_id").get<std::string>() : "";
}

std::optional<int64_t> HeadOfficeRevisions::HeadOfficeRev(int64_t agentRev) const {
  if (applied && applied->agentRev == agentRev) return applied->rev;
  for (const HeadOfficeRevision& revision : pending)
    if (revision.agentRev == agentRev) return revision.rev;
  return std::nullopt;
}

void HeadOfficeRevisions::TookEffect(int64_t agentRev, const LocalOverride& ifLocal) {
  const auto found =
      std::find_if(pending.begin(), pending.end(),
                   [agentRev](const HeadOfficeRevision& r) { return r.agentRev == agentRev; });
  if (found == pending.end()) {
    localOverride = ifLocal;
    return;
  }
  applied = *found;
  localOverride.reset();
  // Entries still to come stay; those it showed through were dropped as skipped.
  pending.erase(found);
}

void HeadOfficeRevisions::Dropped(int64_t agentRev) {
  std::erase_if(pending,
                [agentRev](const HeadOfficeRevision& r) { return r.agentRev == agentRev; });
}

json HeadOfficeRevisions::ToJson() const {
  json list = json::array();
  for (const HeadOfficeRevision& revision : pending) list.push_back(RevisionJson(revision));
  json local, notTaken;
  if (localOverride)
    local = {{"change_id", localOverride->changeId},
             {"issuer", localOverride->issuer},
             {"at", localOverride->at},
             {"panels", localOverride->panels}};
  if (refused)
    notTaken = {{"rev", refused->rev}, {"change_id", refused->changeId}, {"reason", refused->reason}};
  return {{"plan", plan},
          {"applied", applied ? RevisionJson(*applied) : json()},
          {"pending", list},
          {"override", local},
          {"refused", notTaken}};
}

HeadOfficeRevisions HeadOfficeRevisions::FromJson(const json& document) {
  HeadOfficeRevisions revisions;
  if (!document.at("applied").is_null())
    revisions.applied = RevisionFromJson(document.at("applied"));
  for (const json& revision : document.at("pending"))
    revisions.pending.push_back(RevisionFromJson(revision));
  if (const json& local = document.at("override"); !local.is_null())
    revisions.localOverride = LocalOverride{
        local.at("change_id").get<std::string>(), local.at("issuer").get<std::string>(),
        local.at("at").get<int64_t>(), local.value("panels", json::array()).get<std::vector<int>>()};
  // Kept by earlier versions without these.
  revisions.plan = document.value("plan", json());
  if (const json notTaken = document.value("refused", json()); !notTaken.is_null())
    revisions.refused = RefusedPlan{notTaken.at("rev").get<int64_t>(),
                                    notTaken.at("change_id").get<std::string>(),
                                    notTaken.at("reason").get<std::string>()};
  return revisions;
}

}  // namespace agent
