// The live view of a queno_log recording: one event stream of the chosen window's columns (the
// minimum and maximum of each channel per column) and the run's facts, drawn with uPlot. The
// stream reconnects by itself after a sleep or a lost network; each new connection starts with
// the whole window again, so the page catches up.
"use strict";

const palette = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
                 "#bcbd22", "#17becf", "#393b79", "#637939", "#8c6d31", "#843c39", "#7b4173", "#3182bd"];
const view = {
  windowSeconds: 10, layout: "unit", channels: [], columns: [], gaps: [], limits: [], alarms: [], charts: [],
  source: null, ended: false, drawPending: false, draws: 0,
};
const $ = (id) => document.getElementById(id);

function text(id, value) { $(id).textContent = value; }

function elapsed(seconds) {
  const s = Math.floor(seconds);
  const hms = [Math.floor(s / 3600) % 24, Math.floor(s / 60) % 60, s % 60].map((n) => String(n).padStart(2, "0"));
  return (s >= 86400 ? Math.floor(s / 86400) + "d " : "") + hms.join(":");
}

function setState(name, label) {
  const el = $("state");
  el.className = "state " + name;
  el.textContent = label;
}

function showFacts(status) {
  text("title", `queno_log: board ${status.board}, ${status.model} ${status.serial}`);
  text("fact-board", `${status.board} (${status.model})`);
  text("fact-rate", `${status.rate} scans/s`);
  text("fact-elapsed", elapsed(status.elapsed_s));
  text("fact-scans", status.scans_written.toLocaleString("en"));
  text("fact-queue", `${(status.queue_fill * 100).toFixed(1)} %`);
  text("fact-gaps", String(status.gaps));
  text("fact-lost", status.scans_lost.toLocaleString("en"));
  $("fact-mqtt-box").hidden = !status.mqtt;
  if (status.mqtt) text("fact-mqtt", `${status.mqtt.spooled} rows waiting, ${status.mqtt.dropped} dropped`);
}

// The alarms that hold, at the top of the page: which input, its state, since when, its value.
function showAlarms(status) {
  const alarms = status.alarms || [];
  view.alarms = alarms;
  $("alarms").hidden = alarms.length === 0;
  showList("alarm-list", "alarm", alarms.map((alarm) => {
    const when = new Date(alarm.since * 1000).toISOString().replace("T", " ").replace("Z", " UTC");
    const unit = (view.channels.find((c) => c.name === alarm.channel) || {}).unit || "";
    const value = alarm.value === null ? "at a limit of its range" : `${alarm.value} ${unit}`;
    return `${alarm.channel} ${alarm.state} since scan ${alarm.since_scan} (${when}): ${value}`;
  }));
}

function showLatest(status) {
  const table = $("latest");
  if (table.rows.length !== view.channels.length) {
    table.replaceChildren();
    for (const c of view.channels) {
      const row = table.insertRow();
      row.insertCell().textContent = c.name;
      const value = row.insertCell();
      value.className = "value";
      value.id = "latest-" + c.name;
      row.insertCell().textContent = c.unit;
    }
  }
  for (const c of view.channels) {
    const latest = status.latest[c.name];
    const cell = $("latest-" + c.name);
    const limited = latest.value === null;
    cell.textContent = limited ? "at a limit" : latest.value.toFixed(latest.decimals);
    cell.classList.toggle("limit", limited);
  }
}

// A list of texts, or "none".
function showList(id, className, texts) {
  const list = $(id);
  list.replaceChildren();
  for (const text of texts.length ? texts : ["none"]) {
    const item = document.createElement("li");
    item.className = texts.length ? className : "none";
    item.textContent = text;
    list.append(item);
  }
}

function showGaps() {
  showList("gaps", "gap", view.gaps.map((gap) => gap.text));
}

// Stretches at a limit of the range (an open or shorted sensor, an input over range): no
// measurement there, so the chart has a hole; the list says which input and how long.
function showLimits() {
  showList("limits", "limit", view.limits.map((stretch) => {
    const when = new Date(stretch.from * 1000).toISOString().replace("T", " ").replace("Z", " UTC");
    return stretch.to === null
      ? `${stretch.channel} ${stretch.side} since scan ${stretch.from_scan} (${when})`
      : `${stretch.channel} ${stretch.side} from scan ${stretch.from_scan} (${when}), ${stretch.scans} scans`;
  }));
}

// Charts: one per unit (its channels together) or one per channel; each channel is a band from
// its minimum to its maximum, so a spike shorter than a column still shows.
function groups() {
  const byKey = new Map();
  view.channels.forEach((c, i) => {
    const key = view.layout === "unit" ? c.unit : c.name;
    if (!byKey.has(key)) byKey.set(key, { title: view.layout === "unit" ? c.unit : `${c.name} [${c.unit}]`, unit: c.unit, members: [] });
    byKey.get(key).members.push(i);
  });
  return [...byKey.values()];
}

function shade(u, from, to, style) {
  const x0 = u.valToPos(from, "x", true);
  const x1 = Math.max(u.valToPos(to, "x", true), x0 + 3);
  if (x1 < u.bbox.left || x0 > u.bbox.left + u.bbox.width) return;
  u.ctx.fillStyle = style;
  u.ctx.fillRect(x0, u.bbox.top, x1 - x0, u.bbox.height);
}

