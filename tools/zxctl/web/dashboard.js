// The dashboard page: reads /api/ (the records of zxctl --json), follows the
// samples of /api/events, and sends changes with the run's token.
'use strict';

const HISTORY = 600;  // ten minutes of one-second samples
const token = (() => {
  const fromUrl = new URLSearchParams(location.search).get('token');
  if (fromUrl) {
    sessionStorage.setItem('zx-token', fromUrl);
    history.replaceState(null, '', '/');  // keep the token out of the address bar
  }
  return sessionStorage.getItem('zx-token') || '';
})();

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

function showMessage(text, isError) {
  const m = $('#message');
  m.hidden = false;
  m.textContent = text;
  m.className = 'message' + (isError ? ' error' : '');
  m.setAttribute('role', isError ? 'alert' : 'status');
}

async function api(path, body) {
  const init = body === undefined ? {} : {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', 'X-ZX-Token': token },
    body: JSON.stringify(body),
  };
  const res = await fetch('/api/' + path, init);
  let data = {};
  try { data = await res.json(); } catch (e) { data = { error: `HTTP ${res.status}` }; }
  return { ok: res.ok, data };
}

// Reports a change's answer; the card's state it carries is shown at once.
function report(answer) {
  const d = answer.data;
  if (answer.ok) showMessage(d.done || 'Done.', false);
  else showMessage(`Refused: ${d.error}${d.what ? ' — ' + d.what : ''}`, true);
  if (d.status) renderControls(d.status);
}

async function change(body) {
  report(await api('set', body));
}
async function reset(gpu, what) {
  const answer = await api('reset', { gpu, what });
  if (answer.ok) answer.data.done = `GPU ${gpu}: ${answer.data.results.map((r) => `${r.step} ${r.status === 'ok' ? 'back to default' : 'skipped (' + r.status + ')'}`).join(', ')}`;
  report(answer);
}

// ---- Machine --------------------------------------------------------------

