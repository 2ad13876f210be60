// Tovrin Station's page: loads the line's snapshot, then applies the live
// changes from /api/events; a "resync" (this page fell too far behind) or a
// lost stream loads the snapshot again. Everything shown comes from the
// station; nothing is loaded from anywhere else.
'use strict';

const token = document.querySelector('meta[name="tovrin-token"]').content;
const role = document.querySelector('meta[name="tovrin-role"]').content;
const operator = role === 'operator';

const STATE_WORDS = {
  idle: 'Idle', waiting: 'Waiting', programming: 'Programming',
  passed: 'Passed', failed: 'Failed', stopped: 'Stopped',
};
const LINE_WORDS = { idle: 'Not started', running: 'Running', stopping: 'Stopping…', ended: 'Ended' };
const HISTORY_ROWS = 20;
const RETRY_MS = 2000;

let station = null;     // the last snapshot, with the changes applied
let clockOffset = 0;    // the station's clock minus this browser's
let source = null;
let retryTimer = 0;

const $ = (id) => document.getElementById(id);

function text(element, value) {
  const shown = value === null || value === undefined || value === '' ? '–' : String(value);
  if (element.textContent !== shown) element.textContent = shown;
}

function number(value, digits) {
  return value === null || value === undefined ? '–' : value.toFixed(digits);
}

function setLive(live) {
  const badge = $('live');
  badge.dataset.live = live ? 'yes' : 'no';
  badge.textContent = live ? 'Live' : 'Reconnecting…';
}

function showNotice(words, kind) {
  const notice = $('notice');
  notice.textContent = words;
  notice.dataset.kind = kind;
  notice.hidden = !words;
}

// The snapshot, then the stream from its sequence number on.
async function load() {
  clearTimeout(retryTimer);
  if (source) { source.close(); source = null; }
  try {
    const response = await fetch('/api/status', { cache: 'no-store', credentials: 'same-origin' });
    if (!response.ok) throw new Error('status ' + response.status);
    const snapshot = await response.json();
    station = snapshot;
    clockOffset = snapshot.now - Date.now();
    renderAll();
    openStream(snapshot.seq);
  } catch (error) {
    setLive(false);
    retryTimer = setTimeout(load, RETRY_MS);
  }
}

function openStream(seq) {
  source = new EventSource('/api/events?since=' + seq);
  source.addEventListener('open', () => setLive(true));
  source.addEventListener('change', (event) => apply(JSON.parse(event.data)));
  source.addEventListener('resync', () => load());
  source.addEventListener('error', () => {
    // Reloaded whole rather than resumed: the station may have been restarted.
    setLive(false);
    source.close();
    source = null;
    clearTimeout(retryTimer);
    retryTimer = setTimeout(load, RETRY_MS);
  });
}

function apply(change) {
  station.seq = change.seq;
  switch (change.kind) {
    case 'slot':
      station.slots[change.slot.index] = change.slot;
      renderSlot(change.slot);
      break;
    case 'line':
      station.line = change.line;
      renderLine();
      break;
    case 'job':
      station.job = change.job;
      renderJob();
      break;
    case 'board':
      station.history.unshift(change.board);
      station.history.length = Math.min(station.history.length, HISTORY_ROWS);
      renderHistory();
      break;
  }
}

function renderAll() {
  document.body.dataset.role = role;
  $('viewer-note').hidden = operator;
  $('actions').hidden = !operator;
  renderJob();
  buildTiles();
  station.slots.forEach(renderSlot);
  renderLine();
  renderHistory();
}

function renderJob() {
  const job = station.job;
  // An approved job: its name, and the key that signed it (or that none did).
  $('job-approved').hidden = !job.jobName;
  $('job-signed').hidden = !job.jobName;
  text($('job-name'), job.jobName);
  const signer = $('job-signer');
  text(signer, job.jobSigner ? job.jobSigner.slice(0, 16) + '…' : 'not signed');
  signer.title = job.jobSigner || '';
  text($('job-file'), job.fileName);
  const sha = $('job-sha');
  text(sha, job.sha256 ? job.sha256.slice(0, 12) + '…' : '');
  sha.title = job.sha256 || '';
  text($('job-format'), job.format);
  text($('job-rev'), job.revision || "board's own");
  text($('job-source'), job.serialSource);
  text($('job-next'), job.nextSerial);
  text($('job-verify'), job.verify);
  text($('job-hardware'), job.expectHardware || 'any');
}

function scanning() {
  return operator && station.job.scan;
}

