// The page of `tarvok serve`: five views over one model and data pair, all
// talking to the JSON API of the server that sent this file. No library, no
// build step: the highlighting and the chart are drawn here.
"use strict";

const state = {
  model: "", data: "", description: "",
  diagnostics: [], grounding: null, assessment: "",
  solution: null, revision: null, controller: null, checkTimer: null, checkSeq: 0,
};

const $ = (id) => document.getElementById(id);
const el = (tag, attrs = {}, ...children) => {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === "class") node.className = v; else if (k === "text") node.textContent = v; else node.setAttribute(k, v);
  }
  for (const c of children) node.append(c);
  return node;
};

function notice(text) { $("notice").textContent = text || ""; }

async function api(path, body) {
  const reply = await fetch(path, {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
  });
  let answer = {};
  try { answer = await reply.json(); } catch (e) { answer = { error: `the server answered ${reply.status}` }; }
  return { status: reply.status, answer };
}

// ------------------------------------------------------------------ views --

function show(view) {
  for (const b of document.querySelectorAll("#views button")) b.classList.toggle("active", b.dataset.view === view);
  for (const s of document.querySelectorAll(".view")) s.classList.toggle("active", s.id === `view-${view}`);
}

// ------------------------------------------------------------ highlighting --

const KEYWORDS = new Set(["dvar", "dexpr", "tuple", "minimize", "maximize", "subject", "to", "forall", "in",
  "int", "float", "string", "boolean", "range", "sum", "min", "max", "abs", "card", "true", "false"]);
const TOKEN = /(\/\/[^\n]*|\/\*[\s\S]*?(?:\*\/|$))|("(?:[^"\\\n]|\\.)*"?)|((?<![A-Za-z0-9_])(?:[0-9]+(?:\.(?!\.)[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?(?![A-Za-z0-9_]))|([A-Za-z_][A-Za-z0-9_]*)|(==|!=|<=|>=|&&|\|\||\.\.\.|\.\.|[-+*\/=<>!])/g;

/** Each line of `text` as a list of [class, text] pieces. */
function tokenLines(text) {
  const lines = [[]];
  const push = (cls, piece) => {
    const parts = piece.split("\n");
    parts.forEach((p, i) => {
      if (i > 0) lines.push([]);
      if (p) lines[lines.length - 1].push([cls, p]);
    });
  };
  let last = 0;
  for (const m of text.matchAll(TOKEN)) {
    if (m.index > last) push("", text.slice(last, m.index));
    const cls = m[1] ? "tok-com" : m[2] ? "tok-str" : m[3] ? "tok-num" : m[4] ? (KEYWORDS.has(m[4]) ? "tok-kw" : "") : "tok-op";
    push(cls, m[0]);
    last = m.index + m[0].length;
  }
  if (last < text.length) push("", text.slice(last));
  return lines;
}

/** Highlighted lines: diagnostics mark their lines, assumed numbers are marked in the data. */
function renderCode(pre, text, which) {
  const marks = new Map();
  for (const d of state.diagnostics) {
    if (d.file !== which) continue;
    const now = marks.get(d.line);
    if (now !== "error") marks.set(d.line, d.severity === "error" ? "error" : "warning");
  }
  const assumed = new Map();
  if (which === "data" && state.grounding) {
    for (const f of state.grounding.assumptions) {
      if (!assumed.has(f.line)) assumed.set(f.line, new Set());
      assumed.get(f.line).add(f.text);
    }
  }
  pre.replaceChildren();
  tokenLines(text).forEach((pieces, i) => {
    const n = i + 1;
    const line = el("span", { class: `line ${marks.get(n) || ""}`, "data-line": String(n) });
    line.append(el("span", { class: "ln", text: String(n) }));
    for (const [cls, piece] of pieces) {
      const numbered = cls === "tok-num" && assumed.has(n) && assumed.get(n).has(piece);
      const span = el(numbered ? "mark" : "span", { class: numbered ? "assumed tok-num" : cls, text: piece });
      if (numbered) span.title = "not given in the description: the LLM assumed it";
      line.append(span);
    }
    const message = state.diagnostics.find((d) => d.file === which && d.line === n);
    if (message) line.title = `${message.severity}: ${message.message}`;
    pre.append(line, "\n");
  });
}