function renderInfo(info) {
  const desc = Array.isArray(info.descriptions) ? info.descriptions : [];
  $('#card-name').textContent = desc[0] || 'ZXDisplayLib dashboard';
  document.title = `${desc[0] || 'Cards'} — ZXDisplayLib dashboard`;
  $('#machine-line').textContent = info.simulated ? `Simulated machine ${info.simulated}` : 'This machine';
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

const gpus = new Map();  // index -> { section, charts, now }

const CHARTS = [
  { id: 'temp', title: 'Temperature, °C', series: [['temperature_c', 'Temperature', '#c0392b']] },
  { id: 'percent', title: 'Usage and fan, %', series: [['usage_percent', 'Usage', '#8e44ad'], ['fan_percent', 'Fan', '#16a085']], max: 100 },
  { id: 'clocks', title: 'Clocks in force, MHz', series: [['gpu_mhz', 'GPU', '#0b62a8'], ['memory_mhz', 'Memory', '#d35400'], ['shader_mhz', 'Shader', '#7f8c8d']] },
  { id: 'level', title: 'Performance level', series: [['current_level', 'Level', '#2c3e50']], stepped: true },
];
const NOW = [
  ['temperature_c', 'Temperature', ' °C'], ['usage_percent', 'Usage', ' %'], ['current_level', 'Performance level', ''],
  ['gpu_mhz', 'GPU clock', ' MHz'], ['memory_mhz', 'Memory clock', ' MHz'], ['shader_mhz', 'Shader clock', ' MHz'],
  ['voltage', 'GPU voltage', ''], ['fan_percent', 'Fan', ' %'],
];

function gpuSection(index) {
  if (gpus.has(index)) return gpus.get(index);
  const section = el('section', { id: `gpu-${index}`, 'aria-labelledby': `gpu-${index}-heading` },
    el('h2', { id: `gpu-${index}-heading`, text: `GPU ${index}` }),
    el('dl', { class: 'now', 'aria-label': `GPU ${index} now` }),
    el('div', { class: 'charts' }),
    el('div', { class: 'controls' }));
  $('#gpus').append(section);
  const charts = {};
  for (const c of CHARTS) {
    const canvas = el('canvas', { role: 'img', 'aria-label': `GPU ${index} ${c.title} over the last ten minutes` });
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
  const g = { section, charts };
  gpus.set(index, g);
  return g;
}

function addSample(s) {
  const g = gpuSection(s.gpu);
  const label = String(s.time).slice(11, 19);
  for (const { chart, fig, layout } of Object.values(g.charts)) {
    if (!chart) continue;
    chart.data.labels.push(label);
    layout.series.forEach(([key, name], i) => {
      const ds = chart.data.datasets[i];
      ds.data.push(s[key] === undefined ? null : s[key]);
      ds.label = s[key] === null ? `${name} — not available (${reason(s, key)})` : name;
    });
    if (chart.data.labels.length > HISTORY) {
      chart.data.labels.shift();
      chart.data.datasets.forEach((ds) => ds.data.shift());
    }
    fig.dataset.points = String(chart.data.labels.length);
  }
  g.last = s;
}

function renderNow(s) {
  const dl = $('.now', gpuSection(s.gpu).section);
  dl.replaceChildren(...NOW.map(([key, name, unit]) => el('div', {},
    el('dt', { text: name }), el('dd', { class: s[key] === null ? 'na' : '' }, reading(s, key, unit)))));
}

function redrawCharts() {
  for (const g of gpus.values()) for (const { chart } of Object.values(g.charts)) if (chart) chart.update('none');
}

// A number field that sends its value when changed (Enter or leaving it).
function numberField(id, label, value, range, send) {
  const input = el('input', { type: 'number', id, 'aria-label': label, value: String(value),
    min: range ? range.min : 0, max: range ? range.max : 255, step: range ? range.step || 1 : 1,
    disabled: !token, inputmode: 'numeric' });
  input.addEventListener('change', () => {
    const v = Number(input.value);
    if (input.value === '' || !Number.isInteger(v) || v < 0) {
      showMessage(`${label}: enter a whole number${range ? ' from ' + rangeText(range) : ''}`, true);
      return;
    }
    send(v);
  });
  return input;
}

function resetButton(gpu, what, text) {
  return el('button', { type: 'button', disabled: !token, onclick: () => reset(gpu, what), text });
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
      const r = c.ranges[l];
      return el('td', {},
        numberField(`gpu${gpu}-${what}-${l}`, `GPU ${gpu} ${label.replace(', MHz', '')}, level ${l}, MHz`, c.mhz[l], r,
          (v) => change({ what, gpu, level: l, value: v })),
        el('small', { text: `default ${Array.isArray(c.default_mhz) ? c.default_mhz[l] : 'n/a'}${r ? ' · ' + rangeText(r) : ''}` }));
    });
    return el('tr', { 'data-setting': what }, el('th', { scope: 'row', text: label }), ...cells,
      el('td', {}, Array.isArray(c.mhz) ? resetButton(gpu, what, `Reset ${plural}`) : null));
  });
  const v = st.voltage;
  const vcells = Array.from({ length: n }, (_, l) => {
    if (!Array.isArray(v.levels)) return el('td', {}, reading(v, 'levels'));
    if (l >= v.levels.length) return el('td', { class: 'na', text: '–' });
    return el('td', {},
      numberField(`gpu${gpu}-voltage-${l}`, `GPU ${gpu} GPU voltage, level ${l}`, v.levels[l], v.range,
        (x) => change({ what: 'voltage', gpu, level: l, value: x })),
      el('small', { text: `default ${Array.isArray(v.defaults) ? v.defaults[l] : 'n/a'}${v.range ? ' · ' + rangeText(v.range) : ''}` }));
  });
  rows.push(el('tr', { 'data-setting': 'voltage' }, el('th', { scope: 'row', text: 'GPU voltage' }), ...vcells,
    el('td', {}, Array.isArray(v.levels) ? resetButton(gpu, 'voltage', 'Reset GPU voltage') : null)));
  const levels = el('table', { class: 'levels', id: `gpu${gpu}-levels` },
    el('caption', { text: `GPU ${gpu} performance levels` }), el('thead', {}, head), el('tbody', {}, ...rows));

  // Regulator levels and the GPU voltage now.
  const reg = (what, label, obj, resetText) => {
    const avail = obj.level !== null && obj.level !== undefined;
    return el('tr', { 'data-setting': what }, el('th', { scope: 'row', text: label }),
      el('td', {}, avail ? numberField(`gpu${gpu}-${what}`, `GPU ${gpu} ${label}`, obj.level, obj.range,
        (x) => change({ what, gpu, value: x })) : reading(obj, 'level')),
      el('td', {}, 'default' in obj ? reading(obj, 'default') : el('span', { class: 'na', text: '–' })),
      el('td', {}, 'range' in obj ? (obj.range ? document.createTextNode(rangeText(obj.range)) : reading(obj, 'range'))
        : el('span', { class: 'na', text: '–' })),
      el('td', {}, resetText && avail ? resetButton(gpu, what, resetText) : null));
  };
  const regulator = el('table', { class: 'regulator', id: `gpu${gpu}-regulator` },
    el('caption', { text: `GPU ${gpu} voltage regulator` }),
    el('thead', {}, el('tr', {}, ...['Setting', 'Current', 'Default', 'Range', ''].map((t) => el('th', { scope: 'col', text: t })))),
    el('tbody', {},
      el('tr', {}, el('th', { scope: 'row', text: 'GPU voltage now' }), el('td', {}, reading(v, 'current')),
        el('td', {}, reading(v, 'default_2d'), el('small', { text: '2D default' })),
        el('td', {}, v.range ? document.createTextNode(rangeText(v.range)) : reading(v, 'range')),
        el('td', {}, v.current_vid_level !== null ? el('small', { text: `VID level ${v.current_vid_level}` }) : null)),
      reg('memory-voltage', 'Memory voltage level', st.memory_voltage, 'Reset memory voltage level'),
      reg('pwm', 'PWM clock level', st.pwm, 'Reset PWM clock level'),
      reg('dac', 'DAC level', st.dac, null)));

  const f = st.fan;
  const fanInput = f.percent !== null
    ? numberField(`gpu${gpu}-fan`, `GPU ${gpu} fan speed, %`, f.percent, f.range, () => {}) : null;
  const fan = el('div', { class: 'fan', role: 'group', 'aria-labelledby': `gpu${gpu}-fan-label` },
    el('label', { id: `gpu${gpu}-fan-label`, for: `gpu${gpu}-fan`, text: 'Fan, %' }),
    fanInput || reading(f, 'percent'),
    fanInput ? el('button', { type: 'button', disabled: !token, text: 'Set fan',
      onclick: () => change({ what: 'fan', gpu, value: Number(fanInput.value) }) }) : null,
    el('button', { type: 'button', disabled: !token, text: 'Automatic (driver)',
      onclick: () => change({ what: 'fan', gpu, value: 'auto' }) }),
    el('span', { class: 'muted', text: f.range ? `range ${rangeText(f.range)}` : '' }));
  if (fanInput) fanInput.addEventListener('keydown', (e) => { if (e.key === 'Enter') change({ what: 'fan', gpu, value: Number(fanInput.value) }); });

  $('.controls', g.section).replaceChildren(
    el('h3', { text: 'Performance levels' }), el('div', { class: 'scroll' }, levels),
    el('h3', { text: 'Regulator' }), el('div', { class: 'scroll' }, regulator),
    el('h3', { text: 'Fan' }), fan);
}

// ---- Start ------------------------------------------------------------------

async function refreshStatus() {
  const a = document.activeElement;
  if (a && a.tagName === 'INPUT' && a.type === 'number') return;  // not while someone is typing
  const { ok, data } = await api('status');
  if (ok) data.gpus.forEach(renderControls);
}

async function start() {
  if (!token) $('#readonly').hidden = false;
  $('#lock-switch').disabled = !token;
  $('#lock-switch').addEventListener('change', async (e) => {
    const answer = await api('lock', { hold: e.target.checked });
    if (answer.ok) {
      renderLock(answer.data);
      showMessage(answer.data.lock === 'held by this process' ? 'The card lock is held by this dashboard.' : 'The card lock was given back.', false);
    } else {
      showMessage(`Refused: ${answer.data.error}${answer.data.what ? ' — ' + answer.data.what : ''}`, true);
      renderLock((await api('lock')).data);
    }
  });
  const [info, status, lock, samples] = await Promise.all(['info', 'status', 'lock', 'samples'].map((p) => api(p)));
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
  setInterval(refreshStatus, 10000);
}

window.addEventListener('DOMContentLoaded', () => {
  start().catch((e) => showMessage(`Cannot load the dashboard: ${e}`, true));
});
