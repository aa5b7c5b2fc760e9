// A bar chart of events per hour over the last 24 hours, as inline SVG
// with a text equivalent for screen readers.

const NS = 'http://www.w3.org/2000/svg';

function svg(tag, attrs, text) {
  const e = document.createElementNS(NS, tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}

// Counts per hour, oldest first, for the 24 hours up to `now` (local time
// of the events' own date and time).
export function hourlyCounts(events, now = new Date()) {
  const end = new Date(now); end.setMinutes(0, 0, 0); end.setHours(end.getHours() + 1);
  const counts = new Array(24).fill(0);
  for (const e of events) {
    if (!e.event_date || !e.event_time) continue;
    const t = new Date(`${e.event_date}T${e.event_time}`);
    const slot = 23 - Math.floor((end - t) / 3600000);
    if (slot >= 0 && slot < 24) counts[slot] += 1;
  }
  return { counts, firstHour: end.getHours() };
}

export function drawChart(container, { counts, firstHour }) {
  const w = 480, h = 120, top = 4, gap = 2, bw = w / 24;
  const max = Math.max(1, ...counts);
  const total = counts.reduce((a, b) => a + b, 0);
  const busiest = counts.indexOf(Math.max(...counts));
  const label = total === 0 ? 'No events in the last 24 hours.'
    : `${total} events in the last 24 hours; the busiest hour began at ${String((firstHour + busiest) % 24).padStart(2, '0')}:00 with ${counts[busiest]}.`;
  const root = svg('svg', { viewBox: `0 0 ${w} ${h}`, role: 'img', 'aria-label': label, preserveAspectRatio: 'none' });
  root.append(svg('line', { class: 'base', x1: 0, x2: w, y1: h - 0.5, y2: h - 0.5 }));
  root.append(svg('title', {}, label));
  counts.forEach((c, i) => {
    const bh = (h - top) * c / max;
    const hour = (firstHour + i) % 24;
    const rect = svg('rect', { class: 'bar', x: i * bw + gap / 2, y: h - bh, width: bw - gap, height: bh });
    rect.append(svg('title', {}, `${String(hour).padStart(2, '0')}:00 ${c}`));
    root.append(rect);
  });
  // Hour labels as text beside the drawing, so that they keep their shape
  // at any width.
  const axis = document.createElement('div');
  axis.className = 'axis';
  axis.setAttribute('aria-hidden', 'true');
  for (let i = 0; i < 24; i += 3) {
    const span = document.createElement('span');
    span.textContent = `${String((firstHour + i) % 24).padStart(2, '0')}:00`;
    axis.append(span);
  }
  const top_ = document.createElement('p');
  top_.className = 'status';
  top_.textContent = `Highest: ${Math.max(...counts)} an hour`;
  container.replaceChildren(top_, root, axis);
}