// Tiles are made once per snapshot and then changed in place, so a number
// being scanned into a field is never lost to an update.
function buildTiles() {
  const tiles = $('tiles');
  const template = $('tile-template');
  if (tiles.children.length === station.slots.length &&
      station.slots.every((slot, i) => tiles.children[i].dataset.slot === slot.port)) {
    return;
  }
  tiles.replaceChildren();
  station.slots.forEach((slot, index) => {
    const tile = template.content.firstElementChild.cloneNode(true);
    tile.dataset.slot = slot.port;
    tile.dataset.index = String(index);
    tile.querySelector('.port').textContent = slot.port;
    const field = tile.querySelector('[data-field="serial"]');
    field.setAttribute('aria-label', 'Serial number for the next board on ' + slot.port);
    field.addEventListener('keydown', (event) => {
      if (event.key === 'Enter') {
        event.preventDefault();
        bindSerial(index, field, tile);
      }
    });
    tiles.appendChild(tile);
  });
}

function tileOf(index) {
  return $('tiles').children[index];
}

function renderSlot(slot) {
  const tile = tileOf(slot.index);
  if (!tile) return;
  tile.dataset.state = slot.state;
  // The number written, or the one bound to the slot's next board.
  tile.dataset.serial = slot.serial || slot.nextSerial || '';
  text(tile.querySelector('.state-word'), STATE_WORDS[slot.state] || slot.state);
  const serial = tile.querySelector('.serial');
  serial.textContent = slot.serial || (slot.nextSerial ? 'next: ' + slot.nextSerial : '');
  const fill = tile.querySelector('.progress-fill');
  const share = slot.total > 0 ? Math.min(1, slot.acked / slot.total) : 0;
  // Through the style object: the page's policy allows no style attributes.
  fill.style.width = (share * 100).toFixed(1) + '%';
  tile.querySelector('.cause').textContent = slot.state === 'failed' ? slot.cause : '';
  const id = slot.identity;
  tile.querySelector('.identity').textContent = id
    ? 'Board: ' + [id.hardware, id.revision && 'rev ' + id.revision, id.serial && 'SN ' + id.serial]
        .filter(Boolean).join(' · ')
    : '';
  tile.querySelector('.message').textContent = slot.message || '';
  tile.querySelector('.scan').hidden = !scanning();
  const counts = slot.counters;
  text(tile.querySelector('.t-passed'), counts.passed);
  text(tile.querySelector('.t-failed'), counts.failed);
  text(tile.querySelector('.t-yield'), counts.firstPassYield === null ? '' : number(counts.firstPassYield, 0) + '%');
  text(tile.querySelector('.t-rate'), number(counts.boardsPerHour, 0));
  renderElapsed(tile, slot);
}

function renderElapsed(tile, slot) {
  const elapsed = tile.querySelector('.elapsed');
  if (slot.startedAt) {
    const seconds = Math.max(0, (Date.now() + clockOffset - slot.startedAt) / 1000);
    elapsed.textContent = seconds.toFixed(0) + ' s';
  } else if (slot.state === 'passed' || slot.state === 'failed') {
    elapsed.textContent = slot.seconds.toFixed(1) + ' s';
  } else {
    elapsed.textContent = '';
  }
}

function renderLine() {
  const line = station.line;
  const badge = $('line-state');
  badge.dataset.lineState = line.state;
  badge.textContent = LINE_WORDS[line.state] || line.state;
  const counts = line.counters;
  $('count-passed').textContent = counts.passed;
  $('count-failed').textContent = counts.failed;
  text($('count-yield'), counts.firstPassYield === null ? '' : number(counts.firstPassYield, 1) + '%');
  text($('count-rate'), number(counts.boardsPerHour, 0));
  if (operator) {
    document.querySelector('[data-action="start"]').disabled = line.state === 'running' || line.state === 'stopping';
    document.querySelector('[data-action="stop"]').disabled = line.state !== 'running';
  }
  if (line.summary) showNotice(line.summary, 'summary');
  drawHours(line.perHour);
  drawCauses(line.causes);
}

function renderHistory() {
  const body = document.querySelector('#history tbody');
  const rows = station.history.map((board) => {
    const row = document.createElement('tr');
    const cells = [
      new Date(board.time).toLocaleTimeString(),
      board.port,
      board.serial,
      board.result === 'passed' ? 'Passed' : 'Failed',
      board.cause,
      board.seconds.toFixed(1) + ' s',
    ];
    cells.forEach((value, i) => {
      const cell = document.createElement('td');
      cell.textContent = value;
      if (i === 2) cell.className = 'mono';
      if (i === 3) cell.className = 'result-' + board.result;
      if (i === 4) cell.className = 'cause-cell';
      row.appendChild(cell);
    });
    return row;
  });
  body.replaceChildren(...rows);
}

