// Small helpers for building the page's elements.

// An element with attributes (`class`, `text`, anything else as attribute)
// and children.
export function el(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v === undefined || v === null || v === false) continue;
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else e.setAttribute(k, v === true ? '' : v);
  }
  e.append(...children);
  return e;
}

export const $ = (id) => document.getElementById(id);

// Runs a long operation once at a time: the button is disabled and the
// progress shown until it ends; an error is written beside it.
export async function busy(button, progress, errorBox, work) {
  if (button.disabled) return undefined;
  button.disabled = true;
  button.setAttribute('aria-busy', 'true');
  if (progress) progress.hidden = false;
  if (errorBox) errorBox.textContent = '';
  try {
    return await work();
  } catch (e) {
    if (errorBox) errorBox.textContent = e.message;
    return undefined;
  } finally {
    button.disabled = false;
    button.removeAttribute('aria-busy');
    if (progress) progress.hidden = true;
  }
}

// Saves a blob as a file the user downloads.
export function download(blob, name) {
  const a = el('a', { href: URL.createObjectURL(blob), download: name });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

export function isAdmin() { return document.body.dataset.role === 'admin'; }

// The ports' names in a select, keeping the choice.
export function fillPorts(select, ports, withAny = false) {
  const chosen = select.value;
  select.replaceChildren(...(withAny ? [el('option', { value: '', text: 'any' })] : []),
    ...ports.map((p) => el('option', { value: p, text: p })));
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
}