/** An editor: a transparent text area over its highlighted copy. */
function makeEditor(box, which) {
  const pre = el("pre", { "aria-hidden": "true" });
  const area = el("textarea", { spellcheck: "false", id: `${which}-text`, "aria-label": which });
  box.append(pre, area);
  area.addEventListener("input", () => {
    state[which] = area.value;
    renderCode(pre, area.value, which);
    scheduleCheck();
  });
  area.addEventListener("keydown", (ev) => {
    if (ev.key !== "Tab" || ev.shiftKey) return;
    ev.preventDefault();
    area.setRangeText("  ", area.selectionStart, area.selectionEnd, "end");
    area.dispatchEvent(new Event("input"));
  });
  return {
    set(text) { area.value = text; renderCode(pre, text, which); },
    redraw() { renderCode(pre, area.value, which); },
    focusLine(n) {
      for (const l of pre.querySelectorAll(".line.focus")) l.classList.remove("focus");
      const line = pre.querySelector(`.line[data-line="${n}"]`);
      if (line) { line.classList.add("focus"); line.scrollIntoView({ block: "center" }); }
    },
  };
}

let modelEditor, dataEditor;

function setPair(model, data) {
  state.model = model; state.data = data;
  modelEditor.set(model); dataEditor.set(data);
}

function redrawPair() { modelEditor.redraw(); dataEditor.redraw(); }

// ----------------------------------------------------------------- checks --

function scheduleCheck() {
  clearTimeout(state.checkTimer);
  state.checkTimer = setTimeout(check, 350);
}

async function check() {
  const seq = ++state.checkSeq;
  $("check-status").textContent = "checking"; $("check-status").className = "badge busy";
  const { status, answer } = await api("/api/check", { model: state.model, data: state.data });
  if (seq !== state.checkSeq) return;  // an older check answered late
  if (status !== 200) { $("check-status").textContent = answer.error; $("check-status").className = "badge bad"; return; }
  state.diagnostics = answer.diagnostics;
  $("check-status").textContent = answer.ok ? "compiles" : "does not compile";
  $("check-status").className = `badge ${answer.ok ? "good" : "bad"}`;
  showDiagnostics();
  redrawPair();
}

function showDiagnostics() {
  const list = $("diagnostics");
  list.replaceChildren();
  for (const d of state.diagnostics) {
    const item = el("li", { class: d.severity, text: `${d.file}:${d.line}:${d.column}: ${d.severity}[${d.code}]: ${d.message}` });
    item.addEventListener("click", () => (d.file === "model" ? modelEditor : dataEditor).focusLine(d.line));
    list.append(item);
  }
  if (!state.diagnostics.length) list.append(el("li", { text: "none" }));
}

function showGrounding() {
  const list = $("grounding");
  list.replaceChildren();
  const g = state.grounding;
  if (!g) { list.append(el("li", { text: "(shown for a generated pair)" })); return; }
  for (const f of g.assumptions) list.append(el("li", { class: "assumed", text: `assumed: ${f.shown}` }));
  for (const f of g.conversions) list.append(el("li", { text: `converted: ${f.shown}` }));
  if (!g.assumptions.length && !g.conversions.length) list.append(el("li", { text: "every number comes from the description" }));
}

// -------------------------------------------------------------- generation --

function stepText(e) {
  if (e.text) return e.text;
  if (e.kind === "request") return `asking ${e.provider} ${e.model} (${e.step})`;
  if (e.kind === "reply") return `reply after ${Number(e.seconds).toFixed(1)} s`;
  return e.kind;
}

function addStep(e) {
  const bad = /failed|not_aligned|cancelled/.test(e.kind);
  const good = /^(aligned|execution_passed|complete|done)$/.test(e.kind);
  const item = el("li", { class: bad ? "bad" : good ? "good" : "" }, el("span", { class: "kind", text: e.kind }), stepText(e));
  if (e.errors && e.errors.length) item.append(el("pre", { text: e.errors.join("\n") }));
  if (e.assessment) item.append(el("div", { text: e.assessment }));
  $("steps").append(item);
}

