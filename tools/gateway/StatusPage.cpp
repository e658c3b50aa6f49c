#include "tools/gateway/StatusPage.h"

namespace vesk::gateway {

namespace {

const char kHtml[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>VeskGSM gateway</title>
<link rel="stylesheet" href="/status.css">
<script src="/status.js" defer></script>
</head>
<body>
<header>
  <h1>VeskGSM gateway <span id="gateway"></span></h1>
  <p id="updated" class="muted">loading...</p>
</header>
<form id="login" hidden>
  <label for="token">API token</label>
  <input id="token" type="password" autocomplete="off" required>
  <button type="submit">Show</button>
  <p id="login-error" class="error"></p>
</form>
<main id="status" hidden>
  <section>
    <h2>Modems</h2>
    <table id="modems">
      <thead><tr><th>Modem</th><th>Gateway</th><th>State</th><th>Signal</th><th>Registration</th>
      <th>Operator</th><th>Health</th><th>Queued</th><th>Sent, last hour</th></tr></thead>
      <tbody></tbody>
    </table>
  </section>
  <section>
    <h2>Queue</h2>
    <ul id="queue" class="chips"></ul>
  </section>
  <section>
    <h2>The last hour</h2>
    <div id="chart" role="img" aria-label="messages per minute in the last hour"></div>
    <p class="legend"><span class="key sent"></span> sent <span class="key received"></span> received
    <span class="key failed"></span> failed</p>
  </section>
  <section>
    <h2>Last errors</h2>
    <table id="errors">
      <thead><tr><th>When</th><th>What</th><th>Modem</th><th>Message</th><th>Text</th></tr></thead>
      <tbody></tbody>
    </table>
  </section>
</main>
</body>
</html>
)";

const char kCss[] = R"([hidden] { display: none !important; }
:root { --ok: #1b7f3b; --degraded: #b26a00; --down: #b3261e; --line: #d8dce3; }
body { font: 14px/1.4 system-ui, sans-serif; margin: 0 auto; max-width: 1100px; padding: 1em; color: #1d2330; }
h1 { font-size: 1.4em; margin: 0; } h2 { font-size: 1.1em; margin: 1.4em 0 .4em; }
.muted { color: #667; margin: .2em 0 0; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: .35em .6em; border-bottom: 1px solid var(--line); }
th { font-weight: 600; background: #f4f6f9; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.badge { display: inline-block; padding: .05em .6em; border-radius: 1em; color: #fff; font-size: .9em; }
.badge.ok, .badge.connected { background: var(--ok); }
.badge.degraded { background: var(--degraded); }
.badge.down, .badge.disconnected { background: var(--down); }
.bars { display: inline-flex; gap: 2px; align-items: flex-end; height: 14px; vertical-align: middle; }
.bars i { width: 4px; background: #c5cad3; }
.bars i.on { background: #2a62c9; }
.chips { list-style: none; padding: 0; display: flex; flex-wrap: wrap; gap: .5em; }
.chips li { border: 1px solid var(--line); border-radius: .4em; padding: .3em .7em; }
.chips b { font-variant-numeric: tabular-nums; }
#chart svg { width: 100%; height: 140px; border: 1px solid var(--line); }
.key { display: inline-block; width: .9em; height: .9em; vertical-align: middle; margin-left: .8em; }
.key.sent, rect.sent { background: #2a62c9; fill: #2a62c9; }
.key.received, rect.received { background: #1b7f3b; fill: #1b7f3b; }
.key.failed, rect.failed { background: #b3261e; fill: #b3261e; }
form { margin: 2em 0; display: flex; gap: .6em; align-items: center; flex-wrap: wrap; }
input { font: inherit; padding: .3em .5em; min-width: 22em; }
button { font: inherit; padding: .3em 1em; }
.error { color: var(--down); width: 100%; margin: 0; }
)";

const char kJs[] = R"(// The gateway's status page: /v1/status every five seconds.
"use strict";
(function () {
  var KEY = "veskgsm-token";
  var timer = null;

  function $(id) { return document.getElementById(id); }
  function el(tag, text, cls) {
    var e = document.createElement(tag);
    if (text !== undefined && text !== null) e.textContent = String(text);
    if (cls) e.className = cls;
    return e;
  }
  function token() { return sessionStorage.getItem(KEY) || ""; }

  // A token in the address (#token=...) is taken once and removed from it.
  var m = /(?:^#|&)token=([^&]+)/.exec(location.hash);
  if (m) {
    sessionStorage.setItem(KEY, decodeURIComponent(m[1]));
    history.replaceState(null, "", location.pathname + location.search);
  }

  function askToken(message) {
    $("status").hidden = true;
    $("login").hidden = false;
    $("login-error").textContent = message || "";
    $("updated").textContent = "the API needs its token";
    document.body.setAttribute("data-state", "login");
  }

  $("login").addEventListener("submit", function (ev) {
    ev.preventDefault();
    sessionStorage.setItem(KEY, $("token").value.trim());
    $("token").value = "";
    refresh();
  });

  function bars(signal) {
    var s = el("span", null, "bars");
    var level = signal === null || signal === 99 ? 0 : Math.min(4, Math.ceil(signal / 8));
    for (var i = 1; i <= 4; i++) {
      var b = el("i", null, i <= level ? "on" : "");
      b.style.height = (3 * i + 2) + "px";
      s.appendChild(b);
    }
    s.title = signal === null ? "not known" : String(signal);
    return s;
  }

  function renderModems(modems) {
    var body = $("modems").tBodies[0];
    body.textContent = "";
    modems.forEach(function (mo) {
      var tr = el("tr");
      tr.setAttribute("data-modem", mo.name);
      tr.appendChild(el("td", mo.name, "name"));
      tr.appendChild(el("td", mo.gateway));
      var state = el("td");
      state.appendChild(el("span", mo.connected ? "connected" : "disconnected",
                           "badge " + (mo.connected ? "connected" : "disconnected")));
      tr.appendChild(state);
      var sig = el("td");
      sig.appendChild(bars(mo.signal));
      sig.appendChild(document.createTextNode(" " + (mo.signal === null ? "?" : mo.signal)));
      tr.appendChild(sig);
      tr.appendChild(el("td", mo.registration || "not known"));
      tr.appendChild(el("td", mo.operator || ""));
      var health = el("td");
      var badge = el("span", mo.health, "badge " + mo.health);
      if (mo.health_reason) badge.title = mo.health_reason;
      health.appendChild(badge);
      if (mo.health_reason) health.appendChild(el("div", mo.health_reason, "muted"));
      tr.appendChild(health);
      tr.appendChild(el("td", mo.queued, "num"));
      tr.appendChild(el("td", mo.sent_last_hour, "num"));
      body.appendChild(tr);
    });
    if (!modems.length) {
      var tr = el("tr");
      var td = el("td", "no modem has reported to the store yet");
      td.colSpan = 9;
      tr.appendChild(td);
      body.appendChild(tr);
    }
  }

  function renderQueue(queue) {
    var ul = $("queue");
    ul.textContent = "";
    var order = ["queued", "sending", "sent", "delivered", "failed", "expired", "uncertain"];
    Object.keys(queue).sort(function (a, b) { return order.indexOf(a) - order.indexOf(b); }).forEach(function (state) {
      var li = el("li", state + " ");
      li.setAttribute("data-state", state);
      li.appendChild(el("b", queue[state]));
      ul.appendChild(li);
    });
  }

  function renderChart(hour) {
    var NS = "http://www.w3.org/2000/svg";
    var svg = document.createElementNS(NS, "svg");
    svg.setAttribute("viewBox", "0 0 600 140");
    svg.setAttribute("preserveAspectRatio", "none");
    var top = 1;
    for (var i = 0; i < 60; i++) top = Math.max(top, hour.sent[i] + hour.received[i] + hour.failed[i]);
    for (var j = 0; j < 60; j++) {
      var y = 140;
      [["sent", hour.sent[j]], ["received", hour.received[j]], ["failed", hour.failed[j]]].forEach(function (p) {
        if (!p[1]) return;
        var h = 130 * p[1] / top;
        y -= h;
        var r = document.createElementNS(NS, "rect");
        r.setAttribute("x", j * 10 + 1);
        r.setAttribute("y", y);
        r.setAttribute("width", 8);
        r.setAttribute("height", h);
        r.setAttribute("class", p[0]);
        var t = document.createElementNS(NS, "title");
        t.textContent = p[1] + " " + p[0];
        r.appendChild(t);
        svg.appendChild(r);
      });
    }
    var chart = $("chart");
    chart.textContent = "";
    chart.appendChild(svg);
  }

  function renderErrors(errors) {
    var body = $("errors").tBodies[0];
    body.textContent = "";
    errors.forEach(function (e) {
      var tr = el("tr");
      tr.appendChild(el("td", e.at.replace("T", " ").replace(/\.\d+Z$/, "Z")));
      tr.appendChild(el("td", e.kind));
      tr.appendChild(el("td", e.modem || ""));
      tr.appendChild(el("td", e.message === null ? "" : "#" + e.message));
      tr.appendChild(el("td", e.text));
      body.appendChild(tr);
    });
    if (!errors.length) {
      var tr = el("tr");
      var td = el("td", "none");
      td.colSpan = 5;
      tr.appendChild(td);
      body.appendChild(tr);
    }
  }

  function schedule() {
    clearTimeout(timer);
    timer = setTimeout(refresh, 5000);
  }

  function refresh() {
    var headers = {};
    if (token()) headers.Authorization = "Bearer " + token();
    fetch("/v1/status", { headers: headers, cache: "no-store" }).then(function (res) {
      if (res.status === 401) {
        askToken(token() ? "that token is not this gateway's" : "");
        return null;
      }
      if (!res.ok) throw new Error("the gateway answered " + res.status);
      return res.json();
    }).then(function (s) {
      if (!s) return;
      $("login").hidden = true;
      $("status").hidden = false;
      $("gateway").textContent = s.gateway;
      $("updated").textContent = "as of " + s.time.replace("T", " ").replace(/\.\d+Z$/, " UTC") +
        "; refreshed every 5 s";
      renderModems(s.modems);
      renderQueue(s.queue);
      renderChart(s.last_hour);
      renderErrors(s.errors);
      document.body.setAttribute("data-state", "shown");
      schedule();
    }).catch(function (err) {
      $("updated").textContent = "cannot reach the gateway (" + err.message + "); trying again";
      document.body.setAttribute("data-state", "error");
      schedule();
    });
  }

  refresh();
})();
)";

}  // namespace

StatusPageFile StatusPage(const std::string& path) {
  if (path == "/status.css") return {"text/css; charset=utf-8", kCss};
  if (path == "/status.js") return {"text/javascript; charset=utf-8", kJs};
  return {"text/html; charset=utf-8", kHtml};
}

}  // namespace vesk::gateway
