// Keys: a terminal's key table with names, add and remove, and a key file
// imported, compared with the table and applied to chosen terminals.

import { call, cardNames, portPath } from './api.js';
import { $, el, busy, isAdmin, fillPorts } from './dom.js';

let table = null;         // { port, keys: [{id, access}] } last read
let importText = '';
let names = {};

// Rows of a CSV text (RFC 4180: quotes, doubled quotes, CR LF).
export function parseCsv(text) {
  const rows = [];
  let row = [], cell = '', quoted = false;
  for (let i = 0; i < text.length; i += 1) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') { cell += '"'; i += 1; } else if (c === '"') quoted = false; else cell += c;
    } else if (c === '"') quoted = true;
    else if (c === ',') { row.push(cell); cell = ''; } else if (c === '\n' || c === '\r') {
      if (c === '\r' && text[i + 1] === '\n') i += 1;
      row.push(cell); rows.push(row); row = []; cell = '';
    } else cell += c;
  }
  if (cell !== '' || row.length) { row.push(cell); rows.push(row); }
  return rows.filter((r) => r.some((c) => c.trim() !== ''));
}

// The keys of a key file, or an Error naming the line that is wrong.
export function keysOf(text) {
  const rows = parseCsv(text.replace(/^\uFEFF/, ''));
  const head = (rows[0] || []).map((c) => c.trim().toLowerCase()).join(',');
  if (head !== 'id,access,name') throw new Error('line 1: the header must be id,access,name');
  const keys = new Map();
  rows.slice(1).forEach((r, i) => {
    const id = (r[0] || '').trim().toUpperCase(), access = Number((r[1] || '').trim());
    if (r.length !== 3) throw new Error(`line ${i + 2}: three fields are wanted`);
    if (!/^[0-9A-F]{14}$/.test(id)) throw new Error(`line ${i + 2}: the id must be 14 hexadecimal digits`);
    if (!Number.isInteger(access) || access < 0 || access > 255) throw new Error(`line ${i + 2}: access must be 0..255`);
    if (keys.has(id)) throw new Error(`line ${i + 2}: ${id} is given twice`);
    keys.set(id, { id, access, name: r[2].trim() });
  });
  return keys;
}

export function difference(current, wanted) {
  const now = new Map(current.map((k) => [k.id, k]));
  const d = { added: [], removed: [], changed: [] };
  for (const [id, k] of wanted) {
    if (!now.has(id)) d.added.push(k);
    else if (now.get(id).access !== k.access) d.changed.push({ ...k, was: now.get(id).access });
  }
  for (const k of current) if (!wanted.has(k.id)) d.removed.push(k);
  return d;
}

const label = (k) => `${k.id}${names[k.id] || k.name ? ` (${names[k.id] || k.name})` : ''}`;

function render() {
  $('keys-caption').textContent = `Key table of ${table.port}: ${table.keys.length} keys`;
  const none = el('tr', {}, el('td', { colspan: 4, class: 'empty', text: 'No keys in this terminal.' }));
  $('keys-table').tBodies[0].replaceChildren(...(table.keys.length ? [] : [none]), ...table.keys.map((k) => {
    const cells = [el('td', { class: 'mono', text: k.id }), el('td', { text: k.access }), el('td', { text: names[k.id] || '' })];
    if (isAdmin()) {
      const b = el('button', { type: 'button', class: 'secondary', text: 'Remove', 'aria-label': `Remove ${label(k)}` });
      b.addEventListener('click', () => busy(b, $('keys-progress'), $('keys-error'), async () => {
        await call(`${portPath(table.port)}/keys/${k.id}`, { method: 'DELETE' });
        await read(table.port);
      }));
      cells.push(el('td', {}, b));
    }
    return el('tr', {}, ...cells);
  }));
}

async function read(port) {
  const r = await call(`${portPath(port)}/keys`);
  table = { port, keys: r.keys };
  render();
}

function showDiff(d) {
  const list = (title, items, text) => el('section', {}, el('h5', { text: `${title}: ${items.length}` }),
    el('ul', {}, ...items.map((k) => el('li', { class: 'mono', text: text(k) }))));
  $('diff-lists').replaceChildren(
    list('Added', d.added, (k) => `${label(k)}, access ${k.access}`),
    list('Removed', d.removed, (k) => `${label(k)}, access ${k.access}`),
    list('Changed', d.changed, (k) => `${label(k)}, access ${k.was} → ${k.access}`));
  const ports = [...$('keys-port').options].map((o) => o.value);
  $('apply-targets').replaceChildren(el('legend', { text: 'Apply to' }), ...ports.map((p, i) => {
    const box = el('input', { type: 'checkbox', id: `apply-${i}`, value: p, checked: p === table.port });
    return el('label', { for: box.id }, box, ` ${p}`);
  }));
  $('apply-results').replaceChildren();
  $('import-diff').hidden = false;
}

function outcome(port, r) {
  const parts = [`added ${r.added}`, `removed ${r.removed}`, `changed ${r.changed}`];
  const refused = (r.refused || []).map((x) => `${x.change}: ${x.error}`);
  const problems = [r.error, ...refused, r.audit_error].filter(Boolean);
  return el('li', { class: problems.length ? 'failed' : 'ok', text: `${port}: ${parts.join(', ')}${problems.length ? `; ${problems.join('; ')}` : ''}` });
}

async function apply() {
  const targets = [...$('apply-targets').querySelectorAll('input:checked')].map((b) => b.value);
  if (!targets.length) throw new Error('Choose at least one terminal.');
  const results = $('apply-results');
  results.replaceChildren();
  for (const port of targets) {
    const li = el('li', { text: `${port}: applying…` });
    results.append(li);
    try {
      li.replaceWith(outcome(port, await call(`${portPath(port)}/keys`, { method: 'PUT', body: importText, type: 'text/csv' })));
    } catch (e) {
      li.replaceWith(el('li', { class: 'failed', text: `${port}: ${e.message}` }));
    }
  }
  if (targets.includes(table.port)) await read(table.port);
}

export async function showKeys(ports) {
  fillPorts($('keys-port'), ports);
  names = await cardNames();
}

export function setUpKeys() {
  const readButton = $('keys-pick').querySelector('button');
  $('keys-pick').addEventListener('submit', (ev) => {
    ev.preventDefault();
    busy(readButton, $('keys-progress'), $('keys-error'), () => read($('keys-port').value));
  });
  $('key-add').addEventListener('submit', (ev) => {
    ev.preventDefault();
    const b = $('key-add').querySelector('button');
    busy(b, $('keys-progress'), $('key-add-error'), async () => {
      const port = $('keys-port').value;
      await call(`${portPath(port)}/keys`, { method: 'POST', json: { id: $('key-id').value.trim(), access: Number($('key-access').value) } });
      $('key-id').value = '';
      await read(port);
    });
  });
  $('key-import').addEventListener('submit', (ev) => {
    ev.preventDefault();
    busy($('key-import').querySelector('button'), $('keys-progress'), $('import-error'), async () => {
      $('import-diff').hidden = true;
      importText = await $('key-file').files[0].text();
      const wanted = keysOf(importText);
      if (!table || table.port !== $('keys-port').value) await read($('keys-port').value);
      showDiff(difference(table.keys, wanted));
    });
  });
  $('apply').addEventListener('click', () => busy($('apply'), $('apply-progress'), $('import-error'), apply));
}
