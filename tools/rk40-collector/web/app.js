// The page: log in and out, the views by the address's #fragment, and
// what the role offers.

import { logIn, logOut, who, forget, whenLoggedOut, forgetNames } from './api.js';
import { $, busy } from './dom.js';
import { setUpEvents, showEvents, stopEvents } from './events.js';
import { watchTerminals, stopTerminals } from './terminals.js';
import { setUpKeys, showKeys } from './keys.js';
import { setUpConfiguration, showConfiguration } from './configuration.js';

const VIEWS = { events: showEvents, terminals: () => {}, keys: showKeys, configuration: showConfiguration };
let ports = [];

function signedIn(w) {
  document.body.dataset.role = w.role;
  $('who-text').textContent = `${w.user} (${w.role})`;
  $('nav').hidden = false;
  $('who').hidden = false;
  for (const e of document.querySelectorAll('.admin')) e.hidden = w.role !== 'admin';
}

function showLogin(message = '') {
  stopEvents();
  stopTerminals();
  forget();
  forgetNames();
  delete document.body.dataset.role;
  $('nav').hidden = true;
  $('who').hidden = true;
  for (const s of document.querySelectorAll('main > section')) s.hidden = s.id !== 'login-view';
  $('login-error').textContent = message;
  $('login-user').focus();
}

async function route() {
  const w = who();
  if (!w) return showLogin();
  signedIn(w);
  const name = location.hash.slice(1) in VIEWS ? location.hash.slice(1) : 'events';
  for (const s of document.querySelectorAll('main > section')) s.hidden = s.id !== `${name}-view`;
  for (const a of document.querySelectorAll('#nav a')) {
    if (a.hash === `#${name}`) a.setAttribute('aria-current', 'page'); else a.removeAttribute('aria-current');
  }
  document.title = `${name[0].toUpperCase()}${name.slice(1)} – RK-40 site`;
  if (!ports.length) ports = (await watchTerminals((p) => { ports = p; })).map((t) => t.port);
  await VIEWS[name](ports);
}

$('login-form').addEventListener('submit', (ev) => {
  ev.preventDefault();
  busy($('login-form').querySelector('button'), null, $('login-error'), async () => {
    await logIn($('login-user').value.trim(), $('login-password').value);
    $('login-password').value = '';
    await route();
    $('main').focus();
  });
});
$('logout').addEventListener('click', () => busy($('logout'), null, null, async () => {
  try { await logOut(); } finally { ports = []; showLogin(); }
}));
whenLoggedOut(() => { ports = []; showLogin('Your session has ended; log in again.'); });
window.addEventListener('hashchange', () => { route(); $('main').focus(); });

setUpEvents();
setUpKeys();
setUpConfiguration();
route();
