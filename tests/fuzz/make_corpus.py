#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target from the wire layout's worked
examples and the default settings file. Run by hand after a layout change;
regression inputs (files named regress-*) are kept as they are."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def u16(v):
    return struct.pack('<H', v)


def counted(text):
    b = text.encode() + b'\0'
    return u16(len(b)) + b


def chat_line(name, police, text, bold=0, italic=0, underline=0, rgb=(0, 0, 0)):
    return counted(name) + counted(police) + counted(text) + b''.join(
        u16(v) for v in (bold, italic, underline) + tuple(rgb))


WELCOME_BOB = bytes.fromhex('03 00 04 00 42 6F 62 00')
ARRIVAL_BOB = bytes.fromhex('03 00 03 00 04 00 42 6F 62 00')
SAYS_HI = bytes.fromhex('01 00 01 00 04 00 42 6F 62 00 06 00 41 72 69 61 6C 00 03 00 68 69 00'
                        ' 01 00 00 00 00 00 FF 00 00 00 00 00')
DEPARTURE_BOB = bytes.fromhex('01 00 04 00 04 00 42 6F 62 00')
SHUTDOWN = bytes.fromhex('01 00 04 00 0F 00 21 21 21 20 53 45 52 56 45 52 20 21 21 21 00')
assert SAYS_HI == u16(1) + u16(1) + chat_line('Bob', 'Arial', 'hi', bold=1, rgb=(255, 0, 0))


def says(name, text):
    return u16(1) + u16(1) + chat_line(name, 'Arial', text)


def private(to, name, text):
    return u16(1) + u16(2) + counted(to) + chat_line(name, 'Arial', text)


def unrelayed(name, text):
    return u16(1) + u16(5) + chat_line(name, 'Arial', text)


def departure(name):
    return u16(1) + u16(4) + counted(name)


def welcome(name):
    return u16(3) + counted(name)


# Our own blocks: HEADER_RESERVED, the tag "JX", the block's length, the
# version, the kind, then its fields.
def block(kind, fields, version=1):
    return u16(2) + b'JX' + u16(10 + len(fields)) + u16(version) + u16(kind) + fields


HELLO = block(1, u16(3))
assert HELLO == bytes.fromhex('02 00 4A 58 0C 00 01 00 01 00 03 00')


def people(flags, *names):
    return block(2, u16(flags) + u16(len(names)) + b''.join(
        counted(n) + struct.pack('<I', 1700000000) + u16(2) for n in names))


def earlier(name, text, left=0):
    return block(3, struct.pack('<I', 1700000000) + u16(left) + chat_line(name, 'Arial', text))


def shared_file(flags, id_, name):
    return block(7, u16(flags) + struct.pack('<II', 160, 0) + b''.join(
        counted(t) for t in (id_, 'ab' * 32, name, 'image/png', 'carol', '')))


def picture_part(id_, part, parts, data):
    return block(8, counted(id_) + u16(part) + u16(parts) + u16(len(data)) + data)


# Record framing of the stream targets: control byte, 16-bit length, bytes.
# Server: control & 3 picks alice (0), the newcomer (1) or a fresh newcomer
# (2); control & 4 drains the queue afterwards. Client: control & 4 drains.
A, B, NEW, DRAIN = 0, 1, 2, 4


def rec(control, data):
    return bytes([control]) + u16(len(data)) + data


def bytewise(control, data):
    return b''.join(rec(control, data[i:i + 1]) for i in range(len(data)))


# Web: the first record's bytes are the request when control & 1, else a
# well-formed upgrade comes first; control & 2 wraps a record in one masked
# binary frame; control & 4 drains.
OWN_REQUEST, FRAMED = 1, 2
UPGRADE = (b'GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n'
           b'Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n')


def frame(opcode, payload, fin=True):
    head = bytes([(0x80 if fin else 0) | opcode])
    n = len(payload)
    head += bytes([0x80 | n]) if n < 126 else bytes([0x80 | 126]) + struct.pack('>H', n)
    return head + b'\x01\x02\x03\x04' + bytes(b ^ (1, 2, 3, 4)[i % 4] for i, b in enumerate(payload))