// Gaps on every chart; a stretch at a limit on the charts of its channel (an open one up to now);
// an alarm that holds on its channel's charts, from the scan it began at, with a line there.
function gapShading(u) {
  const ctx = u.ctx;
  ctx.save();
  for (const gap of view.gaps) shade(u, gap.from, gap.to, "rgba(214, 39, 40, 0.18)");
  const chart = view.charts.find((c) => c.plot === u);
  const names = chart ? chart.members.map((i) => view.channels[i].name) : [];
  const newest = view.columns.length ? view.columns[view.columns.length - 1][0] : 0;
  for (const stretch of view.limits) {
    if (names.includes(stretch.channel)) shade(u, stretch.from, stretch.to === null ? newest : stretch.to, "rgba(255, 127, 14, 0.20)");
  }
  for (const alarm of view.alarms || []) {
    if (!names.includes(alarm.channel)) continue;
    shade(u, alarm.since, Math.max(newest, alarm.since), "rgba(204, 0, 0, 0.10)");
    shade(u, alarm.since, alarm.since, "rgba(204, 0, 0, 0.8)");
  }
  ctx.restore();
}

// A channel is two series (its band's edges) but one name in the legend.
function oneLegendEntryPerChannel(u) {
  u.root.querySelectorAll(".u-legend tr.u-series").forEach((row, i) => {
    if (i % 2 === 1) row.style.display = "none";  // the max of the channel before
  });
}

function buildCharts() {
  for (const chart of view.charts) chart.plot.destroy();
  view.charts = [];
  const host = $("charts");
  host.replaceChildren();
  const width = Math.max(320, host.clientWidth || document.body.clientWidth - 40);
  for (const group of groups()) {
    const series = [{}];
    const bands = [];
    for (const i of group.members) {
      const color = palette[i % palette.length];
      const name = view.channels[i].name;
      series.push({ label: name, stroke: color, width: 1, spanGaps: false });
      series.push({ label: `${name} max`, stroke: color, width: 1, spanGaps: false });
      bands.push({ series: [series.length - 1, series.length - 2], fill: color + "33" });
    }
    const el = document.createElement("div");
    el.className = "chart";
    el.dataset.title = group.title;
    host.append(el);
    const plot = new uPlot({
      title: group.title, width, height: 220, series, bands,
      scales: { x: { time: true } },
      axes: [{}, { label: group.unit, size: 70 }],
      legend: { live: false, markers: { show: true } },
      hooks: { draw: [gapShading], init: [oneLegendEntryPerChannel] },
    }, [[]].concat(series.slice(1).map(() => [])), el);
    view.charts.push({ plot, members: group.members });
  }
}

// The columns as uPlot's arrays, with a break (nulls) at every gap.
function draw() {
  view.drawPending = false;
  view.draws++;  // frames drawn, for the benchmark
  const columns = view.columns;
  const gapStarts = view.gaps.map((g) => g.from).sort((a, b) => a - b);
  for (const chart of view.charts) {
    const xs = [];
    const ys = chart.members.flatMap(() => [[], []]);
    let g = 0;
    for (const column of columns) {
      while (g < gapStarts.length && gapStarts[g] <= column[0]) {
        if (xs.length && gapStarts[g] > xs[xs.length - 1]) {
          xs.push(gapStarts[g]);
          for (const y of ys) y.push(null);
        }
        g++;
      }
      xs.push(column[0]);
      chart.members.forEach((i, k) => {
        ys[2 * k].push(column[1 + 2 * i]);
        ys[2 * k + 1].push(column[2 + 2 * i]);
      });
    }
    chart.plot.setData([xs, ...ys]);
  }
}

function scheduleDraw() {
  if (!view.drawPending) {
    view.drawPending = true;
    requestAnimationFrame(draw);
  }
}

function onView(event) {
  const message = JSON.parse(event.data);
  const status = message.status;
  if (!view.channels.length || view.channels.length !== status.channels.length) {
    view.channels = status.channels;
    buildCharts();
  }
  if (message.reset) view.columns = [];
  for (const column of message.columns) view.columns.push(column);
  const newest = view.columns.length ? view.columns[view.columns.length - 1][0] : 0;
  let drop = 0;
  while (drop < view.columns.length && view.columns[drop][0] < newest - message.window) drop++;
  if (drop) view.columns.splice(0, drop);
  if (message.gaps) {
    view.gaps = message.gaps;
    showGaps();
  }
  if (message.limits) {
    view.limits = message.limits;
    showLimits();
  }
  showFacts(status);
  showAlarms(status);
  showLatest(status);
  scheduleDraw();
  if (status.ended) {
    view.ended = true;
    setState("ended", "recording ended");
    view.source.close();
  } else {
    setState("recording", "recording");
  }
}

function connect() {
  if (view.source) view.source.close();
  view.source = new EventSource(`/events?window=${view.windowSeconds}`);
  view.source.addEventListener("view", onView);
  view.source.onerror = () => {
    if (view.ended) return;
    // EventSource tries again by itself; a closed one (an HTTP error) is opened anew.
    setState("lost", "connection lost, reconnecting");
    if (view.source.readyState === EventSource.CLOSED) setTimeout(connect, 2000);
  };
}

$("window").addEventListener("change", (e) => {
  view.windowSeconds = Number(e.target.value);
  view.columns = [];
  if (!view.ended) connect();
});
$("layout").addEventListener("change", (e) => {
  view.layout = e.target.value;
  buildCharts();
  scheduleDraw();
});
window.addEventListener("resize", () => {
  buildCharts();
  scheduleDraw();
});
document.addEventListener("visibilitychange", () => {
  if (!document.hidden && !view.ended && view.source && view.source.readyState === EventSource.CLOSED) connect();
});
connect();