function watchStatus(text, cls) { $("watch-status").textContent = text; $("watch-status").className = `badge ${cls}`; }

/** Reads a stream of server-sent events from a fetch body, frame by frame. */
async function readFrames(reply, onFrame) {
  const reader = reply.body.getReader();
  const decoder = new TextDecoder();
  let buffer = "";
  for (;;) {
    const { value, done } = await reader.read();
    if (done) break;
    buffer += decoder.decode(value, { stream: true });
    let end;
    while ((end = buffer.indexOf("\n\n")) >= 0) {
      const frame = buffer.slice(0, end);
      buffer = buffer.slice(end + 2);
      let event = "message"; const data = [];
      for (const line of frame.split("\n")) {
        if (line.startsWith("event: ")) event = line.slice(7);
        else if (line.startsWith("data: ")) data.push(line.slice(6));
      }
      if (data.length) onFrame(event, JSON.parse(data.join("\n")));
    }
  }
}

async function generate() {
  const description = $("description").value;
  if (!description.trim()) { notice("Describe the problem first."); return; }
  notice("");
  state.description = description;
  const body = { description };
  if (Number($("iterations").value)) body.iterations = Number($("iterations").value);
  if ($("provider").value) body.provider = $("provider").value;
  if ($("llm-model").value.trim()) body.model = $("llm-model").value.trim();
  if ($("execution-check").checked) body.execution_check = true;
  if ($("list-assumptions").checked) body.assumptions = true;
  if ($("what-if").checked) {
    body.what_if = true;
    body.what_if_max = Math.max(0, Math.min(20, Number($("what-if-max").value) || 0));
  }
  $("steps").replaceChildren();
  $("readings").hidden = true;
  show("watch");
  watchStatus("working", "busy");
  $("cancel").disabled = false; $("generate").disabled = true;
  state.controller = new AbortController();
  try {
    const reply = await fetch("/api/generate", {
      method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
      signal: state.controller.signal,
    });
    if (reply.status !== 200) {
      const answer = await reply.json();
      watchStatus("refused", "bad"); notice(answer.error);
      return;
    }
    await readFrames(reply, (event, value) => {
      if (event === "step") addStep(value);
      else if (event === "result") generated(value);
      else if (event === "failed") { watchStatus("failed", "bad"); addStep({ kind: "failed", text: value.error }); notice(value.error); }
      else if (event === "cancelled") { watchStatus("cancelled", "bad"); addStep({ kind: "cancelled", text: value.error }); }
    });
  } catch (e) {
    if (e.name === "AbortError") { watchStatus("cancelled", "bad"); addStep({ kind: "cancelled", text: "stopped from this page" }); }
    else { watchStatus("failed", "bad"); notice(String(e)); }
  } finally {
    $("cancel").disabled = true; $("generate").disabled = false; state.controller = null;
  }
}

function generated(r) {
  state.grounding = r.grounding;
  state.assessment = r.assessment || "";
  state.diagnostics = r.diagnostics || [];
  state.solution = null;
  setPair(r.model, r.data);
  $("assessment").textContent = state.assessment || "(no assessment)";
  showDiagnostics(); showGrounding(); clearSolution();
  const verdict = r.compiled ? (r.aligned === false ? "compiles, not judged aligned" : "compiles") : "does not compile";
  watchStatus(`done: ${verdict}`, r.compiled ? "good" : "bad");
  addStep({ kind: "done", text: `${r.iterations} round(s), ${verdict}` });
  showReadings(r);
  check();
}

// ---------------------------------------------------------------- readings --

/** What a reading answers: its answer (else objective), or its status when it has no optimum. */
function readingAnswer(r) {
  const value = r.answer != null ? r.answer : r.objective;
  if (value == null) return "-";
  return r.answer != null && r.objective != null ? `${number(r.answer)} (objective ${number(r.objective)})` : number(value);
}

/** The assumptions and the what-if table of a generated pair: each alternative can be opened, downloaded
 * or made the pair; those with the main answer are marked "same answer" (the server lists them last). */
