// Events: the latest events, growing live from the event stream; filters
// applied by the API; older pages; CSV of the filtered events; the chart.

import { call, cardNames, who } from './api.js';
import { $, el, busy, download, fillPorts } from './dom.js';
import { hourlyCounts, drawChart } from './chart.js';

const PAGE = 50;
const MAX_ROWS = 2000;
const SOURCES = 'T1 T2 T3 T4 S1O S1Z S2O S2Z S3O S3Z S4O S4Z E1 E2 E3 E4'.split(' ');
let stream = null;
let shown = new Set();
let oldest = 0;
let names = {};
let started = false;
let noMore = false;

// The filter as API parameters, from the form.
function filter() {
  const f = new FormData($('event-filter'));
  const p = new URLSearchParams();
  for (const [k, v] of f) if (String(v).trim() !== '') p.set(k, String(v).trim());
  return p;
}

function nameOf(card) {
  if (!card) return '';
  return names[card] || names[card.toUpperCase()] || names.byTail?.get(card.toUpperCase()) || '';
}

function row(e, fresh) {
  return el('tr', { class: fresh ? 'new' : null, 'data-id': e.id },
    el('td', { text: e.event_date ?? '' }), el('td', { text: e.event_time ?? '' }),
    el('td', { class: 'mono', text: e.card ?? e.raw }), el('td', { text: nameOf(e.card) }),
    el('td', { text: e.source ?? '' }), el('td', { text: e.terminal ?? '' }), el('td', { text: e.port ?? '' }));
}

// Whether a streamed event passes the filter in force.
function matches(e, p) {
  const when = `${e.event_date}T${e.event_time}`;
  if (p.get('card') && e.card !== p.get('card')) return false;
  if (p.get('terminal') && String(e.terminal) !== p.get('terminal')) return false;
  if (p.get('source') && e.source !== p.get('source')) return false;
  if (p.get('port') && e.port !== p.get('port')) return false;
  if (p.get('since') && when < p.get('since')) return false;
  if (p.get('until') && when > (p.get('until').length === 10 ? `${p.get('until')}T99` : p.get('until'))) return false;
  return true;
}

function setNoMore(value) {
  noMore = value;
  $('older').disabled = value;
  $('older').textContent = value ? 'No older events' : 'Show older events';
}

let applied = new URLSearchParams();
let chartEvents = [];

async function load() {
  applied = filter();
  const p = new URLSearchParams(applied); p.set('limit', PAGE);
  const r = await call(`events?${p}`);
  shown = new Set();
  $('events-table').tBodies[0].replaceChildren(...r.events.map((e) => { shown.add(e.id); return row(e, false); }));
  oldest = r.events.length ? r.events[r.events.length - 1].id : 0;
  setNoMore(r.events.length < PAGE);
  await loadChart();
}

async function loadChart() {
  const since = new Date(Date.now() - 24 * 3600000);
  const p = new URLSearchParams(applied);
  p.delete('until');
  const pad = (n) => String(n).padStart(2, '0');
  p.set('since', `${since.getFullYear()}-${pad(since.getMonth() + 1)}-${pad(since.getDate())}T${pad(since.getHours())}:00`);
  p.set('limit', 10000);
  try {
    chartEvents = (await call(`events?${p}`)).events;
    drawChart($('chart'), hourlyCounts(chartEvents));
  } catch (e) {
    $('chart').replaceChildren(el('p', { class: 'error', text: `The chart cannot be drawn: ${e.message}` }));
  }
}

async function older() {
  const p = new URLSearchParams(applied); p.set('limit', PAGE); p.set('before_id', oldest);
  const r = await call(`events?${p}`);
  const body = $('events-table').tBodies[0];
  for (const e of r.events) if (!shown.has(e.id)) { shown.add(e.id); body.append(row(e, false)); }
  if (r.events.length) oldest = r.events[r.events.length - 1].id;
  if (r.events.length < PAGE) setNoMore(true);
}

function listen() {
  if (stream && stream.readyState !== EventSource.CLOSED) return;
  stream = new EventSource('api/v1/events/stream');
  stream.onopen = () => { $('live').textContent = 'Live: new events appear at the top.'; };
  stream.onerror = () => {
    $('live').textContent = stream.readyState === EventSource.CLOSED
      ? 'The live stream has stopped; reload the page to start it again.'
      : 'The live stream is interrupted; reconnecting…';
  };
  stream.onmessage = (m) => {
    let e;
    try { e = JSON.parse(m.data); } catch (x) { return; }
    const undated = new URLSearchParams(applied);
    undated.delete('since');
    undated.delete('until');
    if (matches(e, undated)) {
      chartEvents.push(e);
      drawChart($('chart'), hourlyCounts(chartEvents));
    }
    if (shown.has(e.id) || !matches(e, applied)) return;
    shown.add(e.id);
    const body = $('events-table').tBodies[0];
    body.prepend(row(e, true));
    if (body.rows.length > MAX_ROWS) {   // a long day: the oldest rows go, paging back brings them again
      shown.delete(Number(body.lastElementChild.dataset.id));
      body.lastElementChild.remove();
      oldest = Number(body.lastElementChild.dataset.id);
      setNoMore(false);
    }
  };
}

export function stopEvents() {
  if (stream) stream.close();
  stream = null;
  started = false;
}

export async function showEvents(ports) {
  fillPorts($('f-port'), ports, true);
  if (started) return;
  started = true;
  const n = await cardNames();
  names = { ...n, byTail: new Map(Object.entries(n).map(([id, name]) => [id.slice(-8), name])) };
  await busy($('event-filter').querySelector('[type=submit]'), null, $('filter-error'), load);
  if (who()) listen();
}

export function setUpEvents() {
  const source = $('f-source');
  source.append(...SOURCES.map((s) => el('option', { value: s, text: s })));
  $('event-filter').addEventListener('submit', (ev) => {
    ev.preventDefault();
    busy(ev.submitter || $('event-filter').querySelector('[type=submit]'), null, $('filter-error'), load);
  });
  $('event-filter').addEventListener('reset', () => setTimeout(() =>
    busy($('event-filter').querySelector('[type=submit]'), null, $('filter-error'), load)));
  $('older').addEventListener('click', async () => {
    await busy($('older'), null, $('older-error'), older);
    $('older').disabled = noMore;
  });
  $('csv').addEventListener('click', () => busy($('csv'), null, $('filter-error'), async () => {
    const p = filter(); p.set('limit', 10000);
    download(await call(`events?${p}`, { accept: 'text/csv' }), 'events.csv');
  }));
}
