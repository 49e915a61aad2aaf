// The conversation as the desktop window shows it: a grey "<name> says :"
// header, then the line in its sender's face, colour and effects; private
// lines under a pink header; arrivals and departures in green. Everything a
// peer sends goes in as text: nothing from the network is ever parsed as markup.

import {sameName} from './wire.js';

// Web and mail addresses start a word and run to the next blank or quote.
const ADDRESS = /(?<![\p{L}\p{N}_.+-])(?:https?:\/\/|mailto:)[^\s<>"\uFFFC]+/giu;
const ENDING = '.,;:!?\'"';
const CLOSING = ')]}>';
const OPENING = '([{<';

function count(text, c) {
  return text.split(c).length - 1;
}

// Sentence punctuation after an address, and a closing bracket it never
// opened, are not part of it.
function trimAddress(address) {
  for (;;) {
    const last = address.at(-1);
    const bracket = CLOSING.indexOf(last);
    if (!last) return address;
    if (ENDING.includes(last) || (bracket >= 0 && count(address, last) > count(address, OPENING[bracket]))) {
      address = address.slice(0, -1);
    } else {
      return address;
    }
  }
}

// Only web and mail addresses with something after the scheme open.
export function openableAddress(address) {
  let url;
  try {
    url = new URL(address);
  } catch {
    return null;
  }
  if ((url.protocol === 'http:' || url.protocol === 'https:') && url.hostname) return url.href;
  if (url.protocol === 'mailto:' && url.pathname) return url.href;
  return null;
}

// Appends `text` to `parent` as text nodes, with its addresses as links that
// open in a new tab with no way back to this page.
export function appendWithLinks(parent, text) {
  let from = 0;
  for (const match of text.matchAll(ADDRESS)) {
    const address = trimAddress(match[0]);
    const href = openableAddress(address);
    if (!href) continue;
    parent.append(text.slice(from, match.index));
    parent.append(newTab(href, address));
    from = match.index + address.length;
  }
  parent.append(text.slice(from));
}

// A link that opens in a new tab with no way back to this page.
function newTab(href, ...content) {
  const link = document.createElement('a');
  link.href = href;
  link.target = '_blank';
  link.rel = 'noopener noreferrer';
  link.append(...content);
  return link;
}

// Whether `text` holds `name` as a whole word, in any letter case.
export function mentions(text, name) {
  if (!name) return false;
  const lowerText = text.toLowerCase();
  const lowerName = name.toLowerCase();
  const word = /[\p{L}\p{N}_]/u;
  for (let at = lowerText.indexOf(lowerName); at >= 0; at = lowerText.indexOf(lowerName, at + 1)) {
    const end = at + lowerName.length;
    if ((at === 0 || !word.test(lowerText[at - 1])) && (end === lowerText.length || !word.test(lowerText[end]))) {
      return true;
    }
  }
  return false;
}

// The face a line names, as one quoted family with the page's fallback.
function fontFamily(face) {
  const clean = face.replace(/["\\\u0000-\u001f\u007f]/g, '');
  return clean ? `"${clean}", sans-serif` : 'sans-serif';
}

// A nickname as the window shows it: a control character becomes U+FFFD, so
// that no name breaks a line or forges one.
export function shownName(name) {
  return name.replace(/[\u0000-\u001f\u007f]/g, '\ufffd');
}

function isolated(name) {
  const bdi = document.createElement('bdi');
  bdi.textContent = shownName(name);
  return bdi;
}

function clock(date) {
  return date.toTimeString().slice(0, 8);
}

export function rgbOf(css) {
  const m = css.match(/\d+(\.\d+)?/g) || [0, 0, 0];
  return m.slice(0, 3).map(Number);
}

function luminance([r, g, b]) {
  const f = (c) => (c /= 255) <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
  return 0.2126 * f(r) + 0.7152 * f(g) + 0.0722 * f(b);
}

export function contrast(a, b) {
  const [x, y] = [luminance(a), luminance(b)].sort((p, q) => q - p);
  return (x + 0.05) / (y + 0.05);
}

// A sender's colour as close to itself as reads on `background`: mixed
// toward the page's text colour only as far as 4.5:1 needs (a black line on
// the dark page, a pale yellow one on the light page).
export function readable(colour, background, text) {
  for (let t = 0; t <= 1; t += 0.1) {
    const mixed = colour.map((c, i) => Math.round(c + (text[i] - c) * t));
    if (contrast(mixed, background) >= 4.5) return mixed;
  }
  return text;
}

export class Transcript {
  // `element` holds the entries; `ownName()` is the nickname now in use;
  // `unread(n)` hears how many entries came while the reader was scrolled up.
  constructor(element, ownName, unread = () => {}) {
    this.element = element;
    this.ownName = ownName;
    this.unread = unread;
    this.unseen = 0;
    this.earlier = null;  // the section of earlier lines, while one is open
    this.lines = document.createElement('div');
    this.more = document.createElement('button');
    this.more.type = 'button';
    this.more.className = 'unread';
    this.more.hidden = true;
    this.more.addEventListener('click', () => {
      this.following = true;
      this.follow();
    });
    element.append(this.lines, this.more);
    // Follows the conversation unless the reader has scrolled up to read back,
    // whatever changes the space: new lines, a resize, zoom, a keyboard.
    this.following = true;
    this.size = '';
    element.addEventListener('scroll', () => {
      // A scroll that comes with a change of size is the layout's (a
      // resize, zoom, a keyboard), not the reader's: it changes nothing.
      if (this.layoutChanged()) return this.follow();
      this.following = this.atBottom();
      if (this.following) this.seen();
    });
    const resized = new ResizeObserver(() => this.follow());
    resized.observe(element);
    resized.observe(this.lines);
    matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
      for (const body of this.lines.querySelectorAll('.body')) this.colour(body);
    });
  }

  follow() {
    if (this.following) {
      this.element.scrollTop = this.element.scrollHeight;
      this.seen();
    }
    this.size = this.sizeNow();
  }

  sizeNow() {
    return `${this.element.clientHeight} ${this.element.scrollHeight}`;
  }

  // Since follow() last looked: the box or its content changed size.
  layoutChanged() {
    return this.sizeNow() !== this.size;
  }

  atBottom() {
    const e = this.element;
    return e.scrollHeight - e.scrollTop - e.clientHeight < 40;
  }

  // Before an entry is added: a reader who scrolled up since the last one,
  // before the browser told of it, is not pulled down.
  lookAtReader() {
    if (this.following && !this.layoutChanged() && !this.atBottom()) this.following = false;
  }

  seen() {
    if (this.unseen === 0) return;
    this.unseen = 0;
    this.more.hidden = true;
    this.unread(0);
  }

  // Another entry the reader has not seen yet, while scrolled up.
  arrived() {
    if (this.following) return this.follow();
    this.unseen += 1;
    this.more.textContent = this.unseen === 1 ? '1 new line \u2193' : `${this.unseen} new lines \u2193`;
    this.more.hidden = false;
    this.unread(this.unseen);
  }

  clear() {
    this.earlier = null;
    this.lines.replaceChildren();
    this.following = true;
    this.seen();
  }

  colour(body) {
    const style = getComputedStyle(this.element);
    const shown = readable(rgbOf(body.dataset.colour), rgbOf(style.backgroundColor), rgbOf(style.color));
    body.style.color = `rgb(${shown.join(', ')})`;
  }

  // A chat line: {name, face, text, bold, italic, underline, red, green, blue}.
  // `options`: private (received privately), to (the addressee of one's own
  // private line), at (a Date: when the host relayed an earlier line).
  line(line, options = {}) {
    const entry = this.entry(options.at ? 'earlier-line' : 'line');
    const header = document.createElement('div');
    header.className = options.private || options.to ? 'header private' : 'header';
    // A name stands apart from the words around it, whatever its direction.
    if (options.to) header.append('(*private*) to ', isolated(options.to), ' :');
    else if (options.private) header.append('(*private*) ', isolated(line.name), ' says :');
    else header.append(isolated(line.name), ' says :');
    const at = options.at || new Date();
    header.title = clock(at);
    if (options.at) {
      const time = document.createElement('time');
      time.dateTime = at.toISOString();
      time.textContent = ` ${clock(at)}`;
      header.append(time);
    }
    if (!options.to && !options.at && !sameName(line.name, this.ownName()) && mentions(line.text, this.ownName())) {
      header.classList.add('mention');
    }
    const body = document.createElement('div');
    body.className = 'body';
    // Right-to-left lines read from the right, as the window shows them.
    body.dir = 'auto';
    body.style.fontFamily = fontFamily(line.face);
    body.dataset.colour = `rgb(${line.red}, ${line.green}, ${line.blue})`;
    if (line.bold) body.style.fontWeight = 'bold';
    if (line.italic) body.style.fontStyle = 'italic';
    if (line.underline) body.style.textDecoration = 'underline';
    appendWithLinks(body, line.text.replace(/\r\n?/g, '\n'));
    entry.append(header, body);
    this.colour(body);
    this.arrived();
    return entry;
  }

  // A shared file: {name, size, type, from, url, picture}; `picture`, for a
  // picture shown in place, is where it is drawn from ('' until its small view
  // has come: then `entry.picture` takes it). `options`: private (shared with this user alone), to
  // (the one this user shared it with).
  file(file, options = {}) {
    const entry = this.entry('file');
    const header = document.createElement('div');
    header.className = options.private || options.to ? 'header private' : 'header';
    if (options.to) header.append('(*private*) to ', isolated(options.to), ', a file :');
    else if (options.private) header.append('(*private*) ', isolated(file.from), ' shares a file :');
    else header.append(isolated(file.from), ' shares a file :');
    header.title = clock(new Date());
    entry.append(header);
    if (typeof file.picture === 'string') {
      const picture = document.createElement('img');
      if (file.picture) picture.src = file.picture;
      entry.picture = picture;
      picture.alt = file.name;
      picture.loading = 'lazy';
      picture.addEventListener('load', () => this.follow());
      entry.append(newTab(file.url, picture));
    }
    const about = document.createElement('div');
    about.className = 'file-about';
    about.dir = 'auto';
    const name = document.createElement('bdi');
    name.textContent = file.name;
    about.append(name, ` (${file.sizeText})`);
    const open = newTab(file.url, 'Open');
    const save = document.createElement('a');
    save.href = file.url;
    save.download = file.name;
    save.textContent = 'Save\u2026';
    const actions = document.createElement('div');
    actions.className = 'file-actions';
    actions.append(open, save);
    entry.append(about, actions);
    this.arrived();
    return entry;
  }

  // A green notice: an arrival, a departure, the connection's state. `parts`
  // are texts, and names as {name}, which stand apart from the words around.
  notice(...parts) {
    const entry = this.entry('notice');
    entry.dir = 'auto';
    for (const part of parts) entry.append(typeof part === 'string' ? part : isolated(part.name));
    entry.title = clock(new Date());
    this.arrived();
    return entry;
  }

  // The lines said before one came, under their separator, above the live ones.
  beginEarlier(caption) {
    const section = document.createElement('section');
    section.className = 'earlier';
    const heading = document.createElement('h2');
    heading.className = 'separator';
    heading.textContent = caption;
    section.append(heading);
    this.lines.append(section);
    this.earlier = section;
    this.follow();
  }

  endEarlier() {
    this.earlier = null;
  }

  entry(kind) {
    this.lookAtReader();
    const entry = document.createElement('div');
    entry.className = `entry ${kind}`;
    (this.earlier && kind === 'earlier-line' ? this.earlier : this.lines).append(entry);
    return entry;
  }
}