function showReadings(r) {
  const shown = r.assumptions != null || r.what_if != null;
  $("readings").hidden = !shown;
  if (!shown) return;
  const list = $("assumptions");
  list.replaceChildren();
  for (const a of r.assumptions || []) {
    const item = el("li", {}, el("span", { class: "kind", text: `[${a.kind}] ` }), a.assumption);
    if (a.where) item.append(el("div", { class: "hint", text: `where: ${a.where}` }));
    if (a.alternative) item.append(el("div", { class: "other", text: `instead: ${a.alternative}` }));
    list.append(item);
  }
  if (!(r.assumptions || []).length) list.append(el("li", { text: r.assumptions_error ? "the LLM gave no list" : "none listed" }));
  const body = $("what-if-table").querySelector("tbody");
  body.replaceChildren();
  const table = r.what_if;
  $("what-if-table").hidden = !table;
  $("what-if-note").textContent = table && table.unexplored ? `${table.unexplored} more not explored (the limit of alternatives)` : "";
  if (!table) return;
  const main = { label: "as modelled", model: r.model, data: r.data, reading: table.main };
  const rows = [main].concat(table.alternatives.map((a) => ({ label: `if instead ${a.alternative}`, model: a.model, data: a.data, reading: a, alt: a })));
  for (const row of rows) {
    const a = row.alt;
    const tr = el("tr", { class: a && a.same_answer ? "same" : "" });
    const status = a && !a.compiled ? "no answer" : row.reading.status || "-";
    const answer = el("td", { class: "num", text: a && !a.compiled ? (a.errors || [])[0] || "does not compile" : readingAnswer(row.reading) });
    if (a && a.same_answer) answer.append(" ", el("span", { class: "same-mark", text: "same answer" }));
    const actions = el("td");
    if (row.model != null) {
      const name = a ? `${$("pair-name").value || "model"}.alt${a.index}` : $("pair-name").value || "model";
      const button = (text, act) => { const b = el("button", { text }); b.addEventListener("click", act); actions.append(b); };
      button("open", () => { setPair(row.model, row.data); clearSolution(); check(); show("read"); notice(`Opened: ${row.label}`); });
      button("download", () => { download(`${name}.mod`, row.model, "text/plain"); download(`${name}.dat`, row.data, "text/plain"); });
      if (a) button("make it the pair", () => {
        r.model = row.model; r.data = row.data;
        setPair(row.model, row.data); clearSolution(); check();
        for (const other of body.querySelectorAll("tr")) other.classList.remove("current");
        tr.classList.add("current");
        notice(`The pair is now: ${row.label}`);
      });
    }
    tr.append(el("td", { text: row.label }), el("td", { text: status }), answer, actions);
    body.append(tr);
  }
  body.firstChild.classList.add("current");
}

// ------------------------------------------------------------------- solve --

function clearSolution() {
  $("solve-status").textContent = "-"; $("objective").textContent = "-";
  for (const id of ["solution-tables", "chart", "infeasible", "sensitivity-tables"]) $(id).replaceChildren();
}

/** The values of one variable as rows [keys..., value], in the order of its columns. */
/** A value's rows: the keys of the objects it is nested in (a variable's set elements, a constraint's forall values). */
function rowsOf(value) {
  const rows = [];
  const walk = (v, keys) => {
    if (v !== null && typeof v === "object") for (const [k, x] of Object.entries(v)) walk(x, keys.concat([k]));
    else rows.push({ keys, value: v });
  };
  walk(value, []);
  return rows;
}

const number = (v) => (typeof v === "number" ? Number(v.toPrecision(10)).toString() : String(v ?? ""));

