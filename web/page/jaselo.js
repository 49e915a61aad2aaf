// The chat in a browser: joins the host that served this page over a
// WebSocket on its own port, shows the conversation, sends lines, and joins
// again by itself after a lost connection, as the desktop window does; a host
// that says it stopped is looked for only a while.

import * as wire from './wire.js';
import {
  fileDetails, hello, pictureParts, readExtension, KEPT_OUT_UNTIL_STOP, PICTURE_LARGEST, REFUSED_PASSWORD_WAIT,
  REFUSED_REMOVED, REFUSED_TOO_MANY_TRIES, REFUSED_WRONG_PASSWORD,
} from './extension.js';
import {Transcript, readable, rgbOf, shownName} from './transcript.js';
import {People} from './people.js';
import {parseTyped, limitBytes} from './typed.js';
import {canShare, fileUrl, pictureType, sizeText, smallPicture, smallPictureUrl, upload} from './sharing.js';

const NICKNAME_BYTES = 31;
const MESSAGE_BYTES = 900;
// A connection counts as taken in once it has stood this long, or once
// anything came from the host; a host that refuses a nickname closes sooner.
const HOLD_MOMENT_MS = 1000;
const NOTIFICATION_TEXT = 200;
// The close a host sends as it stops (going away).
const HOST_STOPPED = 1001;
// After the host stopped, the page looks for it again this many times, about
// half a minute in all (a host restarted comes straight back), then says to
// reload once it is back rather than try on in vain.
const TRIES_AFTER_STOP = 5;
const SETTINGS_KEY = 'jaselo';
// The host keys whose short form the user said matches the host's screen.
const CHECKED_KEYS = 'jaselo-checked-keys';
// Counters show once a text comes this close to its limit.
const NICKNAME_NEAR = 24;
const MESSAGE_NEAR = 800;

const $ = (id) => document.getElementById(id);
const ui = {
  join: $('join'), nickname: $('nickname'), passwordField: $('password-field'), password: $('password'),
  joinError: $('join-error'),
  chat: $('chat'), transcript: $('transcript'), people: $('people'), peopleCount: $('people-count'),
  compose: $('compose'), message: $('message'), send: $('send'),
  bold: $('bold'), italic: $('italic'), underline: $('underline'), color: $('color'), face: $('face'),
  security: $('security'), status: $('status'), notify: $('notify'),
  nicknameCount: $('nickname-count'), messageCount: $('message-count'),
  reply: $('reply'), replyName: $('reply-name'), replyEnd: $('reply-end'),
  menu: $('menu'), sound: $('sound'), rename: $('rename'), leave: $('leave'),
  keycheck: $('keycheck'), keycheckKey: $('keycheck-key'), keycheckSame: $('keycheck-same'),
  attach: $('attach'), attachInput: $('attach-input'), upload: $('upload'), uploadName: $('upload-name'),
  uploadProgress: $('upload-progress'), uploadCancel: $('upload-cancel'),
};

// ---- what this browser remembers ----

const settings = {
  nickname: '', bold: false, italic: false, underline: false, color: '#000000', face: 'Arial', sound: false,
};

