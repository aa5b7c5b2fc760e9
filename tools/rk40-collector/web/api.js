// The service's HTTP API: the session (cookie and CSRF token), and every
// call's failure turned into an Error whose message is the service's words.

const base = 'api/v1/';
let csrf = sessionStorage.getItem('csrf') || '';
let onLoggedOut = () => {};

export function whenLoggedOut(handler) { onLoggedOut = handler; }

export async function call(path, { method = 'GET', json, body, type, accept } = {}) {
  const headers = {};
  if (method !== 'GET') headers['X-CSRF-Token'] = csrf;
  if (json !== undefined) { headers['Content-Type'] = 'application/json'; body = JSON.stringify(json); }
  else if (type) headers['Content-Type'] = type;
  if (accept) headers.Accept = accept;
  let response;
  try {
    response = await fetch(base + path, { method, headers, body, credentials: 'same-origin' });
  } catch (e) {
    throw new Error('The service cannot be reached. Is it running?');
  }
  if (response.status === 401 && path !== 'session') onLoggedOut();
  if (!response.ok) {
    let message = `${response.status} ${response.statusText}`;
    try { message = (await response.json()).error || message; } catch (e) { /* not JSON */ }
    throw new Error(message.charAt(0).toUpperCase() + message.slice(1) + (/[.!?]$/.test(message) ? '' : '.'));
  }
  return accept && accept !== 'application/json' ? response.blob() : response.json();
}

export async function logIn(user, password) {
  const r = await call('session', { method: 'POST', json: { user, password } });
  csrf = r.csrf_token;
  sessionStorage.setItem('csrf', csrf);
  sessionStorage.setItem('who', JSON.stringify({ user: r.user, role: r.role }));
  return r;
}

export async function logOut() {
  try { await call('session', { method: 'DELETE' }); } finally { forget(); }
}

export function forget() {
  csrf = '';
  sessionStorage.removeItem('csrf');
  sessionStorage.removeItem('who');
}

export function who() {
  try { return JSON.parse(sessionStorage.getItem('who')); } catch (e) { return null; }
}

export const portPath = (port) => `terminals/${encodeURIComponent(port)}`;

// Names of cards from the service's names file, read once a session.
let names = null;
export async function cardNames() {
  if (!names) names = call('names').then((r) => r.names || {}).catch(() => ({}));
  return names;
}
export function forgetNames() { names = null; }