function sortable(table, rows, columns) {
  let order = { column: -1, descending: false };
  const body = el("tbody");
  const draw = () => {
    body.replaceChildren();
    for (const row of rows.slice(0, 500)) {
      const tr = el("tr", { class: row.value === 0 ? "zero" : "" });
      row.keys.forEach((k) => tr.append(el("td", { text: k })));
      tr.append(el("td", { class: "num", text: number(row.value) }));
      body.append(tr);
    }
    if (rows.length > 500) body.append(el("tr", {}, el("td", { text: `... ${rows.length - 500} more rows in the downloads` })));
  };
  const head = el("tr");
  columns.forEach((c, i) => {
    const th = el("th", { text: c });
    th.addEventListener("click", () => {
      order = { column: i, descending: order.column === i ? !order.descending : false };
      const key = (r) => (i < r.keys.length ? r.keys[i] : r.value);
      rows.sort((a, b) => {
        const x = key(a), y = key(b);
        const cmp = typeof x === "number" && typeof y === "number" ? x - y : String(x).localeCompare(String(y), undefined, { numeric: true });
        return order.descending ? -cmp : cmp;
      });
      for (const h of head.children) h.className = "";
      th.className = order.descending ? "sorted-desc" : "sorted-asc";
      draw();
    });
    head.append(th);
  });
  table.append(el("thead", {}, head), body);
  draw();
}

/** A horizontal bar chart of the largest values of each variable, as inline SVG. */
function drawChart(solution) {
  const bars = [];
  for (const [name, value] of Object.entries(solution.values || {})) {
    const rows = rowsOf(value).filter((r) => typeof r.value === "number" && r.value !== 0);
    rows.sort((a, b) => Math.abs(b.value) - Math.abs(a.value));
    for (const r of rows.slice(0, 8)) bars.push({ label: r.keys.length ? `${name}[${r.keys.join(",")}]` : name, value: r.value });
  }
  const chart = $("chart");
  chart.replaceChildren();
  if (!bars.length) return;
  const ns = "http://www.w3.org/2000/svg";
  const rowHeight = 20, labelWidth = 170, width = 640;
  const svg = document.createElementNS(ns, "svg");
  svg.setAttribute("width", width); svg.setAttribute("height", bars.length * rowHeight + 10);
  svg.setAttribute("role", "img"); svg.setAttribute("aria-label", "largest values per variable");
  const most = Math.max(...bars.map((b) => Math.abs(b.value)));
  bars.forEach((b, i) => {
    const y = 5 + i * rowHeight;
    const label = document.createElementNS(ns, "text");
    label.setAttribute("x", labelWidth - 6); label.setAttribute("y", y + 13); label.setAttribute("text-anchor", "end");
    label.textContent = b.label.length > 26 ? `${b.label.slice(0, 25)}…` : b.label;
    const bar = document.createElementNS(ns, "rect");
    const w = Math.max(1, ((width - labelWidth - 80) * Math.abs(b.value)) / most);
    bar.setAttribute("x", labelWidth); bar.setAttribute("y", y + 2); bar.setAttribute("height", rowHeight - 6);
    bar.setAttribute("width", w); bar.setAttribute("class", b.value < 0 ? "bar negative" : "bar");
    const figure = document.createElementNS(ns, "text");
    figure.setAttribute("x", labelWidth + w + 4); figure.setAttribute("y", y + 13);
    figure.textContent = number(b.value);
    svg.append(label, bar, figure);
  });
  chart.append(svg);
}