function loadSettings() {
  let stored = {};
  try {
    stored = JSON.parse(localStorage.getItem(SETTINGS_KEY) || '{}') || {};
  } catch {
    stored = {};
  }
  for (const key of Object.keys(settings)) {
    if (typeof stored[key] === typeof settings[key]) settings[key] = stored[key];
  }
  if (!/^#[0-9a-f]{6}$/i.test(settings.color)) settings.color = '#000000';
  if (![...ui.face.options].some((o) => o.value === settings.face)) settings.face = 'Arial';
}

function saveSettings() {
  try {
    localStorage.setItem(SETTINGS_KEY, JSON.stringify(settings));
  } catch {
    // A browser that keeps nothing still chats.
  }
}

// ---- the style of one's own lines ----

function showStyle() {
  for (const name of ['bold', 'italic', 'underline']) ui[name].setAttribute('aria-pressed', String(settings[name]));
  ui.color.value = settings.color;
  ui.face.value = settings.face;
  // The box shows what the line will look like.
  const s = ui.message.style;
  s.fontWeight = settings.bold ? 'bold' : '';
  s.fontStyle = settings.italic ? 'italic' : '';
  s.textDecoration = settings.underline ? 'underline' : '';
  // As the transcript will show it: readable on this page's background.
  s.color = '';
  const box = getComputedStyle(ui.message);
  const rgb = parseInt(settings.color.slice(1), 16);
  const shown = readable([(rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff], rgbOf(box.backgroundColor),
                         rgbOf(box.color));
  s.color = `rgb(${shown.join(', ')})`;
  s.fontFamily = `"${settings.face}", sans-serif`;
}

function toggle(name) {
  settings[name] = !settings[name];
  saveSettings();
  showStyle();
}

function lineOf(text) {
  const rgb = parseInt(settings.color.slice(1), 16);
  return {
    name: nickname, face: settings.face, text,
    bold: settings.bold, italic: settings.italic, underline: settings.underline,
    red: (rgb >> 16) & 0xff, green: (rgb >> 8) & 0xff, blue: rgb & 0xff,
  };
}

// ---- the conversation ----

let nickname = '';
// The chat's password, for this page's joins alone: never stored.
let password = '';
const transcript = new Transcript(ui.transcript, () => nickname, showTitle);
// Whom the lines typed now go to privately; empty: everyone. The draft in
// the box stays whoever it goes to.
let replyTo = '';
const people = new People(ui.people, ui.peopleCount, (name) => {
  setReply(name);
  ui.message.focus();
});

function setReply(name) {
  replyTo = name;
  ui.replyName.textContent = shownName(name);
  ui.reply.hidden = !name;
  limitMessage();
}

function showTitle(unread) {
  const base = nickname ? `Jaselo -- ${nickname}` : 'Jaselo';
  document.title = unread ? `(${unread}) ${base}` : base;
}

// A private line or one that names the user, while the page is hidden: the
// phone buzzes where the browser lets it, and a short tone sounds if asked.
let audio = null;
function buzzHidden() {
  if (!document.hidden) return;
  if (navigator.vibrate) navigator.vibrate(200);
  if (!settings.sound || !audio) return;
  const tone = audio.createOscillator();
  const gain = audio.createGain();
  gain.gain.setValueAtTime(0.15, audio.currentTime);
  gain.gain.exponentialRampToValueAtTime(0.001, audio.currentTime + 0.2);
  tone.frequency.value = 880;
  tone.connect(gain).connect(audio.destination);
  tone.start();
  tone.stop(audio.currentTime + 0.2);
}

function showSound() {
  ui.sound.setAttribute('aria-checked', String(settings.sound));
  ui.sound.textContent = settings.sound ? 'Sound for private lines: on' : 'Sound for private lines: off';
}

// Browsers let a page make sound only once the user has touched it: the
// tone's player is made on the click that asks for it.
function toggleSound() {
  settings.sound = !settings.sound;
  saveSettings();
  showSound();
  if (settings.sound && !audio && window.AudioContext) audio = new AudioContext();
  if (audio) audio.resume();
}

function notifyHidden(title, body, sender) {
  if (!document.hidden || !('Notification' in window) || Notification.permission !== 'granted') return;
  if (wire.sameName(sender, nickname)) return;
  const n = new Notification(title, {body: body.slice(0, NOTIFICATION_TEXT), tag: wire.asciiLower(sender)});
  n.onclick = () => {
    window.focus();
    n.close();
  };
}

function show(message) {
  switch (message.kind) {
    case 'says':
      if (transcript.line(message.line).querySelector('.mention')) buzzHidden();
      notifyHidden(`${message.line.name} says :`, message.line.text, message.line.name);
      break;
    case 'private':
      // A private line for somebody else is none of this page's business.
      if (!wire.sameName(message.addressee, nickname)) return;
      transcript.line(message.line, {private: true});
      buzzHidden();
      notifyHidden(`(*private*) ${message.line.name} says :`, message.line.text, message.line.name);
      break;
    case 'joined':
      transcript.notice({name: message.name}, ' joined the chat !');
      people.add(message.name);
      notifyHidden(`${message.name} joined the chat !`, '', message.name);
      break;
    case 'departed':
      transcript.notice({name: message.name}, ' is disconnected !');
      people.remove(message.name);
      if (replyTo && wire.sameName(replyTo, message.name)) setReply('');
      break;
    case 'extension':
      showExtension(message.block);
      break;
  }
}

// What the host shares with those who ask: who is here, and what was said
// before one came (after a loss, only what was said while away).
let listed = [];
let hostClockOffset = null;  // the host's clock less this one's, in ms
let lostAt = null;  // when the connection was lost, by the host's clock

function showExtension(block) {
  if (!block) return;
  if (block.kind === 'people') {
    if (block.first) listed = [];
    listed.push(...block.people);
    if (!block.last) return;
    people.clear();
    for (const person of listed) {
      const you = wire.sameName(person.name, nickname);
      if (you && hostClockOffset === null) hostClockOffset = person.since.getTime() - Date.now();
      people.add(person.name, {you, host: person.host, since: person.since});
    }
  } else if (block.kind === 'ticket') {
    ticket = block.ticket;
    ui.attach.hidden = !canShare();
  } else if (block.kind === 'file') {
    showFile(block, block.private ? {private: true} : {});
  } else if (block.kind === 'picture') {
    takePicturePart(block);
  } else if (block.kind === 'earlier') {
    if (lostAt === null || block.at.getTime() >= lostAt) {
      if (!transcript.earlier) transcript.beginEarlier('Earlier in this chat');
      transcript.line(block.line, {at: block.at});
    }
    if (block.left === 0) transcript.endEarlier();
  }
}

// ---- sharing files ----

const PICTURE_SHOWN_LARGEST = 8 * 1024 * 1024;

// The upload ticket this connection was given: none until the host gives one.
let ticket = '';
let sharing = null;  // the upload under way

// Pictures whose small view is coming, by file id: {picture, bytes, next}.
const awaitedPictures = new Map();
const AWAITED_MOST = 32;

// `small`: where the picture is drawn from when the page has it already.
function showFile(file, options, small = null) {
  let picture = false;
  if (small) picture = small;
  else if (pictureType(file.type) && file.picture) picture = '';
  // A larger picture without a small view is shown by its name alone: on a
  // phone it would cost more than its look is worth.
  else if (pictureType(file.type) && file.size <= PICTURE_SHOWN_LARGEST) picture = fileUrl(file.id, file.name);
  const entry = transcript.file({
    name: file.name, from: file.from, sizeText: sizeText(file.size), url: fileUrl(file.id, file.name), picture,
  }, options);
  if (picture === '') {
    awaitedPictures.set(file.id, {picture: entry.picture, bytes: [], next: 0});
    while (awaitedPictures.size > AWAITED_MOST) awaitedPictures.delete(awaitedPictures.keys().next().value);
  }
}

// The parts come in order behind their file's details; one out of place
// drops the picture.
function takePicturePart(block) {
  const awaited = awaitedPictures.get(block.id);
  if (!awaited) return;
  if (block.part !== awaited.next) {
    awaitedPictures.delete(block.id);
    return;
  }
  awaited.bytes.push(block.bytes);
  awaited.next += 1;
  if (awaited.next < block.parts) return;
  awaitedPictures.delete(block.id);
  const whole = new Uint8Array(awaited.bytes.reduce((n, b) => n + b.length, 0));
  let at = 0;
  for (const b of awaited.bytes) {
    whole.set(b, at);
    at += b.length;
  }
  const url = whole.length <= PICTURE_LARGEST ? smallPictureUrl(whole) : null;
  if (url) awaited.picture.src = url;
}

// Shares one file with everyone, or privately with the one being replied to.
async function share(file) {
  if (!file || sharing || !ticket || !socket || state !== 'held') return;
  const to = replyTo;
  ui.uploadName.textContent = file.name;
  ui.uploadProgress.value = 0;
  ui.upload.hidden = false;
  sharing = upload(file, ticket, (fraction) => {
    ui.uploadProgress.value = fraction;
  });
  try {
    const small = await smallPicture(file, PICTURE_LARGEST);
    const {id, sha256} = await sharing.done;
    const details = {
      id, sha256, name: file.name, type: pictureType(file.type), size: file.size, from: nickname, to, picture: !!small,
    };
    // One ordinary line names it for everyone, whatever program they use;
    // a name too long for the line leaves the address alone.
    let line = lineOf(`shared ${file.name} (${sizeText(file.size)}): ${fileUrl(id, file.name)}`);
    let bytes = to ? wire.privateLine(to, line) : wire.says(line);
    if (!bytes) {
      line = lineOf(fileUrl(id, ''));
      bytes = to ? wire.privateLine(to, line) : wire.says(line);
    }
    const block = fileDetails(details);
    if (socket && bytes) {
      socket.send(bytes);
      if (block) socket.send(block);
      if (block && small) for (const part of pictureParts(id, small)) socket.send(part);
    }
    if (to) transcript.line(line, {to});
    showFile(details, to ? {to} : {}, small ? smallPictureUrl(small) : null);
  } catch (error) {
    if (error.message !== 'cancelled') transcript.notice(`${file.name} was not shared: ${error.message}`);
  } finally {
    sharing = null;
    ui.upload.hidden = true;
    ui.attachInput.value = '';
  }
}

// ---- joining, losing and rejoining ----

// out: asking for a nickname; trial: joined, not yet taken in; held: in the
// chat; waiting: lost, the next try is due later; stopped: the host stopped
// and did not come back, nothing more is tried.
let state = 'out';
let socket = null;
let afterLoss = false;
let received = false;
let holdTimer = 0;
let tryTimer = 0;
let tries = 0;
let triesAfterStop = -1;  // -1: the host did not stop

// 1, 2, 4, 8 and 16 s, then every 30 s, each spread by up to a tenth.
function nextWait() {
  const factor = tries < 5 ? 2 ** tries : 30;
  tries = Math.min(tries + 1, 5);
  const wait = 1000 * factor;
  return wait + (Math.random() * 2 - 1) * (wait / 10);
}

function setStatus(text) {
  ui.status.textContent = text;
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
  let ws;
  try {
    ws = new WebSocket(`${scheme}://${location.host}/ws`);
  } catch {
    tryLater();
    return;
  }
  ws.binaryType = 'arraybuffer';
  socket = ws;
  ticket = '';
  ui.attach.hidden = true;
  let opened = false;
  let refusal = 0;
  let keptOut = 0;
  ws.onopen = () => {
    opened = true;
    if (!afterLoss) transcript.notice(securityNotice());
    // Inside TLS the HELLO comes first with the chat's password, so that the
    // host checks it before anyone hears of the arrival. A password never
    // goes in plain text.
    if (location.protocol === 'https:') {
      ws.send(hello(password));
      ws.send(wire.welcome(nickname));
    } else {
      ws.send(wire.welcome(nickname));
      ws.send(hello(''));
    }
    received = false;
    state = 'trial';
    holdTimer = setTimeout(takenIn, HOLD_MOMENT_MS);
  };
  ws.onmessage = (event) => {
    if (ws !== socket) return;
    const message = wire.read(new Uint8Array(event.data));
    if (message && message.kind === 'extension') message.block = readExtension(message.bytes);
    // Refused: the host closes next.
    if (message && message.block && message.block.kind === 'refused') {
      refusal = message.block.reason || 1;
      keptOut = message.block.seconds;
      return;
    }
    if (!received) {
      received = true;
      takenIn();
    }
    if (message) show(message);
  };
  ws.onclose = (event) => {
    if (ws !== socket) return;
    socket = null;
    clearTimeout(holdTimer);
    if (refusal === REFUSED_REMOVED) {
      removed(keptOut);
    } else if ([REFUSED_WRONG_PASSWORD, REFUSED_TOO_MANY_TRIES, REFUSED_PASSWORD_WAIT].includes(refusal)) {
      wrongPassword(refusal, keptOut);
    } else if (event.code === HOST_STOPPED) {
      hostStopped();
    } else if (!opened) {
      if (afterLoss) tryLater();
      else askNickname('Connection to the server failed !');
    } else if (state === 'trial' && !received) {
      // Closed right after the welcome: the host took the page's connection,
      // and the nickname it checks last is someone else's already.
      askNickname(`${nickname} is already in this chat: choose another nickname.`);
    } else {
      transcript.notice('Connection to the server lost !');
      people.clear();
      if (hostClockOffset !== null) lostAt = Date.now() + hostClockOffset;
      afterLoss = true;
      tryLater();
    }
  };
}

// The host said it is going: its shutdown notice came before.
function hostStopped() {
  transcript.notice('The host stopped the chat !');
  people.clear();
  if (hostClockOffset !== null) lostAt = Date.now() + hostClockOffset;
  afterLoss = true;
  triesAfterStop = 0;
  tryLater();
}

function takenIn() {
  clearTimeout(holdTimer);
  if (state !== 'trial') return;
  state = 'held';
  tries = 0;
  triesAfterStop = -1;
  if (afterLoss) transcript.notice('Connection to the server restored !');
  setStatus('');
  ui.send.disabled = false;
  ui.menu.hidden = false;
  offerKeyCheck();
}

function tryLater() {
  state = 'waiting';
  ui.send.disabled = true;
  if (triesAfterStop >= TRIES_AFTER_STOP) {
    state = 'stopped';
    setStatus('The host stopped the chat: reload this page once it is back');
    return;
  }
  if (triesAfterStop >= 0) {
    triesAfterStop += 1;
    setStatus('The host stopped the chat: looking for it again shortly');
  } else {
    setStatus('Not connected: trying again shortly');
  }
  joinAgainAfter(nextWait());
}

function joinAgainAfter(ms) {
  tryTimer = setTimeout(() => {
    setStatus('Joining again\u2026');
    connect();
  }, ms);
}

// The host's user showed this page out: it joins again by itself only once
// the host lets the address in again.
function removed(seconds) {
  people.clear();
  afterLoss = true;
  state = 'waiting';
  ui.send.disabled = true;
  if (seconds === KEPT_OUT_UNTIL_STOP) {
    transcript.notice('The host removed you from the chat until it stops !');
    state = 'stopped';
    setStatus('Removed from the chat by the host');
    return;
  }
  const minutes = Math.ceil(seconds / 60);
  const time = minutes >= 60 && minutes % 60 === 0 ? `${minutes / 60} h` : `${minutes} min`;
  transcript.notice(`The host removed you from the chat: you may join again in ${time} !`);
  setStatus(`Removed from the chat by the host: joining again in ${time}`);
  tries = 0;
  joinAgainAfter(seconds * 1000);
}

// Not tried again by itself: the user gives the password anew.
function wrongPassword(reason, seconds) {
  const why = 'Wrong password for this chat !';
  const later = {
    [REFUSED_TOO_MANY_TRIES]: 'Too many wrong passwords came from this address: the host refuses it for a while.',
    [REFUSED_PASSWORD_WAIT]: 'Wrong passwords came from this address lately: ' +
        `the host looks at the next one in ${Math.max(seconds, 1)} s.`,
  }[reason];
  transcript.notice(why);
  if (later) transcript.notice(later);
  people.clear();
  password = '';
  ui.password.value = '';
  ui.passwordField.hidden = false;
  askNickname(later ? `${why} ${later}` : why);
  ui.password.focus();
}

function askNickname(why) {
  state = 'out';
  afterLoss = false;
  clearTimeout(tryTimer);
  ui.joinError.textContent = why;
  ui.join.hidden = false;
  ui.chat.hidden = true;
  ui.menu.hidden = true;
  ui.menu.open = false;
  ui.keycheck.hidden = true;
  showTitle(0);
  ui.nickname.focus();
}

function nicknameProblem(name) {
  if (!name) return 'Type a nickname.';
  if (wire.utf8Length(name) > NICKNAME_BYTES) return `That nickname is too long: at most ${NICKNAME_BYTES} bytes.`;
  if (/[\u0000-\u001f\u007f]/.test(name)) return 'A nickname cannot hold control characters.';
  if (wire.sameName(name, wire.SERVER_SHUTDOWN_NAME)) return 'That nickname is reserved.';
  return '';
}

function join(event) {
  event.preventDefault();
  const name = ui.nickname.value.trim();
  const problem = nicknameProblem(name);
  if (problem) {
    ui.joinError.textContent = problem;
    ui.nickname.focus();
    return;
  }
  if (!ui.passwordField.hidden && !ui.password.value) {
    ui.joinError.textContent = 'Type the chat\'s password.';
    ui.password.focus();
    return;
  }
  password = ui.passwordField.hidden ? '' : ui.password.value;
  nickname = name;
  // Join is pressed by the user: the tone asked for on an earlier visit may
  // be readied now.
  if (settings.sound && !audio && window.AudioContext) audio = new AudioContext();
  hostClockOffset = null;
  lostAt = null;
  triesAfterStop = -1;
  settings.nickname = name;
  saveSettings();
  // What an attempt the host refused showed is over.
  transcript.clear();
  showTitle(0);
  ui.joinError.textContent = '';
  ui.join.hidden = true;
  ui.chat.hidden = false;
  people.clear();
  people.add(name, {you: true});
  ui.send.disabled = true;
  ui.message.focus();
  connect();
}

// Leaving with the tab, or from the menu: the others hear of it at once.
function leave() {
  if (!socket || socket.readyState !== WebSocket.OPEN) return;
  const ws = socket;
  socket = null;
  ws.send(wire.departure(nickname));
  ws.close(1000);
}

function leaveFor(why) {
  leave();
  people.clear();
  setReply('');
  askNickname(why);
}

// ---- sending ----

function send(event) {
  event.preventDefault();
  const typed = ui.message.value;
  if (!typed) return;
  if (state !== 'held' && state !== 'trial') return;
  if (state === 'trial' && afterLoss) return;
  let parsed = parseTyped(typed, people.names());
  if (parsed.kind === 'incomplete') return;
  if (parsed.kind === 'public' && replyTo) parsed = {kind: 'private', addressee: replyTo, text: parsed.text};
  const line = lineOf(parsed.text);
  const bytes = parsed.kind === 'private' ? wire.privateLine(parsed.addressee, line) : wire.says(line);
  if (!bytes || !socket) return;
  socket.send(bytes);
  // The host sends no copy of a private line back: it shows here at once.
  if (parsed.kind === 'private') transcript.line(line, {to: parsed.addressee});
  ui.message.value = '';
  limitMessage();
  ui.message.focus();
}

// What the box holds counts against the line's limit as it will go out.
function messageBytes(typed) {
  return replyTo && !typed.startsWith('/') ? limitBytes(`/msg ${replyTo} ${typed}`, [replyTo]) :
    limitBytes(typed, people.names());
}

// The box takes no more than a line may carry: what goes past the limit,
// typed or pasted, is cut off, and the counter says so.
function limitMessage() {
  let typed = ui.message.value;
  let cut = false;
  while (messageBytes(typed) > MESSAGE_BYTES) {
    const over = messageBytes(typed) - MESSAGE_BYTES;
    // Whole characters only, never half of a pair.
    typed = [...typed].slice(0, -Math.max(1, Math.floor(over / 4))).join('');
    cut = true;
  }
  if (cut) ui.message.value = typed;
  const used = messageBytes(typed);
  ui.messageCount.textContent = cut ? `Cut to the ${MESSAGE_BYTES} bytes a line may hold.` :
    used >= MESSAGE_NEAR ? `${used} / ${MESSAGE_BYTES} bytes` : '';
}

function countNickname() {
  const used = wire.utf8Length(ui.nickname.value.trim());
  ui.nicknameCount.textContent = used > NICKNAME_BYTES ? `${used} / ${NICKNAME_BYTES} bytes: too long` :
    used >= NICKNAME_NEAR ? `${used} / ${NICKNAME_BYTES} bytes` : '';
}

function styleKeys(event) {
  if (!event.ctrlKey || event.altKey || event.metaKey) return;
  const name = {b: 'bold', i: 'italic', u: 'underline'}[event.key.toLowerCase()];
  if (!name) return;
  event.preventDefault();
  toggle(name);
}

// ---- what the page says about the connection ----

function securityNotice() {
  if (location.protocol !== 'https:') return 'Connected to the server, not encrypted';
  const key = document.documentElement.dataset.key;
  return key ? `Connected to the server, encrypted (key ${key})` : 'Connected to the server, encrypted';
}

function showSecurity() {
  const key = document.documentElement.dataset.key;
  if (location.protocol === 'https:') ui.security.textContent = key ? `Encrypted \u00b7 key ${key}` : 'Encrypted';
  else ui.security.textContent = 'Not encrypted';
}

// Over https the page shows the host's short key large until the user says
// the host's screen shows the same; each key is asked about once.
function checkedKeys() {
  try {
    return JSON.parse(localStorage.getItem(CHECKED_KEYS) || '[]') || [];
  } catch {
    return [];
  }
}

function offerKeyCheck() {
  const key = document.documentElement.dataset.key;
  if (location.protocol !== 'https:' || !key || checkedKeys().includes(key)) return;
  ui.keycheckKey.textContent = key;
  ui.keycheck.hidden = false;
}

function keyChecked() {
  const keys = checkedKeys().filter((k) => k !== document.documentElement.dataset.key);
  keys.push(document.documentElement.dataset.key);
  try {
    localStorage.setItem(CHECKED_KEYS, JSON.stringify(keys.slice(-50)));
  } catch {
    // Asked again next time.
  }
  ui.keycheck.hidden = true;
  ui.message.focus();
}

function showNotifyButton() {
  const askable = 'Notification' in window && window.isSecureContext && Notification.permission === 'default';
  ui.notify.hidden = !askable;
}

// ---- start ----

loadSettings();
showStyle();
showSound();
showSecurity();
showNotifyButton();
ui.nickname.value = settings.nickname;
ui.passwordField.hidden = document.documentElement.dataset.password !== '1';
ui.join.addEventListener('submit', join);
ui.compose.addEventListener('submit', send);
ui.message.addEventListener('input', limitMessage);
ui.nickname.addEventListener('input', countNickname);
ui.replyEnd.addEventListener('click', () => {
  setReply('');
  ui.message.focus();
});
ui.leave.addEventListener('click', () => leaveFor('You left the chat.'));
ui.sound.addEventListener('click', toggleSound);
ui.rename.addEventListener('click', () => leaveFor('Choose another nickname.'));
ui.keycheckSame.addEventListener('click', keyChecked);
ui.attach.addEventListener('click', () => ui.attachInput.click());
ui.attachInput.addEventListener('change', () => share(ui.attachInput.files[0]));
ui.uploadCancel.addEventListener('click', () => sharing && sharing.cancel());
// A file pasted or dropped on the chat is shared as the paper clip shares it.
ui.message.addEventListener('paste', (event) => {
  const file = event.clipboardData && event.clipboardData.files[0];
  if (!file || ui.attach.hidden) return;
  event.preventDefault();
  share(file);
});
ui.chat.addEventListener('dragover', (event) => {
  if (!ui.attach.hidden) event.preventDefault();
});
ui.chat.addEventListener('drop', (event) => {
  const file = event.dataTransfer && event.dataTransfer.files[0];
  if (!file || ui.attach.hidden) return;
  event.preventDefault();
  share(file);
});
ui.message.addEventListener('keydown', styleKeys);
for (const name of ['bold', 'italic', 'underline']) ui[name].addEventListener('click', () => toggle(name));
ui.color.addEventListener('input', () => {
  settings.color = ui.color.value;
  saveSettings();
  showStyle();
});
ui.face.addEventListener('change', () => {
  settings.face = ui.face.value;
  saveSettings();
  showStyle();
});
matchMedia('(prefers-color-scheme: dark)').addEventListener('change', showStyle);
ui.notify.addEventListener('click', () => Notification.requestPermission().then(showNotifyButton));
window.addEventListener('pagehide', leave);
ui.nickname.focus();
