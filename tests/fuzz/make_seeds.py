#!/usr/bin/env python3
"""Writes the seeds of the fuzz targets that play a whole server (myrecordset_fuzz,
mysession_fuzz): valid exchanges as the server side of the client's script, each packet as a
record of two length bytes (low byte first) and its payload.

    tests/fuzz/make_seeds.py        # rewrites tests/fuzz/corpus/{myrecordset,mysession}_fuzz/
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Column types and flags of the protocol.
TINY, SHORT, LONG, FLOAT, DOUBLE, NULLT, TIMESTAMP, LONGLONG, INT24 = 1, 2, 3, 4, 5, 6, 7, 8, 9
DATE, TIME, DATETIME, YEAR, VARCHAR, BIT = 10, 11, 12, 13, 15, 16
NEWDECIMAL, ENUM, SET, BLOB, VAR_STRING, STRING, GEOMETRY = 246, 247, 248, 252, 253, 254, 255
NOT_NULL, PRI_KEY, BLOB_FLAG, UNSIGNED, BINARY = 1, 2, 16, 32, 128
LATIN1, UTF8, BIN = 8, 33, 63
MORE_RESULTS, AUTOCOMMIT, STATE_CHANGED = 0x08, 0x02, 0x4000


def lenc(n):
    if n < 251:
        return bytes([n])
    if n < 0x10000:
        return b"\xfc" + struct.pack("<H", n)
    if n < 0x1000000:
        return b"\xfd" + struct.pack("<I", n)[:3]
    return b"\xfe" + struct.pack("<Q", n)


def lenc_text(s):
    s = s if isinstance(s, bytes) else s.encode()
    return lenc(len(s)) + s


def field(name, type_, length=11, flags=0, charset=LATIN1, decimals=0, table="t", default=None):
    b = b"".join(lenc_text(s) for s in ("def", "game", table, table, name, name))
    b += b"\x0c" + struct.pack("<HIBHB", charset, length, type_, flags, decimals) + b"\0\0"
    if default is not None:
        b += lenc_text(default)
    return b


def eof(status=AUTOCOMMIT, warnings=0):
    return b"\xfe" + struct.pack("<HH", warnings, status)


def ok(affected=0, insert_id=0, status=AUTOCOMMIT, warnings=0, info=b"", state=b""):
    b = b"\0" + lenc(affected) + lenc(insert_id) + struct.pack("<HH", status | (STATE_CHANGED if state else 0), warnings)
    if info or state:
        b += lenc_text(info)
    if state:
        b += lenc_text(state)
    return b


def error(number, text, state="HY000"):
    return b"\xff" + struct.pack("<H", number) + b"#" + state.encode() + text.encode()


def text_row(values):
    return b"".join(b"\xfb" if v is None else lenc_text(v) for v in values)


def binary_row(fields, values):
    n = len(values)
    bitmap = bytearray((n + 9) // 8)
    body = b""
    for i, ((_, type_), v) in enumerate(zip(fields, values)):
        if v is None:
            bitmap[(i + 2) // 8] |= 1 << ((i + 2) % 8)
        else:
            body += v
    return b"\0" + bytes(bitmap) + body


def result(fields, rows, status=AUTOCOMMIT):
    return [lenc(len(fields))] + fields + [eof()] + rows + [eof(status)]


def greeting(caps=0x81BFF7FE, plugin=b"mysql_native_password", version=b"10.11.6-MariaDB"):
    scramble = b"abcdefghijklmnopqrst"
    b = b"\x0a" + version + b"\0" + struct.pack("<I", 77) + scramble[:8] + b"\0"
    b += struct.pack("<HBHH", caps & 0xFFFF, LATIN1, AUTOCOMMIT, caps >> 16) + bytes([21]) + b"\0" * 10
    return b + scramble[8:] + b"\0" + plugin + b"\0"


def records(packets):
    return b"".join(struct.pack("<H", len(p)) + p for p in packets)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- the record set -----------------------------------------------------------------------

ALL_TYPES = [
    (field("ti", TINY, 4), "-128"),
    (field("tu", TINY, 3, UNSIGNED), "255"),
    (field("bo", TINY, 1), "1"),
    (field("sm", SHORT, 6), "-32768"),
    (field("me", INT24, 9), "8388607"),
    (field("id", LONG, 11, NOT_NULL | PRI_KEY), "2147483647"),
    (field("bi", LONGLONG, 20, UNSIGNED), "18446744073709551615"),
    (field("fl", FLOAT, 12, 0, LATIN1, 31), "3.40282e38"),
    (field("do", DOUBLE, 22, 0, LATIN1, 31), "-1.7976931348623157e308"),
    (field("de", NEWDECIMAL, 7, 0, LATIN1, 2), "-9999.99"),
    (field("dw", NEWDECIMAL, 67, 0, LATIN1, 30), "1234567890123456789012345678901234.567890123456789012345678901234"),
    (field("da", DATE, 10, BINARY, BIN), "2024-02-29"),
    (field("tm", TIME, 17, BINARY, BIN, 6), "-838:59:59.000000"),
    (field("dt", DATETIME, 26, BINARY, BIN, 6), "9999-12-31 23:59:59.999999"),
    (field("ts", TIMESTAMP, 19, BINARY | NOT_NULL, BIN), "2038-01-19 03:14:07"),
    (field("ye", YEAR, 4, UNSIGNED), "2155"),
    (field("vc", VAR_STRING, 96, 0, UTF8), "龍 é"),
    (field("ch", STRING, 10), "ab"),
    (field("vb", VAR_STRING, 16, BINARY, BIN), b"\x00\x01\xff"),
    (field("en", STRING, 5, 256), "b"),
    (field("se", STRING, 5, 2048), "a,c"),
    (field("bt", BIT, 10, UNSIGNED), b"\x03\xff"),
    (field("tx", BLOB, 65535, BLOB_FLAG, UTF8), "memo text"),
    (field("bl", BLOB, 65535, BLOB_FLAG | BINARY, BIN), b"\x00blob\xff"),
    (field("js", BLOB, 4294967295, BLOB_FLAG, UTF8), '{"a": 1}'),
]


def text_seed(columns, rows):
    fields = [c for c, _ in columns]
    return records(result(fields, [text_row(r) for r in rows]))


def recordset_seeds():
    fields = [c for c, _ in ALL_TYPES]
    values = [v for _, v in ALL_TYPES]
    nulls = [None] * len(values)
    write("myrecordset_fuzz", "all_types", b"\x00" + text_seed(ALL_TYPES, [values, nulls]))
    write("myrecordset_fuzz", "all_types_as_string", b"\x04" + text_seed(ALL_TYPES, [values, nulls]))
    zero = [
        (field("d0", DATE, 10, BINARY, BIN), None),
        (field("t0", DATETIME, 19, BINARY, BIN), None),
        (field("s0", TIMESTAMP, 19, BINARY | NOT_NULL, BIN), None),
        (field("n", LONG, 11), None),
    ]
    zero_rows = [
        ["0000-00-00", "0000-00-00 00:00:00", "0000-00-00 00:00:00", "1"],
        [None, None, "1970-01-01 00:00:01", None],
        ["2024-00-10", "0000-00-00 12:34:56", "2024-01-01 00:00:00", "2"],
    ]
    write("myrecordset_fuzz", "zero_dates", b"\x00" + text_seed(zero, zero_rows[:2]))
    write("myrecordset_fuzz", "zero_dates_kept", b"\x02" + text_seed(zero, zero_rows[:2]))
    write("myrecordset_fuzz", "partial_zero_date", b"\x10" + text_seed(zero, zero_rows))
    long_blob = [(field("id", LONG, 11, PRI_KEY), None), (field("bl", BLOB, 16777215, BLOB_FLAG | BINARY, BIN), None)]
    blob = bytes(range(256)) * 200
    write("myrecordset_fuzz", "long_blob", b"\x10" + text_seed(long_blob, [["1", blob], ["2", ""]]))
    # A row error among the rows.
    two = [(field("a", LONG), None), (field("b", VAR_STRING, 30), None)]
    rows = [text_row(["1", "x"]), error(1317, "Query execution was interrupted", "70100")]
    write("myrecordset_fuzz", "row_error", b"\x00" + records([lenc(2)] + [c for c, _ in two] + [eof()] + rows))

    # Prepared: the prepare reply (no parameters), then the execute reply with binary rows.
    bin_fields = [
        (field("ti", TINY, 4), TINY),
        (field("sm", SHORT, 6), SHORT),
        (field("id", LONG, 11, PRI_KEY), LONG),
        (field("bi", LONGLONG, 20), LONGLONG),
        (field("fl", FLOAT, 12, 0, LATIN1, 31), FLOAT),
        (field("do", DOUBLE, 22, 0, LATIN1, 31), DOUBLE),
        (field("de", NEWDECIMAL, 7, 0, LATIN1, 2), NEWDECIMAL),
        (field("da", DATE, 10, BINARY, BIN), DATE),
        (field("dt", DATETIME, 26, BINARY, BIN, 6), DATETIME),
        (field("ts", TIMESTAMP, 19, BINARY, BIN), TIMESTAMP),
        (field("tm", TIME, 17, BINARY, BIN, 6), TIME),
        (field("ye", YEAR, 4, UNSIGNED), YEAR),
        (field("vc", VAR_STRING, 30), VAR_STRING),
        (field("bl", BLOB, 65535, BLOB_FLAG | BINARY, BIN), BLOB),
        (field("bt", BIT, 10, UNSIGNED), BIT),
    ]
    defs = [f for f, _ in bin_fields]
    values = [
        b"\x80",
        struct.pack("<h", -2),
        struct.pack("<i", 7),
        struct.pack("<q", -1),
        struct.pack("<f", 1.5),
        struct.pack("<d", -2.25),
        lenc_text("123.45"),
        b"\x04" + struct.pack("<HBB", 2024, 2, 29),
        b"\x0b" + struct.pack("<HBBBBBI", 2024, 12, 31, 23, 59, 59, 999999),
        b"\x07" + struct.pack("<HBBBBB", 2038, 1, 19, 3, 14, 7),
        b"\x0c" + struct.pack("<BIBBBI", 1, 34, 22, 59, 59, 500000),
        struct.pack("<H", 2155),
        lenc_text("text"),
        lenc_text(b"\x00\x01" * 40),
        lenc_text(b"\x03\xff"),
    ]
    zeros = [b"\x01", b"\0\0", b"\0\0\0\0", b"\0" * 8, b"\0" * 4, b"\0" * 8, lenc_text("0"), b"\x00", b"\x00",
             b"\x00", b"\x00", b"\0\0", lenc_text(""), lenc_text(""), lenc_text(b"\0\0")]
    prepare = [b"\0" + struct.pack("<IHHBH", 1, len(defs), 0, 0, 0)] + defs + [eof()]
    execute = result(defs, [binary_row(bin_fields, values), binary_row(bin_fields, zeros),
                            binary_row(bin_fields, [None] * len(values))])
    write("myrecordset_fuzz", "binary_rows", b"\x01" + records(prepare + execute))
    write("myrecordset_fuzz", "binary_rows_zero_kept", b"\x03" + records(prepare + execute))


# ---- the session --------------------------------------------------------------------------

def tracked(name, value):
    entry = lenc_text(name) + lenc_text(value)
    return b"\x00" + lenc_text(entry)


def tracked_schema(name):
    return b"\x01" + lenc_text(lenc_text(name))


def login(switch=False):
    out = [greeting()]
    if switch:
        out.append(b"\xfe" + b"mysql_native_password\0" + b"ABCDEFGHIJKLMNOPQRST\0")
    out.append(ok(state=tracked_schema("game")))
    return out


def session_seeds():
    # Commands: 0 two results, 1 a call read row by row, 2 LOAD DATA of the named file, 3 the
    # word LOCAL only, 4 prepared, 5 ping and database, 6 statistics, 7 field list, 8 SET NAMES
    # and reset.
    a = [field("a", LONG)]
    b = [field("b", VAR_STRING, 30, table="u")]
    two_results = result(a, [text_row(["1"]), text_row([None])], AUTOCOMMIT | MORE_RESULTS) + \
        result(b, [text_row(["x"])])
    call = result(a, [text_row([str(i)]) for i in range(6)], AUTOCOMMIT | MORE_RESULTS) + [ok(status=AUTOCOMMIT)]
    load = [b"\xfb" + b"%DIR%/named.csv", ok(affected=1, info=b"Records: 1  Deleted: 0  Skipped: 0  Warnings: 0")]
    params = [field("?", LONGLONG, 21, BINARY, BIN, table=""), field("?", VAR_STRING, 0, 0, BIN, table="")]
    cols = [field("a", LONG), field("b", VAR_STRING, 30), field("c", DATETIME, 19, BINARY, BIN)]
    row = binary_row([(None, LONG), (None, VAR_STRING), (None, DATETIME)],
                     [struct.pack("<i", 9), lenc_text("v"), b"\x07" + struct.pack("<HBBBBB", 2024, 5, 6, 7, 8, 9)])
    prepared = [b"\0" + struct.pack("<IHHBH", 5, 3, 2, 0, 0)] + params + [eof()] + cols + [eof()]
    prepared += result(cols, [row, binary_row([(None, LONG)] * 3, [None, None, None])])
    prepared += result(cols, [row])
    small = [ok(), ok(state=tracked_schema("game")), b"Uptime: 5  Threads: 1  Questions: 9",
             field("a", LONG, default="0"), eof()]
    names = [ok(state=tracked("character_set_client", "gbk")), ok()]

    def seed(name, flags, program, server):
        body = records(server)
        write("mysession_fuzz", name, bytes([flags]) + bytes(program) + body)

    everything = login(True) + two_results + call + small[:2] + small[2:3] + small[3:5] + names + prepared
    seed("every_command", 0x01, [0, 1, 5, 6, 7, 8, 4, 6], everything)
    seed("load_named_file", 0x05, [2, 0, 2, 2, 2, 2, 2, 2], login() + load + two_results)
    seed("load_unnamed_file", 0x04, [3, 2, 2, 2, 2, 2, 2, 2],
         login() + [b"\xfb/etc/passwd", ok()] + [b"\xfb%DIR%/named.csv.bak", ok()])
    seed("row_error", 0x00, [0, 4, 4, 4, 4, 4, 4, 4],
         login() + [lenc(1)] + a + [eof(), text_row(["1"]), error(1317, "Query execution was interrupted")] +
         [error(1064, "You have an error in your SQL syntax")] + prepared)
    seed("login_refused", 0x00, [5] * 8, [greeting(), error(1045, "Access denied for user 'u'@'localhost'", "28000")])
    old_ok = b"\0\0\0\x02\0"
    seed("old_server", 0x00, [5, 6, 5, 6, 5, 6, 5, 6],
         [greeting(caps=0xF7FE & ~0x0200, version=b"4.0.27"), old_ok, old_ok, old_ok, b"Uptime: 1"])


def main():
    recordset_seeds()
    session_seeds()


if __name__ == "__main__":
    main()