function showSolution(s) {
  state.solution = s;
  clearSolution();
  $("solve-status").textContent = s.status;
  $("objective").textContent = s.objective == null ? "-" : number(s.objective);
  for (const c of s.infeasible_constraints || []) {
    const link = el("a", { href: "#", text: `${c.name} (model line ${c.line})` });
    link.addEventListener("click", (ev) => { ev.preventDefault(); show("read"); modelEditor.focusLine(c.line); });
    $("infeasible").append(el("li", {}, `cannot hold together: `, link));
  }
  if (s.message && s.status !== "optimal") $("infeasible").append(el("li", { text: s.message }));
  drawChart(s);
  const tables = $("solution-tables");
  for (const [name, value] of Object.entries(s.values || {})) {
    const rows = rowsOf(value);
    // Nonzeros first, each group in the order of the columns.
    rows.sort((a, b) => (a.value === 0) - (b.value === 0));
    const dims = rows.length ? rows[0].keys.length : 0;
    const columns = Array.from({ length: dims }, (_, i) => `index ${i + 1}`).concat(["value"]);
    const table = el("table", { class: "solution", "data-variable": name });
    tables.append(el("h3", { text: name }), table);
    sortable(table, rows, columns);
  }
  // The sensitivity figures, when asked: one table per kind, a row per constraint or column.
  const figures = [["duals", "Duals", "constraint"], ["slacks", "Slacks", "constraint"], ["reduced_costs", "Reduced costs", "variable"]];
  for (const [key, title, what] of figures) {
    if (!s[key]) continue;
    const rows = Object.entries(s[key]).flatMap(([name, v]) =>
      rowsOf(v).map((r) => ({ keys: [name].concat(r.keys), value: r.value })));
    const dims = Math.max(1, ...rows.map((r) => r.keys.length));
    rows.forEach((r) => { while (r.keys.length < dims) r.keys.push(""); });
    const table = el("table", { class: "sensitivity", "data-figure": key });
    $("sensitivity-tables").append(el("h3", { text: title }), table);
    sortable(table, rows, [what].concat(Array.from({ length: dims - 1 }, (_, i) => `index ${i + 1}`), [title.toLowerCase()]));
  }
}

async function solve() {
  notice("");
  $("solve-status").textContent = "solving";
  const body = { model: state.model, data: state.data, time_limit: Number($("time-limit").value) || 60 };
  if ($("sensitivity").checked) body.sensitivity = "full";
  const { status, answer } = await api("/api/run", body);
  if (status !== 200) {
    clearSolution();
    $("solve-status").textContent = answer.error;
    if (answer.diagnostics) { state.diagnostics = answer.diagnostics; showDiagnostics(); redrawPair(); }
    return;
  }
  showSolution(answer);
}

// ------------------------------------------------------------ ask, revise --

function showDiff(text) {
  const pre = $("diff");
  pre.replaceChildren();
  for (const line of text.split("\n")) {
    const cls = line.startsWith("+++") || line.startsWith("---") ? "" : line.startsWith("+") ? "add" : line.startsWith("-") ? "del" : line.startsWith("@@") ? "hunk" : "";
    pre.append(cls ? el("span", { class: cls, text: line }) : `${line}\n`);
  }
}

async function ask() {
  const question = $("question").value;
  if (!question.trim()) { notice("Ask a question first."); return; }
  notice("");
  $("ask").disabled = true; $("feedback-text").textContent = "asking…";
  state.revision = null; $("apply").disabled = true; showDiff(""); $("revision-status").textContent = "";
  const body = { question, model: state.model, data: state.data };
  if ($("provider").value) body.provider = $("provider").value;
  if ($("llm-model").value.trim()) body.llm_model = $("llm-model").value.trim();
  try {
    const { status, answer } = await api("/api/feedback", body);
    if (status !== 200) { $("feedback-text").textContent = ""; notice(answer.error); return; }
    $("feedback-text").textContent = answer.feedback || "(no feedback text)";
    if (answer.diff !== undefined) {
      state.revision = answer;
      showDiff(answer.diff || "(the revision changes nothing)");
      $("revision-status").textContent = answer.compiles ? "The revision compiles." : "The revision does not compile; it cannot be applied.";
      $("apply").disabled = !answer.compiles || !answer.diff;
    }
  } finally { $("ask").disabled = false; }
}

async function save(model, data, where) {
  const { status, answer } = await api("/api/apply", { name: $("pair-name").value, model, data });
  if (status !== 200) { where.textContent = answer.error; return false; }
  const kept = answer.backup_model_file ? `; the previous files are kept as ${answer.backup_model_file} and ${answer.backup_data_file}` : "";
  where.textContent = `Wrote ${answer.model_file} and ${answer.data_file} in the working folder${kept}.`;
  return true;
}

async function applyRevision() {
  const r = state.revision;
  if (!r) return;
  if (await save(r.revised_model, r.revised_data, $("apply-result"))) {
    setPair(r.revised_model, r.revised_data);
    $("apply").disabled = true;
    check();
  }
}

// ---------------------------------------------------------------- download --

