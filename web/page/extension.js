// The host's own messages beside the chat's, under the reserved transport
// header: HELLO asks for them (and gives the chat's password), PEOPLE lists
// who is in the chat, EARLIER replays a line said before one came, REFUSED
// says why the host does not take this connection in, TICKET is what an
// upload of a shared file names, FILE gives a shared file's details and
// PICTURE, in parts behind it, a shared picture's small view. Each block: the
// header, a tag, its length, a version and a kind, then the kind's fields.
// Unknown kinds and later versions are skipped.

import {HEADER_RESERVED, Reader, Writer, readLine} from './wire.js';

const TAG = 0x584a;
const VERSION = 1;
const HEADER_SIZE = 10;
const HELLO = 1;
const PEOPLE = 2;
const EARLIER = 3;
const REFUSED = 4;
const TICKET = 6;
const FILE = 7;
const PICTURE = 8;
const FILE_PRIVATE = 1;
const FILE_PICTURE = 2;
// A small picture's largest size, and its parts' (as the host takes them).
export const PICTURE_LARGEST = 16384;
const PICTURE_PART_BYTES = 900;
const PICTURE_MOST_PARTS = Math.ceil(PICTURE_LARGEST / PICTURE_PART_BYTES);
export const REFUSED_WRONG_PASSWORD = 1;
export const REFUSED_TOO_MANY_TRIES = 2;
export const REFUSED_REMOVED = 3;
export const REFUSED_PASSWORD_WAIT = 7;
// From a removal on, a refusal says for how long; this time lasts until the host stops.
export const KEPT_OUT_UNTIL_STOP = 0xffffffff;
const UNDERSTANDS_PEOPLE = 1;
const UNDERSTANDS_EARLIER = 2;
const UNDERSTANDS_FILES = 8;
const PEOPLE_FIRST = 1;
const PEOPLE_LAST = 2;
const PERSON_HOST = 1;

function begin(kind) {
  return new Writer().short(HEADER_RESERVED).short(TAG).short(0).short(VERSION).short(kind);
}

function finish(w) {
  const bytes = w.done();
  // The block's length, from its first byte.
  if (bytes) [bytes[4], bytes[5]] = [bytes.length & 0xff, bytes.length >> 8];
  return bytes;
}

// The password goes only inside TLS; empty for none.
export function hello(password) {
  const w = begin(HELLO).short(UNDERSTANDS_PEOPLE | UNDERSTANDS_EARLIER | UNDERSTANDS_FILES);
  if (password) w.string(password);
  return finish(w);
}

// A file just shared: {id, sha256, name, type, size, from, to, picture} (to:
// empty for everyone; picture: whether its small view follows); null when it
// does not fit one message.
export function fileDetails(file) {
  const w = begin(FILE).short((file.to ? FILE_PRIVATE : 0) | (file.picture ? FILE_PICTURE : 0));
  w.short(file.size % 0x10000).short(Math.floor(file.size / 0x10000) % 0x10000);
  w.short(Math.floor(file.size / 2 ** 32) % 0x10000).short(Math.floor(file.size / 2 ** 48) % 0x10000);
  for (const text of [file.id, file.sha256, file.name, file.type, file.from, file.to || '']) w.string(text);
  return finish(w);
}

// The blocks of a shared picture's small view (a Uint8Array), in order;
// none when it is larger than PICTURE_LARGEST.
export function pictureParts(id, bytes) {
  if (!bytes.length || bytes.length > PICTURE_LARGEST) return [];
  const parts = Math.ceil(bytes.length / PICTURE_PART_BYTES);
  const blocks = [];
  for (let part = 0; part < parts; ++part) {
    const piece = bytes.subarray(part * PICTURE_PART_BYTES, (part + 1) * PICTURE_PART_BYTES);
    blocks.push(finish(begin(PICTURE).string(id).short(part).short(parts).short(piece.length).raw(piece)));
  }
  return blocks;
}

function long(r) {
  const low = r.short();
  return low + r.short() * 0x10000;
}

// A whole block (its transport header first) as {kind: 'people', first,
// last, people: [{name, since, host}]}, {kind: 'earlier', at, left, line},
// {kind: 'refused', reason, seconds}, {kind: 'ticket', ticket}, {kind:
// 'file', private, picture, size, id, sha256, name, type, from, to} or {kind:
// 'picture', id, part, parts, bytes}; null for anything else.
export function readExtension(bytes) {
  const r = new Reader(bytes);
  if (r.short() !== HEADER_RESERVED || r.short() !== TAG) return null;
  const length = r.short();
  const version = r.short();
  const kind = r.short();
  if (!r.ok || length < HEADER_SIZE || length > bytes.length || version === 0 || version > VERSION) return null;
  const fields = new Reader(bytes.subarray(HEADER_SIZE, length));
  let block = null;
  if (kind === PEOPLE) {
    const flags = fields.short();
    const count = fields.short();
    const people = [];
    for (let i = 0; i < count && fields.ok; ++i) {
      const name = fields.string();
      const since = new Date(long(fields) * 1000);
      people.push({name, since, host: (fields.short() & PERSON_HOST) !== 0});
    }
    block = {kind: 'people', first: (flags & PEOPLE_FIRST) !== 0, last: (flags & PEOPLE_LAST) !== 0, people};
  } else if (kind === EARLIER) {
    const at = new Date(long(fields) * 1000);
    const left = fields.short();
    block = {kind: 'earlier', at, left, line: readLine(fields)};
  } else if (kind === REFUSED) {
    const reason = fields.short();
    block = {kind: 'refused', reason, seconds: reason >= REFUSED_REMOVED ? long(fields) : 0};
  } else if (kind === TICKET) {
    block = {kind: 'ticket', ticket: fields.string()};
  } else if (kind === FILE) {
    const flags = fields.short();
    const size = long(fields) + long(fields) * 2 ** 32;
    const [id, sha256, name, type, from, to] = [0, 0, 0, 0, 0, 0].map(() => fields.string());
    block = {
      kind: 'file', private: (flags & FILE_PRIVATE) !== 0, picture: (flags & FILE_PICTURE) !== 0, size, id, sha256,
      name, type, from, to,
    };
  } else if (kind === PICTURE) {
    const id = fields.string();
    const part = fields.short();
    const parts = fields.short();
    const n = fields.short();
    const bytes = fields.raw(n);
    const fits = part < parts && parts <= PICTURE_MOST_PARTS && n > 0 && n <= PICTURE_PART_BYTES;
    if (fits) block = {kind: 'picture', id, part, parts, bytes};
  }
  return block && fields.ok ? block : null;
}
