// The dashboard page: reads /api/ (the records of zxctl --json), follows the
// samples of /api/events, and sends changes with the session cookie that the
// printed URL's one-time code is exchanged for.
'use strict';

const HISTORY = 3600;  // an hour of one-second samples
const RANGES = [[60, '1 min'], [600, '10 min'], [3600, '60 min']];
let writable = false;  // this page may change the card (it has a live session)
let range = Number(localStorage.getItem('zx-range')) || 600;
let paused = false;
let hotC = Number(localStorage.getItem('zx-hot')) || 80;  // a temperature from here on reads as hot
let onlyGpu = localStorage.getItem('zx-gpu') || 'all';
const lastSet = JSON.parse(sessionStorage.getItem('zx-last-set') || '{}');  // what the card cannot report

// The printed URL's one-time code, for a session cookie; the code leaves the
// address bar (and is spent) before anything else happens.
async function openSession() {
  const code = new URLSearchParams(location.search).get('code');
  if (code) {
    history.replaceState(null, '', '/');
    await fetch('/api/session', { method: 'POST', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ code }) });
  }
  const res = await fetch('/api/session');
  return res.ok && (await res.json()).session === true;
}

const $ = (sel, root = document) => root.querySelector(sel);
function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'text') e.textContent = v;
    else if (k === 'class') e.className = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v === true ? '' : v);
  }
  for (const c of children) if (c !== null && c !== undefined) e.append(c);
  return e;
}

// A reading: the value, or "not available (reason)" from the record's
// "unavailable" object; never 0 for what the card does not offer.
function reason(obj, key) {
  return (obj && obj.unavailable && obj.unavailable[key]) || 'no value';
}
function reading(obj, key, unit = '') {
  const v = obj ? obj[key] : null;
  if (v === null || v === undefined) return el('span', { class: 'na', text: `not available (${reason(obj, key)})` });
  return document.createTextNode(`${v}${unit}`);
}
const rangeText = (r) => (r ? `${r.min}–${r.max}` + (r.step > 1 ? ` step ${r.step}` : '') : '');

// The message toast, fixed in the viewport wherever the page is scrolled.
let messageTimer = 0;
function showMessage(text, isError) {
  const m = $('#message');
  m.hidden = false;
  m.textContent = text;
  m.className = 'message' + (isError ? ' error' : '');
  m.setAttribute('role', isError ? 'alert' : 'status');
  clearTimeout(messageTimer);
  messageTimer = setTimeout(() => { m.hidden = true; }, isError ? 12000 : 5000);
}

async function api(path, body) {
  const init = body === undefined ? {} : {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
  };
  let res;
  try { res = await fetch('/api/' + path, init); } catch (e) {
    return { ok: false, lost: true, data: { error: 'no answer', what: 'zxctl serve cannot be reached' } };
  }
  let data = {};
  try { data = await res.json(); } catch (e) { data = { error: `HTTP ${res.status}` }; }
  if (res.status === 403 && body !== undefined && /session/.test(data.what || '')) sessionEnded();
  return { ok: res.ok, data };
}

// A session the server no longer knows (it was restarted): say so, and stop
// offering changes that would all be refused.
function sessionEnded() {
  if (!writable) return;
  writable = false;
  const n = $('#readonly');
  n.hidden = false;
  n.textContent = 'The dashboard session ended (zxctl serve was stopped or restarted). Open the new URL that zxctl serve printed to make changes.';
  document.querySelectorAll('main input, main button, main select.write, #lock-switch').forEach((e) => { e.disabled = true; });
}

// Reports a change's answer; the card's state it carries is shown at once,
// which also puts a refused value back.
function report(answer) {
  const d = answer.data;
  if (answer.ok) showMessage(d.done || 'Done.', false);
  else showMessage(`Refused: ${d.error}${d.what ? ' — ' + d.what : ''}`, true);
  if (d.status) renderControls(d.status);
}

async function change(body) {
  if (body.what === 'voltage' && !window.confirm(`Set the GPU voltage${body.level !== undefined ? ' of level ' + body.level : ''} of GPU ${body.gpu} to ${body.value} mV?`)) {
    refreshStatus(true);
    return;
  }
  const answer = await api('set', body);
  if (answer.ok && body.level === undefined) {
    lastSet[`${body.gpu}-${body.what}`] = body.value;
    sessionStorage.setItem('zx-last-set', JSON.stringify(lastSet));
  }
  report(answer);
}
async function reset(gpu, what) {
  const answer = await api('reset', { gpu, what });
  if (answer.ok) answer.data.done = `GPU ${gpu}: ${answer.data.results.map((r) => `${r.step} ${r.status === 'ok' ? 'back to default' : 'skipped (' + r.status + ')'}`).join(', ')}`;
  report(answer);
}