// --- charts, drawn as SVG elements (no inline styles, no libraries) ---

const SVG = 'http://www.w3.org/2000/svg';
const CHART_W = 400;
const CHART_H = 180;
const HOURS_SHOWN = 12;

function svg(name, attributes, content) {
  const element = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, String(value));
  if (content !== undefined) element.textContent = content;
  return element;
}

function emptyChart(chart, words) {
  chart.replaceChildren(svg('text', { x: CHART_W / 2, y: CHART_H / 2, 'text-anchor': 'middle', class: 'empty' }, words));
}

function drawHours(perHour) {
  const chart = $('chart-hours');
  if (!perHour.length) return emptyChart(chart, 'No boards yet');
  const shown = perHour.slice(-HOURS_SHOWN);
  const most = Math.max(...shown.map((h) => h.boards));
  const slot = CHART_W / shown.length;
  const width = Math.min(48, slot * 0.7);
  const top = 16;
  const bottom = CHART_H - 20;
  const parts = [];
  shown.forEach((hour, i) => {
    const height = ((bottom - top) * hour.boards) / most;
    const x = i * slot + (slot - width) / 2;
    const label = new Date(hour.hour * 1000).toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
    parts.push(svg('rect', { x, y: bottom - height, width, height, class: 'bar-rect' }));
    parts.push(svg('text', { x: x + width / 2, y: bottom - height - 4, 'text-anchor': 'middle' }, hour.boards));
    parts.push(svg('text', { x: x + width / 2, y: CHART_H - 6, 'text-anchor': 'middle' }, label));
  });
  chart.replaceChildren(...parts);
}

function drawCauses(causes) {
  const chart = $('chart-causes');
  if (!causes.length) return emptyChart(chart, 'No failures');
  const shown = [...causes].sort((a, b) => b.count - a.count).slice(0, 6);
  const most = shown[0].count;
  const row = CHART_H / shown.length;
  const left = 4;
  const barSpace = CHART_W - 40;
  const parts = [];
  shown.forEach((cause, i) => {
    const y = i * row;
    const width = Math.max(2, (barSpace * cause.count) / most);
    parts.push(svg('text', { x: left, y: y + 12 }, cause.cause));
    parts.push(svg('rect', { x: left, y: y + 16, width, height: Math.max(4, row - 24), class: 'cause-rect' }));
    parts.push(svg('text', { x: left + width + 4, y: y + 16 + Math.max(4, row - 24) - 2 }, cause.count));
  });
  chart.replaceChildren(...parts);
}

// --- the operator's requests ---

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    credentials: 'same-origin',
    headers: { 'X-Tovrin-Token': token, 'Content-Type': 'application/json' },
    body: JSON.stringify(body || {}),
  });
  let answer = { accepted: false, words: 'The station answered ' + response.status + '.' };
  try {
    const json = await response.json();
    answer = { accepted: Boolean(json.accepted), words: json.words || json.error || answer.words };
  } catch (error) { /* the words above */ }
  return answer;
}

async function control(action) {
  try {
    const answer = await post('/api/' + action);
    showNotice(answer.accepted ? answer.words : answer.words, answer.accepted ? 'accepted' : 'refused');
  } catch (error) {
    showNotice('The station did not answer.', 'refused');
  }
}

async function bindSerial(index, field, tile) {
  const serial = field.value.trim();
  const answerLine = tile.querySelector('.scan-answer');
  if (!serial) return;
  try {
    const answer = await post('/api/slots/' + index + '/serial', { serial });
    answerLine.textContent = answer.words;
    answerLine.dataset.kind = answer.accepted ? 'accepted' : 'refused';
    if (answer.accepted) field.value = '';
    else field.select();
  } catch (error) {
    answerLine.textContent = 'The station did not answer.';
    answerLine.dataset.kind = 'refused';
  }
}

function tick() {
  if (!station) return;
  station.slots.forEach((slot) => {
    const tile = tileOf(slot.index);
    if (tile) renderElapsed(tile, slot);
  });
}

function start() {
  // A view token given in the address is now held in a cookie: keep it out of
  // the address bar, the history and anything copied from them.
  if (location.search.includes('token=')) history.replaceState(null, '', '/');
  document.querySelector('[data-action="start"]').addEventListener('click', () => control('start'));
  document.querySelector('[data-action="stop"]').addEventListener('click', () => control('stop'));
  setInterval(tick, 500);
  load();
}

start();
