// Terminals: one card per port, refreshed every few seconds; admin
// buttons for status, clock and pause.

import { call, portPath } from './api.js';
import { $, el, busy, isAdmin } from './dom.js';

const REFRESH_MS = 3000;
const cards = new Map();
let timer = null;
let onPorts = () => {};

const when = (iso) => (iso ? new Date(iso).toLocaleString() : '—');

// A clock difference in words: "3 min ahead", "2 days 4 h behind".
export function driftText(minutes) {
  if (minutes === 0) return 'none';
  const m = Math.abs(minutes), days = Math.floor(m / 1440), hours = Math.floor((m % 1440) / 60);
  const size = days ? `${days} days ${hours} h` : hours ? `${hours} h ${m % 60} min` : `${m} min`;
  return `${size} ${minutes > 0 ? 'ahead' : 'behind'}`;
}

function field(dl, key, label) {
  const dd = el('dd', { 'data-field': key });
  dl.append(el('dt', { text: label }), dd);
  return dd;
}

function makeCard(port) {
  const state = el('span', { class: 'state' });
  const id = `t-${port.replace(/[^A-Za-z0-9]/g, '_')}`;
  const dl = el('dl');
  const f = {
    state,
    lastBlock: field(dl, 'last_block_at', 'Last block'),
    today: field(dl, 'events_today', 'Events today'),
    firmware: field(dl, 'firmware', 'Firmware'),
    clock: field(dl, 'clock', 'Clock'),
    drift: field(dl, 'clock_difference_minutes', 'Clock difference'),
    error: field(dl, 'last_error', 'Last error'),
  };
  const out = el('p', { role: 'status', class: 'status' });
  const err = el('p', { role: 'alert', class: 'error' });
  const card = el('li', { class: 'card', 'data-port': port, 'aria-labelledby': `${id}-h` },
    el('h3', { id: `${id}-h` }, el('span', { text: port }), state), dl);
  if (isAdmin()) {
    const minutes = el('input', { id: `${id}-min`, type: 'number', min: 1, max: 60, value: 10 });
    const button = (text, cls, hidden) => el('button', { type: 'button', text, class: cls, hidden, 'aria-label': `${text} ${port}` });
    const status = button('Status');
    const clock = button('Set clock', 'secondary');
    const pause = button('Pause', 'secondary');
    const resume = button('Resume', 'secondary', true);
    f.pause = pause; f.resume = resume;
    const act = (button, work) => button.addEventListener('click', () => busy(button, null, err, async () => {
      out.textContent = 'Working…';
      try { out.textContent = await work(); } finally { if (out.textContent === 'Working…') out.textContent = ''; }
      refresh();
    }));
    act(status, async () => {
      const s = await call(`${portPath(port)}/status`);
      return `Firmware ${s.firmware}, clock ${s.clock} (${s.day_of_week}), ${s.in_buffer} events waiting in the terminal.`;
    });
    act(clock, async () => `Clock set to ${(await call(`${portPath(port)}/clock`, { method: 'POST' })).set_to}.`);
    act(pause, async () => {
      const r = await call(`${portPath(port)}/pause`, { method: 'POST', json: { minutes: Number(minutes.value) } });
      return `Paused until ${when(r.paused_until)}.`;
    });
    act(resume, async () => { await call(`${portPath(port)}/pause`, { method: 'DELETE' }); return 'Collecting again.'; });
    card.append(el('div', { class: 'row' }, status, clock,
      el('span', { class: 'nowrap' }, el('label', { for: minutes.id, text: 'Minutes' }), minutes, pause, resume)));
  }
  card.append(out, err);
  cards.set(port, f);
  return card;
}

function update(t) {
  const f = cards.get(t.port);
  f.state.textContent = t.state;
  f.state.className = `state ${t.state}`;
  f.lastBlock.textContent = when(t.last_block_at);
  f.today.textContent = t.events_today;
  f.firmware.textContent = t.firmware ?? '—';
  f.clock.textContent = t.clock ? `${t.clock}${t.day_of_week ? ` (${t.day_of_week})` : ''}` : '—';
  const d = t.clock_difference_minutes;
  f.drift.replaceChildren(d === null || d === undefined ? '—'
    : el('span', { class: Math.abs(d) > 2 ? 'drift' : null, text: `${driftText(d)}${Math.abs(d) > 2 ? ': set the clock' : ''}` }));
  f.error.textContent = t.last_error ?? 'none';
  if (f.pause) { f.pause.hidden = t.state === 'paused'; f.resume.hidden = t.state !== 'paused'; }
}

export async function refresh() {
  try {
    const { terminals } = await call('terminals');
    const list = $('terminal-cards');
    for (const t of terminals) {
      if (!cards.has(t.port)) list.append(makeCard(t.port));
      update(t);
    }
    $('terminals-error').textContent = '';
    onPorts(terminals.map((t) => t.port));
    return terminals;
  } catch (e) {
    $('terminals-error').textContent = `The terminals cannot be read: ${e.message}`;
    return [];
  }
}

export function watchTerminals(portsChanged) {
  onPorts = portsChanged;
  if (!timer) timer = setInterval(refresh, REFRESH_MS);
  return refresh();
}

export function stopTerminals() {
  clearInterval(timer);
  timer = null;
  cards.clear();
  $('terminal-cards').replaceChildren();
}