// ---- Machine --------------------------------------------------------------

let machineLine = '';
function renderInfo(info) {
  const desc = Array.isArray(info.descriptions) ? info.descriptions : [];
  $('#card-name').textContent = desc[0] || 'ZXDisplayLib dashboard';
  document.title = `${desc[0] || 'Cards'} — ZXDisplayLib dashboard`;
  machineLine = info.simulated ? `Simulated machine ${info.simulated}` : 'This machine';
  $('#machine-line').textContent = machineLine;
  const facts = $('#machine-info');
  facts.replaceChildren();
  const fact = (name, value) => facts.append(el('dt', { text: name }), el('dd', {}, value));
  fact('Library', document.createTextNode(`ZXDisplayLib ${info.library.version}`));
  fact('Backend', document.createTextNode(info.backend));
  fact('GPUs', reading(info, 'gpu_count'));
  fact('Control modes', Array.isArray(info.control_modes)
    ? document.createTextNode(info.control_modes.join(', ') || 'none') : reading(info, 'control_modes'));
  fact('Card description', Array.isArray(info.descriptions)
    ? el('span', {}, ...desc.flatMap((d, i) => (i ? [el('br'), d] : [d]))) : reading(info, 'descriptions'));
  const body = $('#adapters tbody');
  body.replaceChildren(...info.adapters.map((a) => el('tr', {},
    ...[a.index, a.kind, a.vendor_id, a.device_id, a.subsystem_id, a.subsystem_vendor_id, a.card_id]
      .map((v) => el('td', { text: String(v) })))));
}

function renderLock(rec) {
  const state = rec.lock || `not available (${reason(rec, 'lock')})`;
  const badge = $('#lock-state');
  badge.textContent = `lock: ${state}`;
  badge.className = 'badge' + (state === 'held by this process' ? ' here' : state === 'held by another process' ? ' other' : '');
  const sw = $('#lock-switch');
  sw.checked = state === 'held by this process';
  sw.setAttribute('aria-checked', String(sw.checked));
}

// ---- Per GPU: readings now, charts, controls --------------------------------

const gpus = new Map();  // index -> { section, charts, samples, last, extremes }

const CHARTS = [
  { id: 'temp', title: 'Temperature, °C', series: [['temperature_c', 'Temperature', '#c0392b']] },
  { id: 'percent', title: 'Usage and fan, %', series: [['usage_percent', 'Usage', '#8e44ad'], ['fan_percent', 'Fan', '#16a085']], max: 100 },
  { id: 'clocks', title: 'Clocks in force, MHz', series: [['gpu_mhz', 'GPU', '#0b62a8'], ['memory_mhz', 'Memory', '#d35400'], ['shader_mhz', 'Shader', '#7f8c8d']] },
  { id: 'level', title: 'Performance level', series: [['current_level', 'Level', '#5d7a99']], stepped: true },
];
const NOW = [
  ['temperature_c', 'Temperature', ' °C'], ['usage_percent', 'Usage', ' %'], ['current_level', 'Performance level', ''],
  ['gpu_mhz', 'GPU clock', ' MHz'], ['memory_mhz', 'Memory clock', ' MHz'], ['shader_mhz', 'Shader clock', ' MHz'],
  ['voltage', 'GPU voltage', ' mV'], ['fan_percent', 'Fan', ' %'],
];
const CSV_KEYS = ['time', 'gpu', ...NOW.map(([k]) => k)];

