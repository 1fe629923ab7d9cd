"use strict";
// The head office's page: the stations table, a station, the push form with
// its live confirmations and the live events feed, over /api/v1/.
let session = null;
let stations = [];
let renderQueued = false;
let currentStation = null;

async function api(path, options = {}) {
  const headers = Object.assign({"Content-Type": "application/json"}, options.headers || {});
  if (session && options.method && options.method !== "GET") headers["X-CSRF-Token"] = session.csrf;
  const answer = await fetch("/api/v1/" + path, Object.assign({}, options, {headers}));
  if (answer.status === 401) { location.href = "/login"; throw new Error("log in"); }
  const body = await answer.json();
  if (!answer.ok) throw Object.assign(new Error(body.error || answer.statusText), {status: answer.status});
  return body;
}

function when(text) { return text ? new Date(text).toLocaleString() : "—"; }

// Lost first, then unverified, then lagging; then by id.
function rank(station) {
  if (station.online === false) return 0;
  if (station.state !== "verified" && station.state !== "scheduled") return 1;
  if (station.lagging) return 2;
  return 3;
}

function stateClass(station) {
  return ["lost", "unverified", "lagging", "ok"][rank(station)];
}

function renderStations() {
  renderQueued = false;
  const search = document.getElementById("search").value.trim().toLowerCase();
  const group = document.getElementById("group-filter").value;
  const rows = stations
    .filter((s) => (!search || s.id.toLowerCase().includes(search)) && (!group || s.groups.includes(group)))
    .sort((a, b) => rank(a) - rank(b) || a.id.localeCompare(b.id));
  const body = document.createDocumentFragment();
  for (const s of rows) {
    const tr = element("tr", "state-" + stateClass(s));
    tr.dataset.station = s.id;
    const link = element("a", null, s.id);
    link.href = "#/station/" + encodeURIComponent(s.id);
    const first = element("td");
    first.append(link);
    tr.append(first,
      element("td", "online", s.online === false ? t("lost") : s.online ? t("yes") : "—"),
      element("td", "state", (s.state || "—") + (s.lagging ? " · " + t("lagging") : "")),
      element("td", "rev", (s.rev ?? "—") + " / " + (s.office_rev ?? "—")),
      element("td", "verified", s.last_verification ? when(s.last_verification.at) + (s.last_verification.ok ? " ✓" : " ✗") : "—"),
      element("td", "drift", s.drift_count),
      element("td", "groups", s.groups.join(", ")));
    body.append(tr);
  }
  document.querySelector("#stations tbody").replaceChildren(body);
  document.getElementById("stations").dataset.rows = rows.length;
}

function queueRender() {
  if (!renderQueued) { renderQueued = true; requestAnimationFrame(renderStations); }
}

async function loadStations() {
  stations = await api("stations");
  queueRender();
}

async function loadGroups() {
  const groups = await api("groups");
  for (const id of ["group-filter", "push-group"]) {
    const select = document.getElementById(id);
    for (const name of Object.keys(groups)) select.append(Object.assign(element("option", null, name), {value: name}));
  }
}

async function showStation(id) {
  currentStation = id;
  const station = await api("stations/" + encodeURIComponent(id));
  document.getElementById("station-title").textContent = station.id;
  document.getElementById("station-summary").textContent =
    `${station.online === false ? t("lost") : t("yes")} ${t("since")} ${when(station.since)} · ${station.state || "—"} · ` +
    `rev ${station.rev ?? "—"} / ${station.office_rev ?? "—"} · ${t("drift")} ${station.drift_count} · ` +
    `${t("pending")}: ${station.pending.map((p) => "rev " + p.rev + " " + when(p.effective_at)).join(", ") || t("none")} · ` +
    `${t("override")}: ${station.override ? station.override.issuer + " " + when(station.override.at) : t("none")}`;
  drawSign(document.getElementById("sign"), station.panels);
  const select = document.getElementById("timeline-panel");
  if (!select.options.length)
    for (const half of ADDRESSES) for (const a of half) select.append(Object.assign(element("option", null, "#" + a), {value: a}));
  showTimeline();
  const history = await api("stations/" + encodeURIComponent(id) + "/history?limit=200");
  document.querySelector("#history tbody").replaceChildren(...history.map((e) => {
    const tr = element("tr");
    tr.append(element("td", null, when(e.at)), element("td", null, e.kind), element("td", null, e.text));
    return tr;
  }));
  const to = new Date(), from = new Date(to.getTime() - 31 * 86400e3);
  document.getElementById("export").href =
    `/api/v1/export.csv?stations=${encodeURIComponent(id)}&from=${from.toISOString()}&to=${to.toISOString()}`;
}

