'use strict';

// Skyvane's web page: the recordings list, an editor and the station finder,
// all talking to the recorder's JSON API on the same origin.
(() => {
  const POLL_MS = 2000;
  const TEXT_FIELDS = [
    'name', 'url', 'playList', 'customTitle', 'customArtist', 'customAlbum', 'customGenre',
  ];
  const FLAGS = ['daily', 'once', 'splitSongs', 'reconnect'];
  const OVERVIEW = [
    ['nextStart', 'Next start'], ['days', 'Days'], ['state', 'State'],
    ['lastResult', 'Last result'],
  ];
  const ACTIONS = [['edit', 'Edit'], ['clone', 'Clone'], ['delete', 'Delete'], ['now', 'Now'],
    ['stop', 'Stop'], ['log', 'Log']];
  const NEW_RECORDING = { url: 'http://', startTime: 600, duration: 60, days: [] };

  const $ = (id) => document.getElementById(id);
  const form = $('editor');

  let recordings = [];
  let pollTimer = null;
  let loading = null; // the list request in flight
  let session = 0; // bumped on logout so that late answers are dropped
  let outage = false; // the status line tells that the server is unreachable
  // Indexes shift when recordings are deleted elsewhere, so the open editor
  // and log follow their recording by name between refreshes.
  let editing = null; // null: closed, -1: new, else the index
  let editingName = '';
  let logIndex = null;
  let logName = '';

  // ---- talking to the server ----

  async function request(method, path, body) {
    const headers = { Accept: 'application/json' };
    const init = { method, credentials: 'same-origin', cache: 'no-store', headers };
    if (method !== 'GET') headers['Content-Type'] = 'application/json';
    if (body !== undefined) init.body = JSON.stringify(body);
    const res = await fetch(path, init);
    const text = await res.text();
    let data = null;
    try {
      data = text ? JSON.parse(text) : null;
    } catch {
      data = null; // an error page that is not JSON; the status still says enough
    }
    return { status: res.status, ok: res.ok, data };
  }

  // Like request(), but a lost session brings back the login form and an
  // unreachable server is reported; both answer null.
  async function call(method, path, body) {
    let res;
    try {
      res = await request(method, path, body);
    } catch {
      setStatus('Skyvane cannot be reached; trying again.');
      outage = true;
      return null;
    }
    if (res.status === 401) {
      showLogin();
      return null;
    }
    return res;
  }

  function errorText(res) {
    const sentence = res.data && typeof res.data.error === 'string' ? res.data.error : '';
    return sentence || `The recorder answered with status ${res.status}.`;
  }

  function setStatus(text) {
    outage = false;
    setText($('status'), text);
  }

  // ---- logging in and out ----

  function showLogin() {
    session++;
    stopPolling();
    setStatus('');
    recordings = [];
    $('recordings').replaceChildren();
    closeEditor();
    closeLog();
    $('app').hidden = true;
    $('logout').hidden = true;
    $('login').hidden = false;
    $('password').focus();
  }

  function showApp() {
    $('login').hidden = true;
    setText($('login-problem'), '');
    $('app').hidden = false;
    $('logout').hidden = false;
    startPolling();
  }

  async function logIn(event) {
    event.preventDefault();
    const button = $('login-button');
    button.disabled = true;
    setText($('login-problem'), '');
    try {
      const res = await request('POST', '/api/login', { password: $('password').value });
      if (res.ok) {
        $('password').value = '';
        showApp();
        reload();
      } else {
        setText($('login-problem'), errorText(res));
        $('password').select();
      }
    } catch {
      setText($('login-problem'), 'Skyvane cannot be reached.');
    } finally {
      button.disabled = false;
    }
  }

  async function logOut() {
    await call('POST', '/api/logout');
    showLogin();
  }

  // ---- the list ----

  // A page in a background tab (or a phone's locked screen) asks for nothing.
  function startPolling() {
    stopPolling();
    pollTimer = setInterval(() => { if (!document.hidden) refresh(); }, POLL_MS);
  }

  function stopPolling() {
    if (pollTimer !== null) clearInterval(pollTimer);
    pollTimer = null;
  }

  // Polling shares the request in flight, so a slow answer never piles up requests.
  function refresh() {
    if (!loading) loading = load().finally(() => { loading = null; });
    return loading;
  }

  // After a change the list must come from a request sent after it.
  async function reload() {
    if (loading) await loading;
    return refresh();
  }

  async function load() {
    const mine = session;
    const res = await call('GET', '/api/recordings');
    if (!res || mine !== session) return;
    if (!res.ok || !Array.isArray(res.data)) {
      setStatus(errorText(res));
      return;
    }
    if (outage) setStatus('');
    recordings = res.data.map((rec) => (rec && typeof rec === 'object' ? rec : {}));
    if ($('app').hidden) showApp();
    followByName();
    render();
    if (logIndex !== null) await loadLog();
  }

  function lastIndexNamed(name) {
    for (let i = recordings.length - 1; i >= 0; i--) if (recordings[i].name === name) return i;
    return -1;
  }

  function followByName() {
    if (editing !== null && editing >= 0 && recordings[editing]?.name !== editingName) {
      editing = lastIndexNamed(editingName);
      if (editing < 0) {
        setText($('editor-heading'), 'New recording');
        setText($('problem'), 'This recording was deleted; Save adds it again.');
      }
    }
    if (logIndex !== null && recordings[logIndex]?.name !== logName) {
      logIndex = lastIndexNamed(logName);
      if (logIndex < 0) closeLog();
    }
  }

  function render() {
    const list = $('recordings');
    while (list.children.length > recordings.length) list.lastElementChild.remove();
    recordings.forEach((rec, i) => {
      const card = list.children[i] || list.appendChild(makeCard(i));
      fillCard(card, rec, i);
    });
    $('empty').hidden = recordings.length > 0;
    applyFilter();
  }

  function makeCard(i) {
    const card = el('article', 'recording');
    card.setAttribute('aria-labelledby', `rec-name-${i}`);
    const name = el('h3', 'name');
    name.id = `rec-name-${i}`;
    const head = el('div', 'head');
    head.append(name, el('p', 'url'));
    const overview = el('dl', 'overview');
    for (const [key, label] of OVERVIEW) {
      const item = el('div', key);
      item.append(el('dt', '', label), el('dd'));
      overview.append(item);
    }
    const capture = el('div', 'capture');
    const progress = el('progress');
    progress.max = 100;
    progress.setAttribute('aria-label', 'Recording progress');
    capture.append(progress, el('p', 'title'));
    const actions = el('div', 'actions');
    for (const [action, label] of ACTIONS) {
      const button = el('button', action, label);
      button.type = 'button';
      button.dataset.action = action;
      actions.append(button);
    }
    card.append(head, overview, capture, actions);
    return card;
  }

  function fillCard(card, rec, i) {
    card.dataset.index = String(i);
    card.dataset.state = String(rec.state || '');
    card.classList.toggle('capturing', !!rec.capturing);
    setText(card.querySelector('.name'), rec.name || '');
    setText(card.querySelector('.url'), rec.url || '');
    const overview = rec.overview || {};
    for (const [key] of OVERVIEW) {
      setText(card.querySelector(`.overview .${key} dd`), String(overview[key] ?? ''));
    }
    card.querySelector('.capture').hidden = !rec.capturing;
    const progress = card.querySelector('progress');
    const percent = Math.min(100, Math.max(0, Number(rec.progress) || 0));
    if (progress.value !== percent) progress.value = percent;
    setText(card.querySelector('.title'), rec.capturing && rec.title ? `“${rec.title}”` : '');
    card.querySelector('.now').disabled = !!rec.capturing;
    card.querySelector('.stop').disabled = !(rec.capturing || rec.state === 'WaitingToReconnect');
  }

  function applyFilter() {
    const needle = $('filter').value.trim().toLowerCase();
    Array.from($('recordings').children).forEach((card, i) => {
      const rec = recordings[i] || {};
      const hay = `${rec.name || ''}\n${rec.url || ''}`.toLowerCase();
      card.hidden = needle !== '' && !hay.includes(needle);
    });
  }

  async function onCardClick(event) {
    const button = event.target.closest('button[data-action]');
    const card = button && button.closest('.recording');
    if (!card) return;
    const i = Number(card.dataset.index);
    const rec = recordings[i];
    if (!rec) return;
    switch (button.dataset.action) {
      case 'edit': openEditor(i); return;
      case 'log': openLog(i); return;
      case 'delete': {
        const question = `Delete the recording “${rec.name}”?`;
        const detail = 'Its settings and log go; the tracks it recorded stay.';
        if (!confirm(`${question}\n\n${detail}`)) return;
        const wasEditing = editing === i;
        if (await act('DELETE', `/api/recordings/${i}`) && wasEditing) closeEditor();
        return;
      }
      case 'clone': {
        const res = await act('POST', `/api/recordings/${i}/clone`);
        if (res && res.data) openByName(res.data.name);
        return;
      }
      default:
        await act('POST', `/api/recordings/${i}/${button.dataset.action}`);
    }
  }

  // Runs a change from the list and refreshes; a vanished index just reloads.
  async function act(method, path, body) {
    setStatus('');
    const res = await call(method, path, body);
    if (!res) return null;
    await reload();
    if (!res.ok && res.status !== 404) setStatus(errorText(res));
    return res.ok ? res : null;
  }

  // A just-made recording is found by the name the server gave back.
  function openByName(name) {
    const i = lastIndexNamed(name);
    openEditor(i >= 0 ? i : recordings.length - 1);
  }

  // ---- the editor ----

  function openEditor(i) {
    const rec = i >= 0 ? recordings[i] : NEW_RECORDING;
    if (!rec) return;
    editing = i;
    editingName = rec.name || '';
    const fields = form.elements;
    for (const key of TEXT_FIELDS) fields[key].value = rec[key] ?? '';
    for (const key of FLAGS) fields[key].checked = !!rec[key];
    fields.startTime.value = minutesToTime(rec.startTime ?? 600);
    const duration = Math.max(0, Number(rec.duration) || 0);
    fields.durationHours.value = String(Math.floor(duration / 60));
    fields.durationMinutes.value = String(duration % 60);
    const days = Array.isArray(rec.days) ? rec.days : [];
    for (let d = 0; d < 7; d++) fields[`day${d}`].checked = !!days[d];
    setText($('editor-heading'), i >= 0 ? 'Edit recording' : 'New recording');
    showProblem('', '');
    form.hidden = false;
    form.scrollIntoView({ block: 'start' });
    fields.name.focus({ preventScroll: true });
  }

  function closeEditor() {
    editing = null;
    form.hidden = true;
    showProblem('', '');
  }

  // Reads the form into the API's shape; answers null after showing why not.
  function collect() {
    const fields = form.elements;
    const rec = {};
    for (const key of TEXT_FIELDS) rec[key] = fields[key].value.trim();
    for (const key of FLAGS) rec[key] = fields[key].checked;
    rec.startTime = timeToMinutes(fields.startTime.value);
    if (rec.startTime === null) {
      showProblem('Choose a start time.', 'startTime');
      return null;
    }
    const hours = Number(fields.durationHours.value || 0);
    const minutes = Number(fields.durationMinutes.value || 0);
    if (!Number.isInteger(hours) || !Number.isInteger(minutes) || hours < 0 || minutes < 0) {
      showProblem('Type the duration as whole hours and minutes.', 'duration');
      return null;
    }
    rec.duration = hours * 60 + minutes;
    rec.days = [0, 1, 2, 3, 4, 5, 6].map((d) => (fields[`day${d}`].checked ? 1 : 0));
    return rec;
  }

  async function save(event) {
    event.preventDefault();
    showProblem('', '');
    const rec = collect();
    if (!rec) return;
    const button = $('save');
    button.disabled = true;
    try {
      const isNew = editing === null || editing < 0;
      const res = isNew
        ? await call('POST', '/api/recordings', rec)
        : await call('PUT', `/api/recordings/${editing}`, rec);
      if (!res) return;
      if (res.ok) {
        closeEditor();
        await reload();
        return;
      }
      showProblem(errorText(res), res.data && res.data.field);
      if (res.status === 404) {
        // Gone meanwhile: keep the edits so that Save adds them as a new recording.
        editing = -1;
        setText($('editor-heading'), 'New recording');
        await reload();
      }
    } finally {
      button.disabled = false;
    }
  }

  // The sentence goes beside the form; the field it names is marked.
  function showProblem(text, field) {
    setText($('problem'), text);
    for (const input of form.querySelectorAll('[aria-invalid]')) {
      input.removeAttribute('aria-invalid');
    }
    const target = fieldInput(field);
    if (target) {
      target.setAttribute('aria-invalid', 'true');
      target.focus();
    }
  }

  function fieldInput(field) {
    if (!field) return null;
    const name = field === 'duration' ? 'durationHours' : field === 'days' ? 'day0' : String(field);
    const input = form.elements[name];
    return input instanceof Element ? input : null;
  }

  function minutesToTime(total) {
    const m = ((Number(total) || 0) % 1440 + 1440) % 1440;
    return `${String(Math.floor(m / 60)).padStart(2, '0')}:${String(m % 60).padStart(2, '0')}`;
  }

  function timeToMinutes(value) {
    const match = /^(\d{1,2}):(\d{2})/.exec(value || '');
    if (!match) return null;
    return Number(match[1]) * 60 + Number(match[2]);
  }

  // ---- the log ----

  function openLog(i) {
    logIndex = i;
    logName = recordings[i].name || '';
    setText($('log-heading'), `Log: ${logName}`);
    setText($('log'), '');
    $('log-panel').hidden = false;
    $('log-panel').scrollIntoView({ block: 'start' });
    loadLog();
  }

  function closeLog() {
    logIndex = null;
    $('log-panel').hidden = true;
  }

  async function loadLog() {
    const res = await call('GET', `/api/recordings/${logIndex}/log`);
    if (!res || logIndex === null) return;
    const pre = $('log');
    // Follow new lines only when the reader is already at the end.
    const atEnd = !pre.textContent || pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 8;
    setText(pre, res.ok && res.data ? String(res.data.log ?? '') : errorText(res));
    if (atEnd) pre.scrollTop = pre.scrollHeight;
  }

  // ---- finding a station ----

  function toggleFind() {
    const panel = $('find-panel');
    panel.hidden = !panel.hidden;
    $('find').setAttribute('aria-expanded', String(!panel.hidden));
    if (!panel.hidden) $('find-name').focus();
  }

  async function search(event) {
    event.preventDefault();
    const name = $('find-name').value.trim();
    if (!name) return;
    const button = $('find-search');
    button.disabled = true;
    setText($('find-problem'), 'Searching…');
    $('find-results').replaceChildren();
    try {
      const res = await call('GET', `/api/directory?name=${encodeURIComponent(name)}`);
      setText($('find-problem'), '');
      if (!res) return;
      if (!res.ok || !Array.isArray(res.data)) {
        setText($('find-problem'), errorText(res));
        return;
      }
      setText($('find-problem'), res.data.length ? '' : 'No station has that name.');
      $('find-results').append(...res.data.map((station) => stationItem(station || {})));
    } finally {
      button.disabled = false;
    }
  }

  function stationItem(station) {
    const item = el('li', 'station');
    const about = el('div', 'about');
    const bitrate = station.bitrate ? `${station.bitrate} kbit/s` : '';
    const facts = [station.country, station.codec, bitrate, tagList(station.tags).join(', ')];
    about.append(
      el('strong', '', String(station.name ?? '')),
      el('span', 'url', String(station.url ?? '')),
      el('span', 'facts', facts.filter(Boolean).join(' · ')),
    );
    const add = el('button', '', 'Add Recording');
    add.type = 'button';
    add.addEventListener('click', () => addStation(station, add));
    item.append(about, add);
    return item;
  }

  // The directory sends tags as one comma-separated string.
  function tagList(tags) {
    const list = Array.isArray(tags) ? tags : String(tags ?? '').split(',');
    return list.map((tag) => String(tag).trim()).filter(Boolean);
  }

  async function addStation(station, button) {
    const firstTag = tagList(station.tags)[0];
    const body = { name: String(station.name ?? ''), url: String(station.url ?? '') };
    if (firstTag) body.customGenre = firstTag;
    button.disabled = true;
    const res = await call('POST', '/api/recordings', body);
    button.disabled = false;
    if (!res) return;
    if (!res.ok) {
      setText($('find-problem'), errorText(res));
      return;
    }
    await reload();
    openByName(res.data && res.data.name !== undefined ? res.data.name : body.name);
  }

  // ---- small helpers ----

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }

  // Only touching changed text keeps selections and screen readers calm during polling.
  function setText(node, text) {
    if (node && node.textContent !== text) node.textContent = text;
  }

  // ---- wiring ----

  $('login').addEventListener('submit', logIn);
  $('logout').addEventListener('click', logOut);
  $('new').addEventListener('click', () => openEditor(-1));
  $('find').addEventListener('click', toggleFind);
  $('find-close').addEventListener('click', toggleFind);
  $('find-form').addEventListener('submit', search);
  $('filter').addEventListener('input', applyFilter);
  $('recordings').addEventListener('click', onCardClick);
  form.addEventListener('submit', save);
  $('cancel').addEventListener('click', closeEditor);
  $('log-close').addEventListener('click', closeLog);
  document.addEventListener('visibilitychange', () => {
    if (!document.hidden && pollTimer !== null) refresh();
  });

  // The first list answer tells whether a session is still open; polling
  // until then also outlasts a server that is still starting.
  startPolling();
  refresh();
})();
