// The people in the chat, beside the transcript: one row per person, sorted
// without regard to letter case, under a heading that counts them. A row
// starts writing privately to that person.

import {asciiLower} from './wire.js';
import {shownName} from './transcript.js';

export class People {
  constructor(list, heading, pick) {
    this.list = list;
    this.heading = heading;
    this.pick = pick;
    this.people = new Map();  // by lower-case name
  }

  // `marks`: {you, host, since (a Date)}.
  add(name, marks = {}) {
    this.people.set(asciiLower(name), {name, ...marks});
    this.render();
  }

  remove(name) {
    this.people.delete(asciiLower(name));
    this.render();
  }

  clear() {
    this.people.clear();
    this.render();
  }

  names() {
    return [...this.people.values()].map((p) => p.name);
  }

  render() {
    const sorted = [...this.people.values()].sort((a, b) =>
      a.name.localeCompare(b.name, undefined, {sensitivity: 'base', numeric: true}));
    const rows = sorted.map((person) => {
      const row = document.createElement('li');
      const button = document.createElement('button');
      button.type = 'button';
      // The name stands apart from the marks after it, whatever its direction.
      const name = document.createElement('bdi');
      name.textContent = shownName(person.name);
      button.append(name, person.you ? ' (you)' : '', person.host ? ' (host)' : '');
      button.title = shownName(person.name) + (person.since ? `, here since ${person.since.toLocaleTimeString()}` : '');
      if (!person.you) button.addEventListener('click', () => this.pick(person.name));
      else button.disabled = true;
      row.append(button);
      return row;
    });
    this.list.replaceChildren(...rows);
    const n = sorted.length;
    this.heading.textContent = n === 1 ? '1 person' : `${n} people`;
  }
}