async function showTimeline() {
  const address = Number(document.getElementById("timeline-panel").value);
  const periods = (await api("stations/" + encodeURIComponent(currentStation) + "/periods"))
    .filter((p) => p.address === address);
  document.querySelector("#timeline tbody").replaceChildren(...periods.map((p) => {
    const tr = element("tr");
    tr.append(element("td", null, when(p.from)), element("td", null, p.to ? when(p.to) : "…"),
      element("td", null, p.price), element("td", null, p.grade), element("td", null, p.inscription), element("td", null, p.issuer));
    return tr;
  }));
}

function buildEditor() {
  const editor = document.getElementById("editor");
  for (let row = 1; row <= 5; ++row) {
    const line = element("div", "editor-row");
    line.append(element("span", null, t("row") + " " + row));
    const price = Object.assign(element("input"), {placeholder: t("price"), size: 6});
    price.dataset.row = row;
    price.className = "editor-price";
    const grade = element("select", "editor-grade");
    for (const g of ["", "80", "92", "95", "98", "ДТ"]) grade.append(Object.assign(element("option", null, g), {value: g}));
    const inscription = element("select", "editor-inscription");
    for (const i of ["", "0", "1", "2", "3"]) inscription.append(Object.assign(element("option", null, i), {value: i}));
    line.append(price, grade, inscription);
    editor.append(line);
  }
}

// The editor's rows as SPECs: rowR=PRICE[:GRADE[:INSCRIPTION]].
function editorSpecs() {
  const specs = [];
  for (const line of document.querySelectorAll(".editor-row")) {
    const price = line.querySelector(".editor-price");
    if (!price.value.trim()) continue;
    let spec = "row" + price.dataset.row + "=" + price.value.trim();
    const grade = line.querySelector(".editor-grade").value;
    const inscription = line.querySelector(".editor-inscription").value;
    if (grade || inscription) spec += ":" + grade;
    if (inscription) spec += ":" + inscription;
    specs.push(spec);
  }
  return specs;
}

let pushStream = null;
function showOutcomes(push) {
  const body = document.querySelector("#push-outcomes tbody");
  for (const outcome of push.stations) {
    let tr = body.querySelector(`tr[data-station="${CSS.escape(outcome.station)}"]`);
    if (!tr) {
      tr = element("tr");
      tr.dataset.station = outcome.station;
      tr.append(element("td", null, outcome.station), element("td", "rev"), element("td", "outcome"), element("td", "detail"));
      body.append(tr);
    }
    tr.querySelector(".rev").textContent = outcome.rev;
    tr.querySelector(".outcome").textContent = t(outcome.outcome);
    tr.querySelector(".outcome").dataset.outcome = outcome.outcome;
    tr.querySelector(".detail").textContent = outcome.detail;
    tr.className = "outcome-" + outcome.outcome;
  }
}

async function sendPush(event) {
  event.preventDefault();
  const specs = document.getElementById("push-specs").value.split("\n").map((s) => s.trim()).filter(Boolean)
    .concat(editorSpecs());
  const request = {specs};
  const group = document.getElementById("push-group").value;
  if (group) request.group = group;
  else request.stations = document.getElementById("push-stations").value.split(",").map((s) => s.trim()).filter(Boolean);
  const at = document.getElementById("push-at").value;
  if (at) request.at = new Date(at).toISOString();
  await startPush("pushes", request);
}

