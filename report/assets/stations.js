// The stations page: the board arrives as server-sent events (a "board"
// event whenever a station records something or falls silent) and is drawn
// as a table. All text from the store goes in as text, never as markup.
// When the store cannot be read, or the server does not answer, the last
// rows stay, greyed, with the time they are from and why.
(function () {
  'use strict';
  const body = document.querySelector('#stations tbody');
  const none = document.getElementById('none');
  const problem = document.getElementById('problem');
  const link = document.getElementById('link');
  let board = null;      // the last board received
  let received = null;   // when it came
  let serverGone = false;

  function cell(row, text, className) {
    const td = row.insertCell();
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function badge(td, text, className) {
    const span = document.createElement('span');
    span.className = 'badge ' + className;
    span.textContent = text;
    td.appendChild(span);
  }

  function localTime(iso) {
    const t = new Date(iso);
    return isNaN(t) ? iso : t.toLocaleString();
  }

  function clock(iso, seconds) {
    const t = new Date(iso);
    if (isNaN(t)) return iso;
    const two = n => String(n).padStart(2, '0');
    return two(t.getHours()) + ':' + two(t.getMinutes()) +
      (seconds ? ':' + two(t.getSeconds()) : '');
  }

  function since(iso) {
    const minutes = Math.floor((Date.now() - new Date(iso)) / 60000);
    if (isNaN(minutes)) return '';
    if (minutes < 1) return 'under a minute';
    if (minutes < 120) return minutes + ' min';
    return Math.floor(minutes / 60) + ' h';
  }

  // What the station is: testing, idle at its form, or not seen.
  function stateText(s) {
    if (s.state === 'testing') return 'testing';
    if (s.state === 'idle') {
      const last = s.ended || s.started;
      return last ? 'idle, ' + since(last) + ' since last run' : 'idle';
    }
    return s.seen ? 'not seen since ' + clock(s.seen) : 'not seen';
  }

  // A run still open in the store is running only while its station tests.
  function runText(s) {
    if (s.outcome !== 'running' || s.state === 'testing') return s.outcome;
    return s.state === 'gone' ? 'not seen' : 'interrupted';
  }

  function draw() {
    const stale = serverGone || board.stale;
    const asOf = serverGone ? received : board.asOf;
    const why = serverGone ? 'the server does not answer' : board.problem;
    problem.hidden = !why;
    problem.textContent = why ? (asOf ? 'As of ' + clock(asOf, true) + ': ' : '') + why : '';
    const rows = document.createDocumentFragment();
    const known = ['pass', 'fail', 'aborted', 'error', 'interrupted', 'running', 'not seen'];
    for (const s of board.stations) {
      const row = document.createElement('tr');
      row.dataset.station = s.station;
      row.dataset.state = s.state;
      if (stale) row.className = 'stale';
      cell(row, s.station);
      badge(cell(row, ''), stateText(s), 's-' + s.state);
      cell(row, s.test);
      cell(row, s.serial);
      cell(row, s.test ? 'cycle ' + s.cycle + ' of ' + s.cycles : '\u2013', 'n cycle');
      cell(row, s.test ? String(s.errors) : '\u2013', 'n errors');
      cell(row, s.lastFault || '\u2013', 'fault');
      const run = runText(s);
      if (s.test) badge(cell(row, ''), run, 'o-' + (known.includes(run) ? run.replace(' ', '-') : 'other'));
      else cell(row, '\u2013');
      cell(row, s.started ? localTime(s.started) : '\u2013');
      rows.appendChild(row);
    }
    body.replaceChildren(rows);
    none.hidden = board.stations.length > 0 || !!why;
    document.body.dataset.updates = String(Number(document.body.dataset.updates || 0) + 1);
  }

  const events = new EventSource('/stations/events');
  events.addEventListener('board', function (e) {
    board = JSON.parse(e.data);
    received = new Date().toISOString();
    serverGone = false;
    draw();
  });
  events.onopen = function () { link.textContent = 'connected'; };
  // The browser connects again by itself; meanwhile the rows are old.
  events.onerror = function () {
    link.textContent = 'reconnecting';
    serverGone = true;
    if (board) draw();
  };
  // "idle, 5 min since last run" moves on without a new board.
  setInterval(function () { if (board) draw(); }, 10000);
})();