function gpuSection(index) {
  if (gpus.has(index)) return gpus.get(index);
  const section = el('section', { id: `gpu-${index}`, class: 'gpu', 'aria-labelledby': `gpu-${index}-heading` },
    el('h2', { id: `gpu-${index}-heading`, text: `GPU ${index}` }),
    el('dl', { class: 'now', 'aria-label': `GPU ${index} now` }),
    el('div', { class: 'chart-tools' },
      el('button', { type: 'button', text: 'Download CSV', onclick: () => downloadCsv(index) })),
    el('div', { class: 'charts' }),
    el('div', { class: 'controls' }));
  $('#gpus').append(section);
  const charts = {};
  for (const c of CHARTS) {
    const canvas = el('canvas', { role: 'img', 'aria-label': `GPU ${index} ${c.title} over the chosen time range` });
    const fig = el('figure', { class: `chart chart-${c.id}`, 'data-points': '0' },
      el('figcaption', { text: c.title }), el('div', { class: 'chart-box' }, canvas));
    $('.charts', section).append(fig);
    const chart = window.Chart ? new window.Chart(canvas, {
      type: 'line',
      data: { labels: [], datasets: c.series.map(([, label, color]) => ({
        label, data: [], borderColor: color, backgroundColor: color, pointRadius: 0, borderWidth: 2,
        stepped: c.stepped, spanGaps: false })) },
      options: { animation: false, responsive: true, maintainAspectRatio: false, normalized: true,
        interaction: { mode: 'index', intersect: false },
        scales: { x: { ticks: { maxTicksLimit: 6, maxRotation: 0 } },
                  y: { beginAtZero: c.id !== 'clocks', suggestedMax: c.max, ticks: c.stepped ? { stepSize: 1 } : {} } },
        plugins: { legend: { labels: { boxWidth: 12 } } } },
    }) : null;
    charts[c.id] = { chart, fig, layout: c };
  }
  const g = { section, charts, samples: [], extremes: {} };
  gpus.set(index, g);
  showGpus();
  return g;
}

function addSample(s) {
  const g = gpuSection(s.gpu);
  g.samples.push(s);
  if (g.samples.length > HISTORY) g.samples.shift();
  for (const [key] of NOW) {
    const v = s[key];
    if (typeof v !== 'number') continue;
    const e = g.extremes[key] || (g.extremes[key] = { min: v, max: v });
    e.min = Math.min(e.min, v);
    e.max = Math.max(e.max, v);
  }
  g.last = s;
  g.stale = true;
}

// The charts show the chosen range of what was sampled; paused, they keep
// what they show.
function drawCharts(g) {
  const shown = g.samples.slice(-range);
  for (const { chart, fig, layout } of Object.values(g.charts)) {
    fig.dataset.points = String(shown.length);
    if (!chart) continue;
    chart.data.labels = shown.map((s) => String(s.time).slice(11, 19));
    layout.series.forEach(([key, name], i) => {
      chart.data.datasets[i].data = shown.map((s) => (s[key] === undefined ? null : s[key]));
      const last = shown[shown.length - 1];
      chart.data.datasets[i].label = last && last[key] === null ? `${name} — not available (${reason(last, key)})` : name;
    });
    chart.update('none');
  }
  g.stale = false;
}

function renderNow(s) {
  const g = gpuSection(s.gpu);
  const dl = $('.now', g.section);
  dl.replaceChildren(...NOW.map(([key, name, unit]) => {
    const e = g.extremes[key];
    const hot = key === 'temperature_c' && typeof s[key] === 'number' && s[key] >= hotC;
    return el('div', { class: hot ? 'hot' : '' },
      el('dt', { text: name }),
      el('dd', { class: s[key] === null ? 'na' : '' }, reading(s, key, unit), hot ? el('span', { class: 'tag', text: ' hot' }) : null),
      e ? el('dd', { class: 'extremes', text: `min ${e.min}${unit} · max ${e.max}${unit}` }) : null);
  }));
}

function redrawCharts() {
  if (paused) return;
  for (const g of gpus.values()) if (g.stale || g.rangeChanged) { g.rangeChanged = false; drawCharts(g); }
}

function downloadCsv(index) {
  const g = gpus.get(index);
  const shown = g.samples.slice(-range);
  const rows = [CSV_KEYS.join(','), ...shown.map((s) => CSV_KEYS.map((k) => (s[k] === null || s[k] === undefined ? '' : String(s[k]))).join(','))];
  const url = URL.createObjectURL(new Blob([rows.join('\n') + '\n'], { type: 'text/csv' }));
  const a = el('a', { href: url, download: `gpu${index}-samples.csv` });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 1000);
}

// One GPU, or all of them (side by side where the screen is wide).
function showGpus() {
  const select = $('#gpu-select');
  const wanted = ['all', ...[...gpus.keys()].map(String)];
  if (select.options.length !== wanted.length) {
    select.replaceChildren(...wanted.map((v) => el('option', { value: v, text: v === 'all' ? 'All GPUs' : `GPU ${v}` })));
  }
  if (!wanted.includes(onlyGpu)) onlyGpu = 'all';
  select.value = onlyGpu;
  for (const [i, g] of gpus) g.section.hidden = onlyGpu !== 'all' && onlyGpu !== String(i);
  $('#gpus').classList.toggle('several', onlyGpu === 'all' && gpus.size > 1);
}