// A push or a cancel: its confirmations shown as they arrive.
async function startPush(path, request) {
  const error = document.getElementById("push-error");
  error.textContent = "";
  document.querySelector("#push-outcomes tbody").replaceChildren();
  try {
    const push = await api(path, {method: "POST", body: JSON.stringify(request)});
    if (pushStream) pushStream.close();
    pushStream = new EventSource("/api/v1/events?push=" + encodeURIComponent(push.change_id));
    pushStream.addEventListener("push", (message) => showOutcomes({stations: [JSON.parse(message.data)]}));
    showOutcomes(push);
    // Outcomes that came before the stream opened.
    pushStream.addEventListener("open", async () => showOutcomes(await api("pushes/" + push.change_id)));
  } catch (failure) {
    error.textContent = failure.status === 403 && session.role === "viewer" ? t("viewerRefused") + " (" + failure.message + ")" : failure.message;
  }
  loadScheduled();
}

// Pushes still to come, each with its cancel.
async function loadScheduled() {
  const now = Date.now();
  const rows = (await api("pushes")).filter((p) => p.effective_at && new Date(p.effective_at) > now &&
    !p.cancels && p.cancelled_by.length === 0).map((push) => {
    const tr = element("tr");
    tr.dataset.change = push.change_id;
    const cancel = Object.assign(element("button", "push-cancel", t("cancel")), {type: "button"});
    cancel.addEventListener("click", () => startPush("pushes/" + encodeURIComponent(push.change_id) + "/cancel", {}));
    const target = push.target.group ? push.target.group : push.stations.map((s) => s.station).join(", ");
    const panels = [...new Set(push.panels.map((p) => "row" + p.row + "=" + (p.price || "")))].join(" ");
    const action = element("td");
    action.append(cancel);
    tr.append(element("td", null, when(push.effective_at)), element("td", null, push.issuer),
      element("td", null, panels), element("td", null, target), action);
    return tr;
  });
  document.querySelector("#scheduled-pushes tbody").replaceChildren(...rows);
}

function addEvent(e) {
  const tr = element("tr");
  tr.append(element("td", null, when(e.at)), element("td", null, e.station), element("td", null, e.kind), element("td", null, e.text));
  const body = document.querySelector("#events tbody");
  body.prepend(tr);
  while (body.rows.length > 500) body.lastChild.remove();
}

// Station changes come as they happen; one station's row is fetched again.
function openFeed() {
  const feed = new EventSource("/api/v1/events");
  feed.addEventListener("station", async (message) => {
    const id = JSON.parse(message.data).station;
    const fresh = await api("stations/" + encodeURIComponent(id));
    const index = stations.findIndex((s) => s.id === id);
    if (index >= 0) stations[index] = fresh; else stations.push(fresh);
    queueRender();
    if (currentStation === id && !document.getElementById("view-station").hidden) showStation(id);
  });
  feed.addEventListener("event", (message) => addEvent(JSON.parse(message.data)));
}

function route() {
  const hash = location.hash || "#/";
  const views = {stations: hash === "#/", station: hash.startsWith("#/station/"), push: hash === "#/push", events: hash === "#/events"};
  for (const [name, shown] of Object.entries(views)) document.getElementById("view-" + name).hidden = !shown;
  if (views.station) showStation(decodeURIComponent(hash.slice("#/station/".length)));
  if (views.push) loadScheduled();
}

document.addEventListener("DOMContentLoaded", async () => {
  session = await api("session");
  document.getElementById("who").textContent = session.user + " (" + session.role + ")";
  document.body.dataset.role = session.role;
  document.getElementById("logout").addEventListener("click", async () => {
    await api("logout", {method: "POST"});
    location.href = "/login";
  });
  document.getElementById("search").addEventListener("input", queueRender);
  document.getElementById("group-filter").addEventListener("change", queueRender);
  document.getElementById("push-form").addEventListener("submit", sendPush);
  document.getElementById("timeline-panel").addEventListener("change", showTimeline);
  document.getElementById("shown-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const at = new Date(document.getElementById("shown-at").value).toISOString();
    const shown = await api("stations/" + encodeURIComponent(currentStation) + "/shown?at=" + encodeURIComponent(at));
    drawSign(document.getElementById("shown"), shown.panels);
  });
  buildEditor();
  window.addEventListener("hashchange", route);
  route();
  openFeed();
  await Promise.all([loadStations(), loadGroups()]);
});
