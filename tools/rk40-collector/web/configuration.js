// Configuration: a terminal's configuration in words page by page, its
// .act file, and an .act file compared with it and written (admin).

import { call, portPath } from './api.js';
import { $, el, busy, download, fillPorts } from './dom.js';

let current = null;   // { port, act, pages }
let upload = '';

// The words of an .act text ("NN XXXX" lines) by address.
export function words(act) {
  const m = new Map();
  for (const line of act.split(/\r?\n/)) {
    const r = /^\s*(\d{1,2})\s+([0-9A-Fa-f]{1,4})/.exec(line);
    if (r) m.set(Number(r[1]), r[2].toUpperCase().padStart(4, '0'));
  }
  return m;
}

function wordDifferences(before, after) {
  const a = words(before), b = words(after), out = [];
  for (const [addr, v] of b) if (a.get(addr) !== v) out.push(`Word ${addr}: ${a.get(addr) ?? 'not read'} becomes ${v}`);
  return out;
}

// The service's text (as termset-cli show prints it: pages apart by a blank
// line, each a title and a table) as pages of a title and its table.
function pagesOf(text) {
  return text.split(/\n\s*\n/).filter((p) => p.trim()).map((p) => {
    const lines = p.replace(/\n+$/, '').split('\n');
    return { title: lines[0], text: lines.slice(1).join('\n') };
  });
}

async function read(port) {
  current = null;
  $('config-download').disabled = true;
  const r = await call(`${portPath(port)}/configuration`);
  current = { port, act: r.act || '', pages: pagesOf(r.text || '') };
  $('config-pages').replaceChildren(...current.pages.map((p) => el('section', { class: 'config-page' },
    el('h3', { text: p.title }),
    el('pre', { text: p.text, tabindex: '0', 'aria-label': `${p.title}, as a table` }))));
  $('config-download').disabled = !current.act;
}

async function differences(port, act) {
  try {
    return (await call(`${portPath(port)}/configuration/differences`, { method: 'POST', body: act, type: 'text/plain' })).differences;
  } catch (e) {
    if (!current || current.port !== port) throw e;
    return wordDifferences(current.act, act);
  }
}

function confirm(text) {
  const dialog = $('confirm');
  $('confirm-text').textContent = text;
  dialog.showModal();
  return new Promise((resolve) => dialog.addEventListener('close', () => resolve(dialog.returnValue === 'yes'), { once: true }));
}

export function showConfiguration(ports) { fillPorts($('config-port'), ports); }

export function setUpConfiguration() {
  const readButton = $('config-pick').querySelector('button');
  $('config-pick').addEventListener('submit', (ev) => {
    ev.preventDefault();
    busy(readButton, $('config-progress'), $('config-error'), () => read($('config-port').value));
  });
  $('config-download').addEventListener('click', () =>
    download(new Blob([current.act], { type: 'text/plain' }), `${current.port.replace(/[^A-Za-z0-9_-]/g, '_')}.act`));
  $('config-upload').addEventListener('submit', (ev) => {
    ev.preventDefault();
    busy($('config-upload').querySelector('button'), null, $('upload-error'), async () => {
      $('config-diff').hidden = true;
      upload = await $('act-file').files[0].text();
      if (!words(upload).size) throw new Error('This is not a configuration file: no line "NN XXXX" in it.');
      const list = await differences($('config-port').value, upload);
      $('config-diff-list').replaceChildren(...(list.length ? list : ['No differences.']).map((t) => el('li', { text: t })));
      $('config-write').textContent = `Write to ${$('config-port').value}`;
      $('config-diff').hidden = false;
    });
  });
  $('config-write').addEventListener('click', async () => {
    const port = $('config-port').value;
    if ($('config-write').disabled || !await confirm(`Write this configuration to the terminal on ${port}? Its present configuration is replaced.`)) return;
    busy($('config-write'), $('write-progress'), $('write-result'), async () => {
      $('write-result').textContent = `Writing to ${port}…`;
      await call(`${portPath(port)}/configuration`, { method: 'PUT', body: upload, type: 'text/plain' });
      $('write-result').textContent = `Written to ${port}.`;
    });
  });
}
