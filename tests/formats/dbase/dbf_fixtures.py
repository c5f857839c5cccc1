#!/usr/bin/python3
"""Writes the database viewer's test tables into a folder, then reads each back with python3-dbfread and
prints what dbfread returns as JSON, one canonical text per value, so the C++ tests compare our reader's
values with an independent reader's.  Usage: dbf_fixtures.py FOLDER"""
import datetime, decimal, json, os, struct, sys

import dbfread

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def julian(d):
    return d.toordinal() + 1721425


class Table:
    def __init__(self, version, codepage, fields, encoding):
        self.version, self.codepage, self.fields, self.encoding = version, codepage, fields, encoding
        self.records, self.memo_blocks, self.memo_kind = [], [], None

    def memo(self, data, binary=False):
        """Adds a memo and returns its block number (counted from the start of the memo file)."""
        bs, head, first = {'fpt': (64, 8, 8), 'dbt3': (512, 2, 1), 'dbt4': (512, 8, 1)}[self.memo_kind]
        block = getattr(self, 'next_block', first)
        self.next_block = block + (head + len(data) + bs - 1) // bs
        self.memo_blocks.append((data, binary))
        return block

    def add(self, values, deleted=False):
        self.records.append((values, deleted))

    def encode(self, f, v):
        name, t, length, dec = f
        if t in 'CV':
            return (v or '').encode(self.encoding).ljust(length, b' ')
        if t in 'NF':
            return b' ' * length if v is None else v.encode().rjust(length, b' ')
        if t == 'L':
            return {True: b'T', False: b'F', None: b'?'}[v]
        if t == 'D':
            return b'        ' if v is None else ('%04d%02d%02d' % (v.year, v.month, v.day)).encode()
        if t in 'I+':
            return struct.pack('<i', v)
        if t in 'T@':
            if v is None:
                return b'\0' * 8
            ms = ((v.hour * 60 + v.minute) * 60 + v.second) * 1000 + v.microsecond // 1000
            return struct.pack('<II', julian(v.date()), ms)
        if t == 'Y':
            return struct.pack('<q', v)
        if t == 'B' and length == 8:
            return struct.pack('<d', v)
        if t in 'MBG':
            if v is None:
                return b'\0' * 4 if length == 4 else b' ' * 10
            return struct.pack('<I', v) if length == 4 else str(v).rjust(10).encode()
        if t == '0':
            return b'\0' * length
        raise ValueError(t)

    def write(self, path):
        vfp = self.version in (0x30, 0x31, 0x32)
        hl = 32 + 32 * len(self.fields) + 1 + (263 if vfp else 0)
        rl = 1 + sum(f[2] for f in self.fields)
        h = struct.pack('<BBBBIHH', self.version, 126, 5, 17, len(self.records), hl, rl)
        h += b'\0' * 17 + bytes([self.codepage]) + b'\0\0'
        disp = 1
        for name, t, length, dec in self.fields:
            flags = 0x01 if t == '0' else 0
            h += name.encode().ljust(11, b'\0') + t.encode() + struct.pack('<I', disp if vfp else 0)
            h += bytes([length, dec, flags]) + b'\0' * 13
            disp += length
        h += b'\r' + (b'\0' * 263 if vfp else b'')
        for values, deleted in self.records:
            h += b'*' if deleted else b' '
            for f, v in zip(self.fields, values):
                b = self.encode(f, v)
                assert len(b) == f[2], (f, b)
                h += b
        h += b'\x1a'
        with open(path, 'wb') as fh:
            fh.write(h)
        if self.memo_kind:
            self.write_memo(os.path.splitext(path)[0])

    def write_memo(self, base):
        if self.memo_kind == 'fpt':
            bs = 64
            body = bytearray(512)
            body[6:8] = struct.pack('>H', bs)
            blocks = []
            # FoxPro counts blocks from the start of the file: the 512-byte header is blocks 0..7.
            first = 512 // bs
            for data, binary in self.memo_blocks:
                rec = struct.pack('>II', 0 if binary else 1, len(data)) + data
                rec += b'\0' * (-len(rec) % bs)
                blocks.append(rec)
            body[0:4] = struct.pack('>I', first + sum(len(b) // bs for b in blocks))
            with open(base + '.fpt', 'wb') as fh:
                fh.write(bytes(body) + b''.join(blocks))
        elif self.memo_kind == 'dbt3':
            body = bytearray(512)
            out = b''
            for data, binary in self.memo_blocks:
                rec = data + b'\x1a\x1a'
                out += rec + b'\0' * (-len(rec) % 512)
            body[0:4] = struct.pack('<I', 1 + len(out) // 512)
            with open(base + '.dbt', 'wb') as fh:
                fh.write(bytes(body) + out)
        else:  # dBASE IV
            bs = 512
            body = bytearray(512)
            body[20:22] = struct.pack('<H', bs)
            out = b''
            for data, binary in self.memo_blocks:
                rec = b'\xff\xff\x08\x00' + struct.pack('<I', len(data) + 8) + data
                out += rec + b'\0' * (-len(rec) % bs)
            body[0:4] = struct.pack('<I', 1 + len(out) // bs)
            with open(base + '.dbt', 'wb') as fh:
                fh.write(bytes(body) + out)


tables = {}

# Visual FoxPro: every field type, a deleted record, empty values, a hidden null-flags column.
t = Table(0x30, 0x03, [('NAME', 'C', 12, 0), ('PRICE', 'N', 9, 2), ('RATIO', 'F', 12, 4), ('PAID', 'L', 1, 0),
                       ('DAY', 'D', 8, 0), ('COUNT', 'I', 4, 0), ('STAMP', 'T', 8, 0), ('CASH', 'Y', 8, 4),
                       ('WEIGHT', 'B', 8, 0), ('WHEN', '@', 8, 0), ('SERIAL', '+', 4, 0), ('NOTES', 'M', 4, 0),
                       ('PIC', 'G', 4, 0), ('_NullFlags', '0', 1, 0)], 'cp1252')
t.memo_kind = 'fpt'
t.add(['Café crème', '12.50', '0.3333', True, datetime.date(2024, 2, 29), -7,
       datetime.datetime(2000, 1, 1, 1, 0, 1, 500000), 123456789, 2.5, datetime.datetime(1970, 1, 1, 0, 0, 1), 1,
       t.memo('First line\r\nsecond line with é'.encode('cp1252')), t.memo(b'\x89PNG\0\1\2', True), None])
t.add(['', None, None, None, None, 0, None, 0, 0.0, None, 2, None, None, None])
t.add(['gone', '1.00', '1.0000', False, datetime.date(1999, 12, 31), 2147483647,
       datetime.datetime(1999, 12, 31, 23, 59, 59), -15000, -1e-300, None, 3, t.memo(b'deleted memo'), None, None], deleted=True)
t.add(['last', '-99999.99', '12345.6789', False, datetime.date(1, 1, 1), -2147483648,
       datetime.datetime(2038, 1, 19, 3, 14, 8), 9223372036854775807, 1e300, datetime.datetime(2024, 6, 1, 12, 0), 4,
       t.memo(b''), None, None])
tables['types_vfp.dbf'] = (t, 'cp1252')

# dBASE III with a .dbt memo (text up to the end mark).
t = Table(0x83, 0x03, [('TITLE', 'C', 20, 0), ('QTY', 'N', 5, 0), ('BODY', 'M', 10, 0)], 'cp1252')
t.memo_kind = 'dbt3'
t.add(['one', '1', t.memo(b'a memo of dBASE III\r\nover two lines')])
t.add(['two', '22', None], deleted=True)
t.add(['three', '333', t.memo(b'x' * 700)])
tables['db3memo.dbf'] = (t, 'cp1252')

# dBASE IV with a .dbt memo (length-prefixed blocks), code page 850.
t = Table(0x8B, 0x02, [('WORD', 'C', 10, 0), ('TEXT', 'M', 10, 0), ('ON', 'D', 8, 0)], 'cp850')
t.memo_kind = 'dbt4'
t.add(['Grüße', t.memo('Größe über alles ½'.encode('cp850')), datetime.date(2020, 5, 17)])
t.add(['Ærø', t.memo(b''), None])
tables['db4memo.dbf'] = (t, 'cp850')

# Plain dBASE III tables in other code pages.
for name, cp, enc, words in [('cp1251.dbf', 0xC9, 'cp1251', ['Привет', 'мир', 'Ёлка']),
                             ('cp866.dbf', 0x65, 'cp866', ['Дом', 'Кот', 'ёж']),
                             ('cp437.dbf', 0x01, 'cp437', ['╔═╗ box', 'naïve', 'ß½']),
                             ('cp932.dbf', 0x7B, 'cp932', ['日本語', 'ｶﾀｶﾅ', 'テスト'])]:
    t = Table(0x03, cp, [('WORD', 'C', 16, 0), ('N', 'N', 4, 0)], enc)
    for i, w in enumerate(words):
        t.add([w, str(i)], deleted=(i == 1))
    tables[name] = (t, enc)

# Two columns A and B for the byte-for-byte text export.
t = Table(0x03, 0x03, [('A', 'C', 5, 0), ('B', 'N', 6, 2)], 'cp1252')
t.add(['x', '1.50'])
t.add(['tab', None])
t.add(['é', '-2.00'])
tables['ab.dbf'] = (t, 'cp1252')

result = {}


def canon(v):
    if v is None:
        return None
    if isinstance(v, bool):
        return 'True' if v else 'False'
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return format(v, '.17g')
    if isinstance(v, decimal.Decimal):
        s = format(v, 'f')
        if '.' in s:
            s = s.rstrip('0').rstrip('.')
        return s
    if isinstance(v, datetime.datetime):
        return v.strftime('%Y-%m-%d %H:%M:%S.') + '%03d' % (v.microsecond // 1000)
    if isinstance(v, datetime.date):
        return '%04d-%02d-%02d' % (v.year, v.month, v.day)
    if isinstance(v, bytes):
        return 'bytes:' + v.hex()
    return v


for name, (table, enc) in tables.items():
    path = os.path.join(out, name)
    table.write(path)
    db = dbfread.DBF(path, encoding=enc, char_decode_errors='strict')
    names = [f.name for f in db.fields]
    live = [[canon(r[n]) for n in names] for r in db.records]
    dead = [[canon(r[n]) for n in names] for r in db.deleted]
    result[name] = {'fields': names, 'records': live, 'deleted': dead}
json.dump(result, sys.stdout, ensure_ascii=False, indent=0)
