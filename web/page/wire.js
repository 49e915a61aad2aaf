// The chat's messages as bytes, exactly as every other participant sends and
// reads them: 16-bit little-endian fields, and strings as a 16-bit count of
// their bytes (UTF-8 here) followed by the bytes and a NUL the count includes.
// One WebSocket binary message carries one of them.

export const PACKET_CAPACITY = 1024;
export const HEADER_CHAT = 1;
export const HEADER_RESERVED = 2;
export const HEADER_WELCOME = 3;
export const CHAT_SAYS = 1;
export const CHAT_PRIVATE = 2;
export const CHAT_JOINED = 3;
export const CHAT_DISCONNECTED = 4;
export const CHAT_UNRELAYED = 5;
export const SERVER_SHUTDOWN_NAME = '!!! SERVER !!!';

const encoder = new TextEncoder();
// Not fatal: bytes that are not UTF-8 show as U+FFFD, never as an error.
const decoder = new TextDecoder('utf-8');

export function utf8Length(text) {
  return encoder.encode(text).length;
}

// Nicknames compare as the host compares them: ASCII letters without regard to case.
export function sameName(a, b) {
  return asciiLower(a) === asciiLower(b);
}
export function asciiLower(text) {
  return text.replace(/[A-Z]/g, (c) => c.toLowerCase());
}

class Writer {
  constructor() {
    this.bytes = new Uint8Array(PACKET_CAPACITY);
    this.length = 0;
    this.ok = true;
  }
  short(value) {
    if (this.length + 2 > PACKET_CAPACITY) {
      this.ok = false;
      return this;
    }
    this.bytes[this.length++] = value & 0xff;
    this.bytes[this.length++] = (value >> 8) & 0xff;
    return this;
  }
  string(text) {
    const bytes = encoder.encode(text);
    this.short(bytes.length + 1);
    if (!this.ok || this.length + bytes.length + 1 > PACKET_CAPACITY) {
      this.ok = false;
      return this;
    }
    this.bytes.set(bytes, this.length);
    this.length += bytes.length;
    this.bytes[this.length++] = 0;
    return this;
  }
  // Bytes as they are, counted apart.
  raw(bytes) {
    if (this.length + bytes.length > PACKET_CAPACITY) {
      this.ok = false;
      return this;
    }
    this.bytes.set(bytes, this.length);
    this.length += bytes.length;
    return this;
  }
  // Null when the message would not fit one packet: it is then not sent.
  done() {
    return this.ok ? this.bytes.slice(0, this.length) : null;
  }
}

// Reads fields in order; a short read makes every later one fail too, so a
// message is read whole and checked once.
class Reader {
  constructor(bytes) {
    this.bytes = bytes;
    this.at = 0;
    this.ok = true;
  }
  short() {
    if (!this.ok || this.at + 2 > this.bytes.length) {
      this.ok = false;
      return 0;
    }
    const value = this.bytes[this.at] | (this.bytes[this.at + 1] << 8);
    this.at += 2;
    return value;
  }
  // The text up to its first NUL, as every receiver shows a string.
  string() {
    const n = this.short();
    if (!this.ok || n > this.bytes.length - this.at) {
      this.ok = false;
      return '';
    }
    const field = this.bytes.subarray(this.at, this.at + n);
    this.at += n;
    const end = field.indexOf(0);
    return decoder.decode(end < 0 ? field : field.subarray(0, end));
  }
  // `n` bytes as they are.
  raw(n) {
    if (!this.ok || n > this.bytes.length - this.at) {
      this.ok = false;
      return new Uint8Array(0);
    }
    this.at += n;
    return this.bytes.slice(this.at - n, this.at);
  }
}

function writeLine(w, line) {
  w.string(line.name).string(line.face).string(line.text);
  w.short(line.bold ? 1 : 0).short(line.italic ? 1 : 0).short(line.underline ? 1 : 0);
  return w.short(line.red).short(line.green).short(line.blue);
}

export function readLine(r) {
  const line = {name: r.string(), face: r.string(), text: r.string()};
  line.bold = r.short() === 1;
  line.italic = r.short() === 1;
  line.underline = r.short() === 1;
  line.red = r.short() & 0xff;
  line.green = r.short() & 0xff;
  line.blue = r.short() & 0xff;
  return line;
}

export function welcome(nickname) {
  return new Writer().short(HEADER_WELCOME).string(nickname).done();
}

// `line`: {name, face, text, bold, italic, underline, red, green, blue}.
export function says(line) {
  return writeLine(new Writer().short(HEADER_CHAT).short(CHAT_SAYS), line).done();
}

export function privateLine(addressee, line) {
  return writeLine(new Writer().short(HEADER_CHAT).short(CHAT_PRIVATE).string(addressee), line).done();
}

export function departure(nickname) {
  return new Writer().short(HEADER_CHAT).short(CHAT_DISCONNECTED).string(nickname).done();
}

// One received message as {kind, ...}, or null when it carries nothing that
// can be read. Extension blocks come back whole for their own reader.
export function read(bytes) {
  const r = new Reader(bytes);
  const header = r.short();
  if (!r.ok) return null;
  if (header === HEADER_RESERVED) return {kind: 'extension', bytes};
  if (header !== HEADER_CHAT && header !== HEADER_WELCOME) return null;
  const chat = r.short();
  let message = null;
  switch (chat) {
    case CHAT_SAYS: message = {kind: 'says', line: readLine(r)}; break;
    case CHAT_PRIVATE: message = {kind: 'private', addressee: r.string(), line: readLine(r)}; break;
    case CHAT_JOINED: message = {kind: 'joined', name: r.string()}; break;
    case CHAT_DISCONNECTED: message = {kind: 'departed', name: r.string()}; break;
    case CHAT_UNRELAYED: message = {kind: 'unrelayed', line: readLine(r)}; break;
  }
  return message && r.ok ? message : null;
}

export {Reader, Writer};