function download(name, text, type) {
  const link = el("a", { href: URL.createObjectURL(new Blob([text], { type })), download: name });
  document.body.append(link); link.click(); link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

async function downloadEmitted(format) {
  const { status, answer } = await api("/api/emit", { model: state.model, data: state.data, format });
  if (status !== 200) { notice(answer.error); return; }
  download(answer.file_name, answer.text, answer.media_type);
}

// A cell a spreadsheet would run (a leading =, +, -, @, tab or CR that is no plain number) is made text by a leading '.
const spreadsheetText = (t) => (/^[=+\-@\t\r]/.test(t) && !/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(t) ? `'${t}` : t);

function solutionCsv(s) {
  const quote = (v) => {
    const t = spreadsheetText(String(v));
    return /[",\r\n]/.test(t) ? `"${t.replace(/"/g, '""')}"` : t;
  };
  const lines = [];
  if (s.objective != null) lines.push(["objective", number(s.objective)].map(quote).join(","));
  for (const [name, value] of Object.entries(s.values || {}))
    for (const r of rowsOf(value)) lines.push([name, ...r.keys, number(r.value)].map(quote).join(","));
  return lines.join("\n") + "\n";
}

function needSolution() {
  if (!state.solution) { notice("Solve the model first."); return false; }
  return true;
}

// ------------------------------------------------------------------ start --

async function loadExamples() {
  const { status, answer } = await api("/api/examples", {});
  if (status !== 200) return;
  state.examples = answer.examples;
  for (const e of answer.examples) $("examples").append(el("option", { value: e.name, text: e.name }));
}

/** The providers the server offers, each marked when no API key is set for it, and its default rounds. */
async function loadProviders() {
  const { status, answer } = await api("/api/providers", {});
  if (status !== 200) return;
  for (const p of answer.providers)
    $("provider").append(el("option", { value: p.name, text: p.key_set ? p.name : `${p.name} (no key set)` }));
  $("iterations").value = answer.iterations;
  const keyed = answer.providers.filter((p) => p.key_set && p.key_variables.length).map((p) => p.name);
  $("provider-keys").textContent = keyed.length ? `Keys are set for: ${keyed.join(", ")}.` : "No API key is set on the server.";
}

function start() {
  modelEditor = makeEditor($("model-editor"), "model");
  dataEditor = makeEditor($("data-editor"), "data");
  for (const b of document.querySelectorAll("#views button")) b.addEventListener("click", () => show(b.dataset.view));
  $("generate").addEventListener("click", generate);
  $("cancel").addEventListener("click", () => state.controller && state.controller.abort());
  $("solve").addEventListener("click", solve);
  $("ask").addEventListener("click", ask);
  $("apply").addEventListener("click", applyRevision);
  $("save").addEventListener("click", () => save(state.model, state.data, $("notice")));
  $("description-file").addEventListener("change", async (ev) => {
    const file = ev.target.files[0];
    if (file) $("description").value = await file.text();
  });
  $("examples").addEventListener("change", () => {
    const e = (state.examples || []).find((x) => x.name === $("examples").value);
    if (!e) return;
    $("description").value = e.description;
    state.grounding = null; state.assessment = "";
    setPair(e.model, e.data);
    $("pair-name").value = e.name;
    showGrounding(); clearSolution(); check();
  });
  $("download-mod").addEventListener("click", () => download(`${$("pair-name").value || "model"}.mod`, state.model, "text/plain"));
  $("download-dat").addEventListener("click", () => download(`${$("pair-name").value || "model"}.dat`, state.data, "text/plain"));
  $("download-py").addEventListener("click", () => downloadEmitted("scipy"));
  $("download-mps").addEventListener("click", () => downloadEmitted("mps"));
  $("download-lp").addEventListener("click", () => downloadEmitted("lp"));
  $("download-csv").addEventListener("click", () => needSolution() && download("solution.csv", solutionCsv(state.solution), "text/csv"));
  $("download-json").addEventListener("click", () => needSolution() && download("solution.json", JSON.stringify(state.solution, null, 1), "application/json"));
  setPair("", "");
  showDiagnostics(); showGrounding();
  loadExamples();
  loadProviders();
}

start();
