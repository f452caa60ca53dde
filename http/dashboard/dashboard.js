// The dashboard: every polled scale's panel as the monitor shows it, its link health and the
// last captures, kept live by the program's WebSocket feed (/api/v1/live). With a token it
// offers a Capture button per scale. Everything it shows is set as text, never as markup.
'use strict';

(() => {
  const byId = (id) => document.getElementById(id);
  const cards = new Map();  // address -> the scale's list item
  const feed = { socket: null, retryMs: 1000, lastMessage: 0, live: false };
  const page = {
    writes: false,
    token: sessionStorage.getItem('trv4-token') || '',
  };
  const kMaxCaptures = 10;

  function element(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function hiddenText(text) {
    return element('span', 'visually-hidden', text);
  }

  function card(address) {
    let item = cards.get(address);
    if (item) return item;
    const id = 'scale-' + address.charCodeAt(0);
    item = element('li', 'scale');
    item.id = id;
    item.dataset.address = address;
    item.setAttribute('aria-labelledby', id + '-name');
    const name = element('h3', 'address');
    name.id = id + '-name';
    name.append(hiddenText('Scale '), address);
    const display = element('p', 'display');
    const net = element('span', 'badge net', 'Net');
    const weight = element('span', 'weight');
    const mark = element('span', 'mark');
    mark.setAttribute('aria-hidden', 'true');
    const markName = hiddenText('');
    display.append(net, hiddenText('Weight: '), weight, mark, markName);
    const health = element('p', 'health');
    const button = element('button', 'capture', 'Capture');
    button.type = 'button';
    button.setAttribute('aria-label', 'Capture the weight of scale ' + address);
    button.hidden = true;
    button.addEventListener('click', () => capture(address, button));
    item.append(name, display, health, button);
    cards.set(address, item);
    return item;
  }

  // A panel as the monitor shows it: {address, text, net, mark, offRange}.
  function showPanel(panel) {
    const item = card(panel.address);
    const weight = item.querySelector('.weight');
    weight.textContent = panel.text;
    const isNumber = /^-?[0-9.]+ (kg|lb)$/.test(panel.text);
    weight.classList.toggle('offrange', panel.offRange);
    weight.classList.toggle('text', !panel.offRange && panel.text !== '' && !isNumber);
    item.querySelector('.net').classList.toggle('on', panel.net);
    item.querySelector('.mark').textContent = panel.mark;
    const names = { M: ', moving', o: ', at the centre of zero' };
    item.querySelector('.mark + .visually-hidden').textContent = names[panel.mark] || '';
  }

  function showHealth(link) {
    const item = cards.get(link.address);
    if (!item) return;
    const health = item.querySelector('.health');
    const state = element('span', link.answering ? 'up' : 'down',
                          link.answering ? 'answering' : 'not answering');
    const parts = [];
    if (link.answeredShare !== null)
      parts.push((link.answeredShare * 100).toFixed(1) + ' % answered');
    if (link.lastReplyAgeS !== null) parts.push('last reply ' + link.lastReplyAgeS.toFixed(1) + ' s ago');
    if (link.replyMs !== null) parts.push('reply ' + link.replyMs + ' ms');
    parts.push(link.timeouts + (link.timeouts === 1 ? ' time-out' : ' time-outs'));
    parts.push(link.badFrames + (link.badFrames === 1 ? ' bad frame' : ' bad frames'));
    health.replaceChildren(state, ' · ' + parts.join(' · '));
  }

  function showButtons() {
    const on = page.writes && page.token !== '';
    for (const item of cards.values()) item.querySelector('.capture').hidden = !on;
    byId('token-form').hidden = !page.writes;
    byId('forget').hidden = page.token === '';
  }

  function captureRow(c) {
    const row = element('tr');
    row.dataset.sequence = c.sequence;
    row.append(element('td', 'number', String(c.sequence)), element('td', '', c.address),
               element('td', 'number', c.text), element('td', '', c.net ? 'net' : 'gross'),
               element('td', '', c.time.replace('T', ' ').replace('Z', '')),
               element('td', '', c.requestedBy), element('td', '', c.delivered ? 'yes' : 'not yet'));
    return row;
  }

  function showCaptures(list, kept) {
    const body = byId('captures').tBodies[0];
    body.replaceChildren(...list.slice(0, kMaxCaptures).map(captureRow));
    byId('captures').hidden = list.length === 0;
    byId('no-captures').hidden = list.length !== 0;
    byId('no-captures').textContent =
        kept ? 'No captures yet.' : 'This program keeps no captures.';
  }

  function addCapture(c) {
    const body = byId('captures').tBodies[0];
    if (body.querySelector(`tr[data-sequence="${c.sequence}"]`)) return;
    body.prepend(captureRow(c));
    while (body.rows.length > kMaxCaptures) body.deleteRow(-1);
    byId('captures').hidden = false;
    byId('no-captures').hidden = true;
  }

  function snapshot(m) {
    const list = byId('scales');
    const items = m.scales.map((panel) => {
      showPanel(panel);
      return card(panel.address);
    });
    for (const [address, item] of cards)
      if (!items.includes(item)) cards.delete(address);
    list.replaceChildren(...items);
    byId('no-scales').hidden = items.length !== 0;
    m.link.forEach(showHealth);
    showCaptures(m.captures, m.capturesOn);
    page.writes = m.writes;
    showButtons();
    showProgram(m);
  }

  function showProgram(m) {
    const footer = byId('health');
    const parts = [m.port ? 'Serial port open' : 'Serial port closed'];
    if (m.health) parts.push('polling: ' + m.health);
    else parts.push('polling runs');
    if (m.mqtt !== null) parts.push(m.mqtt ? 'MQTT connected' : 'MQTT not connected');
    footer.textContent = parts.join(' · ');
    footer.classList.toggle('bad', !m.port || m.health !== '');
  }

  function onMessage(event) {
    feed.lastMessage = Date.now();
    const m = JSON.parse(event.data);
    if (m.type === 'snapshot') snapshot(m);
    else if (m.type === 'weights') m.scales.forEach(showPanel);
    else if (m.type === 'link') {
      m.link.forEach(showHealth);
      showProgram(m);
    } else if (m.type === 'capture') addCapture(m.capture);
  }

  function connection(text, lost) {
    const e = byId('connection');
    if (e.textContent !== text) e.textContent = text;
    e.classList.toggle('lost', lost);
  }

  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const socket = new WebSocket(scheme + '//' + location.host + '/api/v1/live');
    feed.socket = socket;
    socket.addEventListener('open', () => {
      feed.retryMs = 1000;
      feed.live = true;
      feed.lastMessage = Date.now();
      connection('Live', false);
    });
    socket.addEventListener('message', onMessage);
    socket.addEventListener('close', () => {
      feed.live = false;
      connection('Connection lost; trying again…', true);
      setTimeout(connect, feed.retryMs);
      feed.retryMs = Math.min(feed.retryMs * 2, 10000);
    });
  }

  // The feed sends the link health every second: a longer silence is said.
  setInterval(() => {
    if (!feed.live) return;
    const quiet = (Date.now() - feed.lastMessage) / 1000;
    if (quiet > 4) connection('No news from the program for ' + Math.round(quiet) + ' s', true);
    else connection('Live', false);
  }, 2000);

  function captureStatus(text, bad) {
    const e = byId('capture-status');
    e.textContent = text;
    e.classList.toggle('bad', bad);
  }

  async function capture(address, button) {
    button.disabled = true;
    captureStatus('Capturing the weight of scale ' + address + '…', false);
    try {
      const reply = await fetch('/api/v1/scales/' + encodeURIComponent(address) + '/captures', {
        method: 'POST',
        headers: { Authorization: 'Bearer ' + page.token },
        cache: 'no-store',
      });
      let body = {};
      try {
        body = await reply.json();
      } catch (e) {
        body = {};
      }
      if (reply.status === 201) {
        captureStatus('Captured scale ' + address + ': ' + body.text + ', number ' +
                      body.sequence + '.', false);
        addCapture(body);
      } else if (reply.status === 401) {
        captureStatus('The token was refused: enter it again.', true);
      } else {
        captureStatus('No capture of scale ' + address + ': ' +
                      (body.message || body.error || 'status ' + reply.status) + '.', true);
      }
    } catch (e) {
      captureStatus('No capture of scale ' + address + ': the program cannot be reached.', true);
    } finally {
      button.disabled = false;
    }
  }

  byId('token-form').addEventListener('submit', (event) => {
    event.preventDefault();
    page.token = byId('token').value.trim();
    byId('token').value = '';
    if (page.token) sessionStorage.setItem('trv4-token', page.token);
    else sessionStorage.removeItem('trv4-token');
    showButtons();
    captureStatus(page.token ? 'Token set: each scale shows a Capture button.' : '', false);
  });
  byId('forget').addEventListener('click', () => {
    page.token = '';
    sessionStorage.removeItem('trv4-token');
    showButtons();
    captureStatus('Token forgotten.', false);
  });

  connect();
})();