SEEDS = {
    'codec': {
        'welcome': WELCOME_BOB,
        'arrival': ARRIVAL_BOB,
        'says': SAYS_HI,
        'departure': DEPARTURE_BOB,
        'shutdown': SHUTDOWN,
        'private': private('Bob', 'alice', 'psst'),
        'unrelayed': unrelayed('Bob', 'x'),
        'two-in-one': SAYS_HI + DEPARTURE_BOB,
        'says-1024': u16(1) + u16(1) + chat_line('Bob', 'Arial', 'x' * (1024 - 4 - 6 - 4 - 6 - 12 - 1)),
    },
    'server': {
        'alice-says': rec(A | DRAIN, says('alice', 'hi')),
        'bob-joins-talks-leaves': rec(B, WELCOME_BOB) + rec(B | DRAIN, says('Bob', 'hello'))
        + rec(A, private('bob', 'alice', 'psst')) + rec(B | DRAIN, DEPARTURE_BOB),
        'forgeries': rec(B, WELCOME_BOB) + rec(B | DRAIN, says('alice', 'not me'))
        + rec(B | DRAIN, departure('ALICE')) + rec(B | DRAIN, SHUTDOWN) + rec(B | DRAIN, unrelayed('alice', 'x')),
        'duplicate-names': rec(NEW, welcome('ALICE')) + rec(NEW, welcome('Bob')) + rec(NEW, welcome('bOB'))
        + rec(A | DRAIN, says('alice', 'still here')),
        'pieces': rec(B, WELCOME_BOB[:3]) + rec(B, WELCOME_BOB[3:]) + bytewise(A, SAYS_HI.replace(b'Bob', b'ali'))
        + rec(A | DRAIN, says('alice', 'a') + says('alice', 'b') + departure('alice')),
        'no-welcome': rec(B | DRAIN, SAYS_HI) + rec(NEW, b'\x02\x00junk') + rec(NEW, b'\x09\x00'),
        'private-then-leave': rec(B, WELCOME_BOB) + rec(A, private('BOB', 'alice', 'hi'))
        + rec(B, DEPARTURE_BOB) + rec(A | DRAIN, says('alice', 'after')),
        'hello': rec(A | DRAIN, says('alice', 'kept')) + rec(B, WELCOME_BOB + HELLO + says('Bob', 'hi'))
        + rec(B | DRAIN, HELLO) + rec(A, HELLO) + rec(NEW, HELLO + WELCOME_BOB),
    },
    'client': {
        'conversation': rec(DRAIN, ARRIVAL_BOB + SAYS_HI) + rec(0, private('bob', 'alice', 'psst'))
        + rec(DRAIN, DEPARTURE_BOB + SHUTDOWN),
        'pieces': bytewise(0, SAYS_HI + ARRIVAL_BOB) + rec(DRAIN, b''),
        'joined-as-chat': rec(DRAIN, u16(1) + u16(3) + counted('carol') + private('someone', 'x', 'y')),
        'unrelayed-reserved': rec(0, unrelayed('x', 'y')) + rec(DRAIN, b'\x02\x00abc'),
        'people-earlier': rec(0, people(1, 'alice', 'bob') + people(2, 'carol')) + rec(DRAIN, earlier('alice', 'before', 1))
        + rec(DRAIN, earlier('bob', 'then') + block(9, u16(1)) + block(3, u16(0), version=2) + SAYS_HI),
        'picture-parts': rec(DRAIN, shared_file(2, 'a' * 32, 'dot.png') + picture_part('a' * 32, 0, 2, b'\x89PNG' * 4))
        + rec(DRAIN, picture_part('a' * 32, 1, 2, b'rest') + picture_part('a' * 32, 2, 2, b'x')
              + picture_part('a' * 32, 0, 99, b'x')),
    },
    'web': {
        'page': rec(OWN_REQUEST, b'GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nIf-None-Match: "x"\r\n\r\n'),
        'refused': rec(OWN_REQUEST, b'POST /ws HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi'),
        'large-head': rec(OWN_REQUEST, b'GET / HTTP/1.1\r\n') + b''.join(rec(0, b'X-Pad: ' + b'a' * 1000 + b'\r\n')
                                                                      for _ in range(9)),
        'join-talk-leave': rec(FRAMED, WELCOME_BOB) + rec(FRAMED | DRAIN, says('Bob', 'hello'))
        + rec(FRAMED | DRAIN, private('bob', 'Bob', 'to myself')) + rec(FRAMED | DRAIN, DEPARTURE_BOB),
        'frames-by-hand': bytewise(0, frame(2, WELCOME_BOB)) + rec(0, frame(9, b'ping') + frame(2, SAYS_HI, False))
        + rec(0, frame(0, b'') + frame(8, b'\x03\xe8')) + rec(DRAIN, b''),
        'text-and-overlong': rec(FRAMED, WELCOME_BOB) + rec(0, frame(1, b'text')) + rec(0, frame(2, b'x' * 1025)),
        'keep-alive': rec(OWN_REQUEST, b'GET / HTTP/1.1\r\n\r\nGET /jaselo.css HTTP/1.1\r\n\r\nGET /wi')
        + rec(0, b're.js HTTP/1.1\r\n\r\nGET /x HTTP/1.0\r\nConnection: keep-alive\r\n\r\n')
        + rec(0, b'GET / HTTP/1.1\r\nConnection: close\r\n\r\nGET / HTTP/1.1\r\n\r\n'),
        'page-then-upgrade': rec(OWN_REQUEST, b'GET / HTTP/1.1\r\n\r\n' + UPGRADE + frame(2, WELCOME_BOB))
        + rec(FRAMED | DRAIN, says('Bob', 'hello')),
    },
    'config': {
        'default': b'#Pseudo\r\n9 username\r\n#Client-Server\r\n1 0\r\n#IpAddress\r\n127.0.0.1\r\n'
        b'#Port\r\n27015\r\n#Police\r\n6 Arial\r\n#Couleur\r\n0 0 0\r\n#Mode\r\n0 0 0\r\n',
        'lf-only': b'#Pseudo\n4 bob\n#Client-Server\n0 1\n#IpAddress\n192.168.1.20\n'
        b'#Port\n65535\n#Police\n12 Courier New\n#Couleur\n255 128 0\n#Mode\n2 0 7\n',
        'long-count': b'#Pseudo\r\n40 abcdefghijklmnopqrstuvwxyz0123456789\r\n#Client-Server\r\n1 0\r\n',
    },
}

# Findings kept as regression inputs, where they were made by hand.
# A chat line one byte longer than a message can hold, sent as its first 1024
# bytes: the reader took the missing last byte from past the data, and the
# server relayed 1024 bytes that no client can cut back into messages.
OVERLONG = says('alice', 'x' * 990)  # 35 bytes of fields and counts + 990
assert len(OVERLONG) == 1025
REGRESSIONS = {
    'server': {
        'relay-of-overlong-line': rec(A, OVERLONG[:1024]) + rec(A | DRAIN, says('alice', 'next')),
    },
    # Messages that yield nothing ended a poll loop's drain, one per pass,
    # while a forger queued dozens per pass (the seed 'forgeries' shows it too).
    'client': {
        'drain-past-nothing': rec(DRAIN, private('someone', 'x', 'y') + SAYS_HI),
    },
}

for target, seeds in SEEDS.items():
    d = os.path.join(HERE, 'corpus', target)
    os.makedirs(d, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(d, 'seed-' + name), 'wb') as f:
            f.write(data)

for target, regressions in REGRESSIONS.items():
    for name, data in regressions.items():
        with open(os.path.join(HERE, 'corpus', target, 'regress-' + name), 'wb') as f:
            f.write(data)
