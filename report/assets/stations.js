// The stations page: the board arrives as server-sent events (a "board"
// event whenever a station records something) and is drawn as a table. All
// text from the store goes in as text, never as markup.
(function () {
  'use strict';
  const body = document.querySelector('#stations tbody');
  const none = document.getElementById('none');
  const problem = document.getElementById('problem');
  const link = document.getElementById('link');

  function cell(row, text, className) {
    const td = row.insertCell();
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function localTime(iso) {
    const t = new Date(iso);
    return isNaN(t) ? iso : t.toLocaleString();
  }

  function draw(board) {
    problem.hidden = !board.problem;
    problem.textContent = board.problem || '';
    const rows = document.createDocumentFragment();
    for (const s of board.stations) {
      const row = document.createElement('tr');
      row.dataset.station = s.station;
      cell(row, s.station);
      cell(row, s.test);
      cell(row, s.serial);
      cell(row, 'cycle ' + s.cycle + ' of ' + s.cycles, 'n cycle');
      cell(row, String(s.errors), 'n errors');
      cell(row, s.lastFault || '\u2013', 'fault');
      const state = cell(row, '');
      const badge = document.createElement('span');
      const known = ['pass', 'fail', 'aborted', 'error', 'interrupted', 'running'];
      badge.className = 'badge o-' + (known.includes(s.outcome) ? s.outcome : 'other');
      badge.textContent = s.outcome;
      state.appendChild(badge);
      cell(row, localTime(s.started));
      rows.appendChild(row);
    }
    body.replaceChildren(rows);
    none.hidden = board.stations.length > 0 || !!board.problem;
    document.body.dataset.updates = String(Number(document.body.dataset.updates || 0) + 1);
  }

  const events = new EventSource('/stations/events');
  events.addEventListener('board', function (e) { draw(JSON.parse(e.data)); });
  events.onopen = function () { link.textContent = 'connected'; };
  // The browser connects again by itself.
  events.onerror = function () { link.textContent = 'reconnecting'; };
})();