// A whole number in a field, or null (an empty field is no number).
function wholeNumber(input) {
  const v = Number(input.value);
  return input.value.trim() === '' || !Number.isInteger(v) || v < 0 ? null : v;
}

// A number field that sends its value when changed (Enter or leaving it); a
// value that is no whole number is put back at once.
function numberField(id, label, value, range, send) {
  const input = el('input', { type: 'number', id, 'aria-label': label, value: value === null ? '' : String(value),
    min: range ? range.min : 0, max: range ? range.max : 255, step: range ? range.step || 1 : 1,
    disabled: !writable, inputmode: 'numeric' });
  input.addEventListener('change', () => {
    const v = wholeNumber(input);
    if (v === null) {
      showMessage(`${label}: enter a whole number${range ? ' from ' + rangeText(range) : ''}`, true);
      input.value = value === null ? '' : String(value);
      return;
    }
    send(v);
  });
  return input;
}

// A level's field with its default, marked when it differs.
function levelCell(id, label, value, def, range, unit, send) {
  const changed = value !== null && def !== undefined && def !== null && value !== def;
  return el('td', { class: changed ? 'changed' : '' },
    numberField(id, label, value, range, send),
    el('small', { text: `${changed ? 'changed · ' : ''}default ${def ?? 'n/a'}${unit}${range ? ' · ' + rangeText(range) + unit : ''}` }));
}

function resetButton(gpu, what, text) {
  return el('button', { type: 'button', disabled: !writable, onclick: () => reset(gpu, what), text });
}

const CLOCK_ROWS = [
  ['gpu', 'gpu-clock', 'GPU clock, MHz', 'GPU clocks'],
  ['memory', 'memory-clock', 'Memory clock, MHz', 'memory clocks'],
  ['shader', 'shader-clock', 'Shader clock, MHz', 'shader clocks'],
];

