// The line-side page: one tile per slot, the counters and the last units, kept live by the
// event stream. Everything inline: a line PC often has no internet.

#include "station_http.h"

namespace tarnix {

namespace {

const char PAGE[] = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>tarnix-station</title>
<style>
body{margin:0;font-family:system-ui,sans-serif;background:#15181c;color:#eee}
header{display:flex;flex-wrap:wrap;gap:1.5em;align-items:baseline;padding:.6em 1em;background:#22272e}
header h1{margin:0;font-size:1.6em}
.counter{font-size:1.6em}.counter b{font-size:1.4em}
#link{margin-left:auto;color:#999}
#slots{display:grid;grid-template-columns:repeat(auto-fill,minmax(22em,1fr));gap:.8em;padding:.8em}
.tile{border-radius:.5em;padding:.8em 1em;background:#333;min-height:7em}
.tile h2{margin:0 0 .3em;font-size:1.1em;word-break:break-all;color:#ddd}
.unit{font-size:1.8em;font-weight:bold;margin:.2em 0}
.detail{font-size:1.1em;word-break:break-word}
.waiting{background:#3a3f47}.updating{background:#1f4e8c}.completed{background:#1e7b34}
.failed,.not-opened{background:#b3261e}.interrupted{background:#9a6b00}
.bar{height:.6em;background:#0004;border-radius:.3em;overflow:hidden;margin-top:.3em}
.bar div{height:100%;background:#fff}
table{border-collapse:collapse;margin:0 .8em 1em;width:calc(100% - 1.6em);font-size:1em}
td,th{padding:.25em .6em;text-align:left;border-bottom:1px solid #333}
td.completed,td.failed,td.not-opened,td.interrupted{background:none;font-weight:bold}
td.completed{color:#5fd37a}td.failed,td.not-opened{color:#ff6b61}td.interrupted{color:#f0b429}
@media (max-width:600px){#slots{grid-template-columns:1fr}.unit{font-size:1.4em}}
</style></head><body>
<header><h1>tarnix-station</h1>
<span class="counter">completed <b id="completed">0</b></span>
<span class="counter">failed <b id="failed">0</b></span>
<span class="counter"><b id="rate">0</b> per hour</span>
<span class="counter">mean <b id="mean">-</b> s</span>
<span id="link">connecting</span></header>
<div id="slots"></div>
<h2 style="margin:.3em .8em">Last units</h2>
<table><thead><tr><th>Unit</th><th>Slot</th><th>Port</th><th>Outcome</th><th>Reason</th>
<th>Seconds</th><th>End</th></tr></thead><tbody id="last"></tbody></table>
<script>
"use strict";
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
function unitTile(slot, unit, gone) {
  const tile = el("div", "tile " + unit.state);
  tile.dataset.slot = slot.slot;
  tile.dataset.state = gone ? "waiting" : unit.state;
  tile.appendChild(el("h2", "", slot.slot));
  tile.appendChild(el("div", "unit", (gone ? "waiting" : unit.state) +
                      (unit.state === "updating" && unit.percent !== null ? " " + unit.percent + " %" : "")));
  let detail = "unit " + unit.unit + " " + unit.port;
  if (gone) detail = "last: " + detail + " " + unit.state;
  if (unit.state === "updating") detail += ", about " + Math.round(unit.seconds_left) + " s left";
  tile.appendChild(el("div", "detail", detail));
  if (unit.reason) tile.appendChild(el("div", "detail reason", unit.reason));
  if (unit.state === "updating") {
    const bar = el("div", "bar"), fill = el("div");
    fill.style.width = Math.max(0, unit.percent || 0) + "%";
    bar.appendChild(fill); tile.appendChild(bar);
  }
  if (gone) tile.className = "tile waiting";
  return tile;
}
function render(s) {
  const slots = document.getElementById("slots");
  slots.textContent = "";
  for (const slot of s.slots) {
    if (slot.units.length === 0) {
      if (slot.last) { slots.appendChild(unitTile(slot, slot.last, true)); continue; }
      const tile = el("div", "tile waiting");
      tile.dataset.slot = slot.slot; tile.dataset.state = "waiting";
      tile.appendChild(el("h2", "", slot.slot));
      tile.appendChild(el("div", "unit", "waiting"));
      slots.appendChild(tile);
    }
    for (const unit of slot.units) slots.appendChild(unitTile(slot, unit, false));
  }
  const c = s.counters;
  document.getElementById("completed").textContent = c.completed;
  document.getElementById("failed").textContent = c.failed + c.not_opened + c.interrupted;
  document.getElementById("rate").textContent = c.units_per_hour.toFixed(1);
  document.getElementById("mean").textContent = c.mean_seconds === null ? "-" : c.mean_seconds.toFixed(1);
  const last = document.getElementById("last");
  last.textContent = "";
  for (const r of s.last_units) {
    const row = el("tr");
    row.appendChild(el("td", "", r.unit)); row.appendChild(el("td", "", r.slot));
    row.appendChild(el("td", "", r.port)); row.appendChild(el("td", r.outcome, r.outcome));
    row.appendChild(el("td", "", r.reason || "")); row.appendChild(el("td", "", r.seconds.toFixed(1)));
    row.appendChild(el("td", "", r.end));
    last.appendChild(row);
  }
}
let pending = false;
function refresh() {
  if (pending) return;
  pending = true;
  fetch("/status", {cache: "no-store"}).then(r => r.json()).then(s => {
    pending = false; render(s);
  }).catch(() => { pending = false; });
}
const link = document.getElementById("link");
const events = new EventSource("/events");
events.onopen = () => { link.textContent = "live"; refresh(); };
events.onerror = () => { link.textContent = "reconnecting"; };
events.onmessage = () => refresh();
// The state when the page was served: shown before the first event arrives.
const initial = /*STATUS*/null;
if (initial) render(initial);
refresh();
setInterval(refresh, 1000);
</script></body></html>
)PAGE";

const char STATUS_MARK[] = "/*STATUS*/null";

}  // namespace

std::string StationPage(const std::string& statusJson) {
    std::string page = PAGE;
    // Inside a script element nothing may read as "</script>".
    std::string status;
    for (size_t i = 0; i < statusJson.size(); ++i) {
        status += statusJson.compare(i, 2, "</") == 0 ? "<\\" : std::string(1, statusJson[i]);
    }
    page.replace(page.find(STATUS_MARK), sizeof STATUS_MARK - 1, status);
    return page;
}

}  // namespace tarnix
