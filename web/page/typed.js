// What a typed line asks Send to do, as in the desktop window:
// "/msg nick text" or "/m nick text" is a private line for nick (without a
// nickname or a text it is not sent); a line beginning with "//" goes out
// without its first "/"; every other line goes out exactly as typed.

import {asciiLower, utf8Length} from './wire.js';

const isBlank = (c) => c === ' ' || c === '\t' || c === '\r' || c === '\n';

function startsWithCommand(typed, command) {
  if (asciiLower(typed.slice(0, command.length)) !== command) return false;
  return typed.length === command.length || isBlank(typed[command.length]);
}

// The nickname at the start of `rest`: the longest known name standing there
// whole (names may hold blanks), else everything up to the first blank.
function nicknameLength(rest, knownNames) {
  let known = 0;
  for (const name of knownNames) {
    if (!name || name.length <= known || name.length > rest.length) continue;
    if (asciiLower(rest.slice(0, name.length)) !== asciiLower(name)) continue;
    if (name.length === rest.length || isBlank(rest[name.length])) known = name.length;
  }
  if (known) return known;
  let n = 0;
  while (n < rest.length && !isBlank(rest[n])) ++n;
  return n;
}

// {kind: 'public'|'private'|'incomplete', addressee, text}
export function parseTyped(typed, knownNames = []) {
  if (typed.startsWith('//')) return {kind: 'public', text: typed.slice(1)};
  const command = startsWithCommand(typed, '/msg') ? 4 : startsWithCommand(typed, '/m') ? 2 : 0;
  if (!command) return {kind: 'public', text: typed};
  let rest = typed.slice(command).replace(/^[ \t\r\n]+/, '');
  const n = nicknameLength(rest, knownNames);
  if (n === 0 || n === rest.length) return {kind: 'incomplete'};
  const addressee = rest.slice(0, n);
  rest = rest.slice(n);
  rest = rest.slice(rest.startsWith('\r\n') ? 2 : 1);
  if (!rest) return {kind: 'incomplete'};
  return {kind: 'private', addressee, text: rest};
}

// Bytes of the box's limit a typed line takes: what goes out, and for a
// private line its addressee field too, so a full box fits either way.
export function limitBytes(typed, knownNames = []) {
  const line = parseTyped(typed, knownNames);
  if (line.kind === 'incomplete') return utf8Length(typed);
  if (line.kind === 'private') return utf8Length(line.text) + 2 + utf8Length(line.addressee) + 1;
  return utf8Length(line.text);
}