function renderControls(st) {
  const g = gpuSection(st.gpu);
  const gpu = st.gpu;
  const n = Math.max(0, ...CLOCK_ROWS.map(([k]) => (st.clocks[k].mhz || st.clocks[k].default_mhz || []).length),
    (st.voltage.levels || []).length);
  const head = el('tr', {}, el('th', { scope: 'col', text: 'Setting' }),
    ...Array.from({ length: n }, (_, l) => el('th', { scope: 'col', text: `Level ${l}` })),
    el('th', { scope: 'col', text: 'Defaults' }));
  const rows = CLOCK_ROWS.map(([key, what, label, plural]) => {
    const c = st.clocks[key];
    const cells = Array.from({ length: n }, (_, l) => {
      if (!Array.isArray(c.mhz)) return el('td', {}, reading(c, 'mhz'));
      if (l >= c.mhz.length) return el('td', { class: 'na', text: '–' });
      return levelCell(`gpu${gpu}-${what}-${l}`, `GPU ${gpu} ${label.replace(', MHz', '')}, level ${l}, MHz`, c.mhz[l],
        Array.isArray(c.default_mhz) ? c.default_mhz[l] : null, c.ranges[l], ' MHz',
        (v) => change({ what, gpu, level: l, value: v }));
    });
    return el('tr', { 'data-setting': what }, el('th', { scope: 'row', text: label }), ...cells,
      el('td', {}, Array.isArray(c.mhz) ? resetButton(gpu, what, `Reset ${plural}`) : null));
  });
  const v = st.voltage;
  const vcells = Array.from({ length: n }, (_, l) => {
    if (!Array.isArray(v.levels)) return el('td', {}, reading(v, 'levels'));
    if (l >= v.levels.length) return el('td', { class: 'na', text: '–' });
    // 0 mV is a voltage the card does not know yet (a kind-2 card's until first set).
    const known = v.levels[l] !== 0;
    const td = levelCell(`gpu${gpu}-voltage-${l}`, `GPU ${gpu} GPU voltage, level ${l}, mV`, known ? v.levels[l] : null,
      Array.isArray(v.defaults) ? v.defaults[l] : null, v.range, ' mV',
      (x) => change({ what: 'voltage', gpu, level: v.levels.length > 1 ? l : undefined, value: x }));
    if (!known) td.append(el('small', { class: 'na', text: `not available (${reason(v, 'current')})` }));
    return td;
  });
  rows.push(el('tr', { 'data-setting': 'voltage' }, el('th', { scope: 'row', text: 'GPU voltage, mV' }), ...vcells,
    el('td', {}, Array.isArray(v.levels) ? resetButton(gpu, 'voltage', 'Reset GPU voltage') : null)));
  const levels = el('table', { class: 'levels', id: `gpu${gpu}-levels` },
    el('caption', { text: `GPU ${gpu} performance levels` }), el('thead', {}, head), el('tbody', {}, ...rows));

  // Regulator levels and the GPU voltage now.
  // A level the card takes but cannot report gets a field too, holding the
  // last value this page set, said so.
  const reg = (what, label, obj, resetText) => {
    const avail = obj.level !== null && obj.level !== undefined;
    const settable = avail || (obj.range !== null && obj.range !== undefined);
    const last = lastSet[`${gpu}-${what}`];
    const changed = avail && obj.default !== undefined && obj.default !== null && obj.level !== obj.default;
    return el('tr', { 'data-setting': what }, el('th', { scope: 'row', text: label }),
      el('td', { class: changed ? 'changed' : '' }, settable ? numberField(`gpu${gpu}-${what}`, `GPU ${gpu} ${label}`,
        avail ? obj.level : (last ?? null), obj.range, (x) => change({ what, gpu, value: x })) : reading(obj, 'level'),
      settable && !avail ? el('small', { text: last !== undefined ? `last value set here; the card does not report it (${reason(obj, 'level')})`
        : `the card does not report it (${reason(obj, 'level')})` }) : null,
      changed ? el('small', { text: 'changed' }) : null),
      el('td', {}, 'default' in obj ? reading(obj, 'default') : el('span', { class: 'na', text: '–' })),
      el('td', {}, 'range' in obj ? (obj.range ? document.createTextNode(rangeText(obj.range)) : reading(obj, 'range'))
        : el('span', { class: 'na', text: '–' })),
      el('td', {}, resetText && settable ? resetButton(gpu, what, resetText) : null));
  };
  const regulator = el('table', { class: 'regulator', id: `gpu${gpu}-regulator` },
    el('caption', { text: `GPU ${gpu} voltage regulator` }),
    el('thead', {}, el('tr', {}, ...['Setting', 'Current', 'Default', 'Range', ''].map((t) => el('th', { scope: 'col', text: t })))),
    el('tbody', {},
      el('tr', {}, el('th', { scope: 'row', text: 'GPU voltage now, mV' }), el('td', {}, reading(v, 'current', ' mV')),
        el('td', {}, reading(v, 'default_2d', ' mV'), el('small', { text: '2D default' })),
        el('td', {}, v.range ? document.createTextNode(rangeText(v.range) + ' mV') : reading(v, 'range')),
        el('td', {}, v.current_vid_level !== null ? el('small', { text: `VID level ${v.current_vid_level}` }) : null)),
      reg('memory-voltage', 'Memory voltage level', st.memory_voltage, 'Reset memory voltage level'),
      reg('pwm', 'PWM clock level', st.pwm, 'Reset PWM clock level'),
      reg('dac', 'DAC level', st.dac, null)));

  const f = st.fan;
  const fanInput = f.percent !== null
    ? numberField(`gpu${gpu}-fan`, `GPU ${gpu} fan speed, %`, f.percent, f.range, () => {}) : null;
  const setFan = () => {
    const value = wholeNumber(fanInput);
    if (value === null) {
      showMessage(`GPU ${gpu} fan speed: enter a whole number${f.range ? ' from ' + rangeText(f.range) : ''}`, true);
      fanInput.value = String(f.percent);
      return;
    }
    change({ what: 'fan', gpu, value });
  };
  const fan = el('div', { class: 'fan', role: 'group', 'aria-labelledby': `gpu${gpu}-fan-label` },
    el('label', { id: `gpu${gpu}-fan-label`, for: `gpu${gpu}-fan`, text: 'Fan, %' }),
    fanInput || reading(f, 'percent'),
    fanInput ? el('button', { type: 'button', disabled: !writable, text: 'Set fan',
      onclick: setFan }) : null,
    el('button', { type: 'button', disabled: !writable, text: 'Automatic (driver)',
      onclick: () => change({ what: 'fan', gpu, value: 'auto' }) }),
    el('span', { class: 'muted', text: f.range ? `range ${rangeText(f.range)}` : '' }));
  if (fanInput) fanInput.addEventListener('keydown', (e) => { if (e.key === 'Enter') setFan(); });

  $('.controls', g.section).replaceChildren(
    el('h3', { text: 'Performance levels' }), el('div', { class: 'scroll' }, levels),
    el('h3', { text: 'Regulator' }), el('div', { class: 'scroll' }, regulator),
    el('h3', { text: 'Fan' }), fan);
}

// ---- Start ------------------------------------------------------------------

// Every ten seconds: the card's state, and whether the session still holds.
// A server that is gone is said so once, quietly, until it answers again.
async function refreshStatus(force) {
  if (writable) {
    const session = await api('session');
    if (session.ok && session.data.session === false) sessionEnded();
  }
  const a = document.activeElement;
  if (!force && a && a.tagName === 'INPUT' && a.type === 'number') return;  // not while someone is typing
  const { ok, lost, data } = await api('status');
  $('#machine-line').classList.toggle('lost', Boolean(lost));
  $('#machine-line').textContent = lost ? 'zxctl serve cannot be reached; the readings are from before.' : machineLine;
  if (ok) data.gpus.forEach(renderControls);
}

function setUpTools() {
  const rangeSelect = $('#range');
  rangeSelect.replaceChildren(...RANGES.map(([n, text]) => el('option', { value: String(n), text })));
  rangeSelect.value = String(range);
  rangeSelect.addEventListener('change', () => {
    range = Number(rangeSelect.value);
    localStorage.setItem('zx-range', String(range));
    for (const g of gpus.values()) g.rangeChanged = true;
    redrawCharts();
  });
  $('#pause').addEventListener('change', (e) => { paused = e.target.checked; redrawCharts(); });
  const hot = $('#hot');
  hot.value = String(hotC);
  hot.addEventListener('change', () => {
    const v = wholeNumber(hot);
    if (v === null) { hot.value = String(hotC); return; }
    hotC = v;
    localStorage.setItem('zx-hot', String(v));
    for (const g of gpus.values()) if (g.last) renderNow(g.last);
  });
  $('#gpu-select').addEventListener('change', (e) => {
    onlyGpu = e.target.value;
    localStorage.setItem('zx-gpu', onlyGpu);
    showGpus();
  });
}

async function start() {
  if (window.Chart && window.matchMedia('(prefers-color-scheme: dark)').matches) {
    window.Chart.defaults.color = '#c5ced8';
    window.Chart.defaults.borderColor = '#38414b';
  }
  writable = await openSession().catch(() => false);
  if (!writable) $('#readonly').hidden = false;
  setUpTools();
  $('#lock-switch').disabled = !writable;
  $('#lock-switch').addEventListener('change', async (e) => {
    const answer = await api('lock', { hold: e.target.checked });
    if (answer.ok) {
      renderLock(answer.data);
      showMessage(answer.data.lock === 'held by this process' ? 'The card lock is held by this dashboard.' : 'The card lock was given back.', false);
    } else {
      showMessage(`Refused: ${answer.data.error}${answer.data.what ? ' — ' + answer.data.what : ''}`, true);
      const now = await api('lock');
      if (now.ok) renderLock(now.data);
    }
  });
  const [info, status, lock, samples] = await Promise.all(['info', 'status', 'lock', 'samples'].map((p) => api(p)));
  if (!info.ok) throw new Error(info.data.what || info.data.error);
  renderInfo(info.data);
  renderLock(lock.data);
  status.data.gpus.forEach((st) => { gpuSection(st.gpu); renderControls(st); });
  for (const s of samples.data.samples) addSample(s);
  for (const g of gpus.values()) if (g.last) renderNow(g.last);
  redrawCharts();

  const events = new EventSource('/api/events');
  events.addEventListener('sample', (e) => { const s = JSON.parse(e.data); addSample(s); renderNow(s); });
  events.addEventListener('lock', (e) => { renderLock(JSON.parse(e.data)); redrawCharts(); });
  events.addEventListener('open', () => { $('#machine-line').classList.remove('lost'); });
  events.addEventListener('error', () => showMessage('Connection to zxctl serve lost; retrying…', true));
  setInterval(() => { refreshStatus(false).catch(() => {}); }, 10000);
}

window.addEventListener('DOMContentLoaded', () => {
  start().catch((e) => showMessage(`Cannot load the dashboard: ${e.message || e}`, true));
});
