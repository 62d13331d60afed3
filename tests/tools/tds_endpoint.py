#!/usr/bin/env python3
"""A small TDS endpoint for the tests of the database save (never a server: it stores nothing).

It listens on 127.0.0.1 (a free port, printed as "PORT <n>" on stdout), answers pre-login without
encryption, LOGIN7, SQL batches and the RPC calls that an ODBC driver sends for prepared statements
(sp_prepare, sp_execute, sp_prepexec, sp_executesql, sp_unprepare), and writes one JSON line per event to
the --log file:

  {"event": "login", "conn": 1, "user": ..., "password": ..., "database": ..., "tds": "7.4"}
  {"event": "batch", "conn": 1, "text": ...}
  {"event": "rpc", "conn": 1, "proc": "sp_prepexec", "params": [{"name", "type", "value", "output"}]}
  {"event": "execute", "conn": 1, "text": <statement>, "params": [{"type", "value"}...]}  (one per run
      of a statement: a batch, or a prepared statement with its values)
  {"event": "error", "conn": 1, "number": ..., "text": ...}   a rule answered with a server error
  {"event": "close", "conn": 1, "text": ...}                  a rule closed the connection
  {"event": "disconnect", "conn": 1}

Values: NULL is null, binary is upper-case hex, text is exact (every code point), decimal and money are
exact decimal text, dates are ISO text with the type's fraction digits, float and real are numbers.

--rules names a JSON file holding a list of rules, tried in order on every login and every statement run:
  {"match": "<regex on the statement text>", "error": 2714, "severity": 16, "message": "...",
   "skip": 0, "times": null}   answer with a server error (skip the first `skip` matches; fire at most
                               `times` times)
  {"match": "...", "close": true}             close the connection instead of answering
  {"on": "login", "error": 18456, "severity": 14, "message": "..."}   refuse the login
  {"on": "prelogin", "hang": true}            accept the connection and never answer it
  {"on": "login", "hang": true}               answer the pre-login, never the login
  {"on": "tds", "match": "^7\\.4$", "close": true}   close the connection on a login of that protocol version
  {"match": "...", "hang": true, "attention": false}   stop answering at this statement: every later
                               packet is read and ignored; with "attention": true a cancel (attention)
                               is still acknowledged, as a server blocked on a lock does

A parameter that cannot be decoded, or a date or time value outside its type's range, is answered with
a server error (as the server answers a malformed RPC), never by dropping the connection.
"""
import argparse
import datetime
import json
import re
import socketserver
import struct
import threading
import uuid

# Packet types
SQL_BATCH, RPC, REPLY, ATTENTION, LOGIN7, PRELOGIN, TRANSACTION = 0x01, 0x03, 0x04, 0x06, 0x10, 0x12, 0x0E

# Token types
T_RETURNSTATUS, T_ERROR, T_INFO, T_LOGINACK = 0x79, 0xAA, 0xAB, 0xAD
T_ENVCHANGE, T_DONE, T_DONEPROC, T_DONEINPROC, T_RETURNVALUE = 0xE3, 0xFD, 0xFE, 0xFF, 0xAC
DONE_MORE, DONE_ERROR, DONE_COUNT, DONE_ATTN = 0x01, 0x02, 0x10, 0x20

PROC_IDS = {1: "sp_cursor", 10: "sp_executesql", 11: "sp_prepare", 12: "sp_execute", 13: "sp_prepexec",
            14: "sp_prepexecrpc", 15: "sp_unprepare"}
COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])  # Latin1_General_CI_AS
DEFAULT_MESSAGES = {
    208: "Invalid object name '%s'.", 1801: "Database '%s' already exists. Choose a different database name.",
    2627: "Violation of PRIMARY KEY constraint '%s'. Cannot insert duplicate key.",
    2714: "There is already an object named '%s' in the database.", 18456: "Login failed for user '%s'.",
}


def ucs2(text):
    return text.encode("utf-16-le", "surrogatepass")


def b_varchar(text):
    data = ucs2(text)
    return bytes([len(data) // 2]) + data


def us_varchar(text):
    data = ucs2(text)
    return struct.pack("<H", len(data) // 2) + data


class Reader:
    """Bounds-checked little-endian reads over one message."""

    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, n):
        if n < 0 or self.pos + n > len(self.data):
            raise ValueError("message too short")
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def u64(self):
        return struct.unpack("<Q", self.take(8))[0]

    def text(self, chars):
        return self.take(2 * chars).decode("utf-16-le", "surrogatepass")

    def done(self):
        return self.pos >= len(self.data)


def days_to_date(days):
    return datetime.date(1, 1, 1) + datetime.timedelta(days=days)


def time_text(value, scale):
    """A time of `scale` fraction digits, counted in 10^-scale seconds since midnight."""
    seconds, fraction = divmod(value, 10 ** scale)
    hours, rest = divmod(seconds, 3600)
    text = "%02d:%02d:%02d" % (hours, rest // 60, rest % 60)
    return text + ("." + str(fraction).zfill(scale) if scale else "")


def decimal_text(sign, magnitude, scale):
    digits = str(magnitude).zfill(scale + 1)
    text = digits[:-scale] + "." + digits[-scale:] if scale else digits
    return ("-" if sign == 0 and magnitude else "") + text


def money_text(raw):
    sign = "-" if raw < 0 else ""
    whole, frac = divmod(abs(raw), 10000)
    return "%s%d.%04d" % (sign, whole, frac)


def read_type_info(r):
    """TYPE_INFO of an RPC parameter: (name, reader of the value)."""
    t = r.u8()
    fixed = {0x30: ("tinyint", 1), 0x32: ("bit", 1), 0x34: ("smallint", 2), 0x38: ("int", 4),
             0x3A: ("smalldatetime", 4), 0x3B: ("real", 4), 0x3C: ("money", 8), 0x3D: ("datetime", 8),
             0x3E: ("float", 8), 0x7A: ("smallmoney", 4), 0x7F: ("bigint", 8), 0x1F: ("null", 0)}
    if t in fixed:
        name, size = fixed[t]
        return {"type": name}, lambda rr: decode_fixed(t, rr.take(size))
    if t in (0x26, 0x68, 0x6D, 0x6E, 0x6F, 0x24):  # INTN BITN FLTN MONEYN DATETIMN GUID
        size = r.u8()
        names = {0x26: {1: "tinyint", 2: "smallint", 4: "int", 8: "bigint"}, 0x68: {}, 0x6D: {4: "real", 8: "float"},
                 0x6E: {4: "smallmoney", 8: "money"}, 0x6F: {4: "smalldatetime", 8: "datetime"}, 0x24: {}}[t]
        default = {0x68: "bit", 0x24: "uniqueidentifier"}.get(t, "?")
        return {"type": names.get(size, default)}, lambda rr: decode_bytelen(t, rr)
    if t in (0x6A, 0x6C, 0x37, 0x3F):  # DECIMALN NUMERICN DECIMAL NUMERIC
        r.u8()
        precision, scale = r.u8(), r.u8()
        return {"type": "decimal" if t in (0x6A, 0x37) else "numeric", "precision": precision, "scale": scale}, \
            lambda rr: decode_decimal(rr, scale)
    if t == 0x28:
        return {"type": "date"}, lambda rr: decode_datetime_family(rr, t, 0)
    if t in (0x29, 0x2A, 0x2B):
        scale = r.u8()
        name = {0x29: "time", 0x2A: "datetime2", 0x2B: "datetimeoffset"}[t]
        return {"type": name, "scale": scale}, lambda rr: decode_datetime_family(rr, t, scale)
    if t in (0xA5, 0xA7, 0xAD, 0xAF, 0xE7, 0xEF):  # BIGVARBIN BIGVARCHR BIGBINARY BIGCHAR NVARCHAR NCHAR
        size = r.u16()
        if t in (0xA7, 0xAF, 0xE7, 0xEF):
            r.take(5)
        name = {0xA5: "varbinary", 0xA7: "varchar", 0xAD: "binary", 0xAF: "char", 0xE7: "nvarchar",
                0xEF: "nchar"}[t]
        info = {"type": name, "size": "max" if size == 0xFFFF else size}
        if size == 0xFFFF:
            return info, lambda rr: decode_bytes(t, read_plp(rr))
        return info, lambda rr: decode_bytes(t, read_ushort_value(rr))
    if t in (0x22, 0x23, 0x63):  # IMAGE TEXT NTEXT
        r.u32()
        if t != 0x22:
            r.take(5)
        name = {0x22: "image", 0x23: "text", 0x63: "ntext"}[t]
        return {"type": name}, lambda rr: decode_bytes(t, read_long_value(rr))
    if t == 0xF1:  # XML
        if r.u8():
            r.take(r.u8() * 2)
            r.take(r.u8() * 2)
            r.take(r.u16() * 2)
        return {"type": "xml"}, lambda rr: decode_bytes(0xE7, read_plp(rr))
    raise ValueError("type 0x%02X not understood" % t)


def read_ushort_value(r):
    n = r.u16()
    return None if n == 0xFFFF else r.take(n)


def read_long_value(r):
    n = r.u32()
    return None if n == 0xFFFFFFFF else r.take(n)


def read_plp(r):
    total = r.u64()
    if total == 0xFFFFFFFFFFFFFFFF:
        return None
    parts = []
    while True:
        n = r.u32()
        if n == 0:
            return b"".join(parts)
        parts.append(r.take(n))


def decode_fixed(t, data):
    if t == 0x1F:
        return None
    if t in (0x30,):
        return data[0]
    if t == 0x32:
        return bool(data[0])
    if t in (0x34, 0x38, 0x7F):
        return int.from_bytes(data, "little", signed=True)
    if t == 0x3B:
        return struct.unpack("<f", data)[0]
    if t == 0x3E:
        return struct.unpack("<d", data)[0]
    if t in (0x3C, 0x7A):
        return money_text(money_raw(data))
    if t == 0x3D:
        return legacy_datetime_text(data)
    if t == 0x3A:
        days, minutes = struct.unpack("<HH", data)
        return (datetime.datetime(1900, 1, 1) + datetime.timedelta(days=days, minutes=minutes)).strftime(
            "%Y-%m-%d %H:%M:%S")
    raise ValueError("fixed type")


def money_raw(data):
    if len(data) == 4:
        return struct.unpack("<i", data)[0]
    high, low = struct.unpack("<iI", data)
    return (high << 32) | low


def legacy_datetime_text(data):
    days, ticks = struct.unpack("<iI", data)
    ms = (ticks * 10 + 1) // 3  # 1/300 s ticks, shown to the millisecond as the server shows them
    moment = datetime.datetime(1900, 1, 1) + datetime.timedelta(days=days, milliseconds=ms)
    return moment.strftime("%Y-%m-%d %H:%M:%S.") + "%03d" % (moment.microsecond // 1000)


def decode_bytelen(t, r):
    n = r.u8()
    if n == 0:
        return None
    data = r.take(n)
    if t == 0x26:
        return int.from_bytes(data, "little", signed=n > 1)  # tinyint is unsigned
    if t == 0x68:
        return bool(data[0])
    if t == 0x6D:
        return struct.unpack("<f" if n == 4 else "<d", data)[0]
    if t == 0x6E:
        return money_text(money_raw(data))
    if t == 0x6F:
        return decode_fixed(0x3A if n == 4 else 0x3D, data)
    return str(uuid.UUID(bytes_le=bytes(data))).upper()


def decode_decimal(r, scale):
    n = r.u8()
    if n == 0:
        return None
    data = r.take(n)
    return decimal_text(data[0], int.from_bytes(data[1:], "little"), scale)


MAX_DAYS = (datetime.date(9999, 12, 31) - datetime.date(1, 1, 1)).days


def decode_datetime_family(r, t, scale):
    """date, time, datetime2, datetimeoffset; a value outside its type's range is refused as the server
    refuses it."""
    n = r.u8()
    if n == 0:
        return None
    data = r.take(n)
    if scale > 7:
        raise BadValue("scale %d" % scale)
    time_len = 0 if t == 0x28 else (3 if scale <= 2 else 4 if scale <= 4 else 5)
    if n != time_len + (3 if t != 0x29 else 0) + (2 if t == 0x2B else 0):
        raise BadValue("length %d" % n)
    time_part = int.from_bytes(data[:time_len], "little")
    if time_part >= 86400 * 10 ** scale:
        raise BadValue("time of day %d" % time_part)
    days = int.from_bytes(data[time_len:time_len + 3], "little")
    if t != 0x29 and days > MAX_DAYS:
        raise BadValue("day number %d" % days)
    day_part = days_to_date(days) if t != 0x29 else None
    if t == 0x28:
        return day_part.isoformat()
    if t == 0x29:
        return time_text(time_part, scale)
    if t == 0x2A:
        return day_part.isoformat() + " " + time_text(time_part, scale)
    # datetimeoffset is stored in UTC: shown as the local time the client sent, with its offset
    offset = struct.unpack("<h", data[-2:])[0]
    if abs(offset) > 840:
        raise BadValue("offset %d" % offset)
    fraction = 10 ** scale
    local = datetime.datetime.combine(day_part, datetime.time()) + datetime.timedelta(
        seconds=time_part // fraction, minutes=offset)
    seconds = local.hour * 3600 + local.minute * 60 + local.second
    sign = "+" if offset >= 0 else "-"
    return "%s %s %s%02d:%02d" % (local.date().isoformat(), time_text(seconds * fraction + time_part % fraction, scale),
                                  sign, abs(offset) // 60, abs(offset) % 60)


def decode_bytes(t, data):
    if data is None:
        return None
    if t in (0xE7, 0xEF, 0x63):
        return data.decode("utf-16-le", "surrogatepass")
    if t in (0xA7, 0xAF, 0x23):
        return data.decode("cp1252", "replace")
    return data.hex().upper()


def read_param(r):
    name = r.text(r.u8())
    status = r.u8()
    info, read_value = read_type_info(r)
    param = {"name": name, **info, "value": read_value(r)}
    if status & 0x01:
        param["output"] = True
    return param


class Rules:
    def __init__(self, rules):
        self.rules = [dict(rule, fired=0, seen=0) for rule in rules]
        self.lock = threading.Lock()

    def find(self, on, text):
        with self.lock:
            for rule in self.rules:
                if rule.get("on", "statement") != on:
                    continue
                if "match" in rule and not re.search(rule["match"], text or "", re.S | re.I):
                    continue
                rule["seen"] += 1
                if rule["seen"] <= rule.get("skip", 0):
                    continue
                if rule.get("times") is not None and rule["fired"] >= rule["times"]:
                    continue
                rule["fired"] += 1
                return rule
        return None


class Recorder:
    def __init__(self, path):
        self.file = open(path, "a", encoding="ascii")
        self.lock = threading.Lock()

    def write(self, **event):
        with self.lock:
            self.file.write(json.dumps(event, ensure_ascii=True) + "\n")
            self.file.flush()


class Closed(Exception):
    pass


class BadValue(ValueError):
    """A parameter value that its type cannot hold."""


class Hang(Exception):
    """A rule stopped the session from answering."""

    def __init__(self, attention):
        super().__init__()
        self.attention = attention


class Session(socketserver.BaseRequestHandler):
    counter = 0
    counter_lock = threading.Lock()

    def setup(self):
        with Session.counter_lock:
            Session.counter += 1
            self.conn_id = Session.counter
        self.packet_size = 4096
        self.tds = 0x74000004
        self.prepared = {}
        self.next_handle = 1
        self.rules, self.recorder = self.server.rules, self.server.recorder

    # --- framing
    def read_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.request.recv(n - len(data))
            if not chunk:
                raise Closed()
            data += chunk
        return data

    def read_message(self):
        payload, kind = b"", None
        while True:
            header = self.read_exact(8)
            kind, status, length = header[0], header[1], struct.unpack(">H", header[2:4])[0]
            if length < 8:
                raise Closed()
            payload += self.read_exact(length - 8)
            if status & 0x01:
                return kind, payload

    def send_message(self, payload, kind=REPLY):
        room = self.packet_size - 8
        chunks = [payload[i:i + room] for i in range(0, len(payload), room)] or [b""]
        for number, chunk in enumerate(chunks, 1):
            last = number == len(chunks)
            self.request.sendall(struct.pack(">BBHHBB", kind, 1 if last else 0, len(chunk) + 8, 51,
                                             number % 256, 0) + chunk)

    # --- tokens
    def done(self, token=T_DONE, status=0, count=0, curcmd=0):
        width = "<HHQ" if self.tds >= 0x72000000 else "<HHI"
        return bytes([token]) + struct.pack(width, status, curcmd, count)

    def message_token(self, token, number, severity, text, state=1):
        body = struct.pack("<iBB", number, state, severity) + us_varchar(text) + b_varchar("KESTRANE-TEST") + \
            b_varchar("") + (struct.pack("<i", 1) if self.tds >= 0x72000000 else struct.pack("<H", 1))
        return bytes([token]) + struct.pack("<H", len(body)) + body

    def envchange(self, kind, new, old):
        if kind == 7:
            body = bytes([kind, len(new)]) + new + bytes([len(old)]) + old
        else:
            body = bytes([kind]) + b_varchar(new) + b_varchar(old)
        return bytes([T_ENVCHANGE]) + struct.pack("<H", len(body)) + body

    def handle(self):
        try:
            while True:
                try:
                    self.serve()
                    return
                except Hang as hang:
                    if not self.ignore_until_attention(hang.attention):
                        return
        except (Closed, ConnectionError):
            pass
        finally:
            self.recorder.write(event="disconnect", conn=self.conn_id)

    def ignore_until_attention(self, attention):
        """Reads and ignores every packet; an attention ends the silence when the rule allows it."""
        while True:
            kind, _ = self.read_message()
            if kind == ATTENTION and attention:
                self.recorder.write(event="attention", conn=self.conn_id)
                self.send_message(self.done(status=DONE_ATTN))
                return True

    def serve(self):
        while True:
            kind, payload = self.read_message()
            if kind == PRELOGIN:
                rule = self.rules.find("prelogin", "")
                if rule and rule.get("hang"):
                    self.recorder.write(event="hang", conn=self.conn_id, text="prelogin")
                    raise Hang(False)
                self.prelogin()
            elif kind == LOGIN7:
                if not self.login(payload):
                    return
            elif kind == SQL_BATCH:
                self.batch(payload)
            elif kind == RPC:
                self.rpc(payload)
            elif kind == ATTENTION:
                self.send_message(self.done(status=DONE_ATTN))
            elif kind == TRANSACTION:
                self.send_message(self.done())
            else:
                return

    def prelogin(self):
        options = [(0x00, bytes([15, 0, 0x07, 0xD0, 0, 0])), (0x01, bytes([0x02])), (0x02, b"\x00"),
                   (0x03, b""), (0x04, b"\x00")]
        offset = 5 * len(options) + 1
        head, body = b"", b""
        for token, data in options:
            head += struct.pack(">BHH", token, offset + len(body), len(data))
            body += data
        self.send_message(head + b"\xff" + body)

    def login(self, payload):
        r = Reader(payload)
        r.take(4)
        self.tds = struct.unpack("<I", r.take(4))[0]
        self.tds = min(max(self.tds, 0x71000001), 0x74000004)
        r.take(16)
        option2 = r.take(4)[1]
        r.take(8)

        def field(index):
            fr = Reader(payload, 36 + 4 * index)
            offset, length = fr.u16(), fr.u16()
            return Reader(payload, offset).take(2 * length)

        password = bytes(((b ^ 0xA5) << 4 & 0xF0) | ((b ^ 0xA5) >> 4) for b in field(2))
        text = {name: field(i).decode("utf-16-le", "surrogatepass")
                for i, name in ((0, "host"), (1, "user"), (3, "app"), (4, "server"), (7, "language"),
                                (8, "database"))}
        text["password"] = password.decode("utf-16-le", "surrogatepass")
        version = "%d.%d" % (self.tds >> 28, self.tds >> 24 & 15)
        self.recorder.write(event="login", conn=self.conn_id, tds=version, integrated=bool(option2 & 0x80), **text)
        rule = self.rules.find("tds", version)
        if rule and rule.get("close"):
            self.recorder.write(event="close", conn=self.conn_id, text="login " + version)
            return False
        rule = self.rules.find("login", text["user"])
        if rule and rule.get("hang"):
            self.recorder.write(event="hang", conn=self.conn_id, text="login")
            raise Hang(False)
        if rule:
            message = rule.get("message", DEFAULT_MESSAGES[18456] % text["user"])
            self.recorder.write(event="error", conn=self.conn_id, number=rule.get("error", 18456), text="login")
            self.send_message(self.message_token(T_ERROR, rule.get("error", 18456), rule.get("severity", 14),
                                                 message) + self.done(status=DONE_ERROR))
            return False
        database = text["database"] or "master"
        loginack = struct.pack("<B", 1) + struct.pack(">I", self.tds) + b_varchar("Microsoft SQL Server") + \
            bytes([15, 0, 7, 0xD0])
        reply = self.envchange(1, database, "master") + \
            self.message_token(T_INFO, 5701, 0, "Changed database context to '%s'." % database) + \
            self.envchange(7, COLLATION, b"") + \
            self.envchange(2, "us_english", "") + \
            self.message_token(T_INFO, 5703, 0, "Changed language setting to us_english.") + \
            bytes([T_LOGINACK]) + struct.pack("<H", len(loginack)) + loginack + \
            self.envchange(4, str(self.packet_size), str(self.packet_size)) + self.done()
        self.send_message(reply)
        return True

    def skip_headers(self, r):
        if self.tds >= 0x72000000 and len(r.data) >= 4:
            total = struct.unpack("<I", r.data[:4])[0]
            if 4 <= total <= len(r.data):
                r.take(total)

    def run_statement(self, text, params, token, more=0):
        """Records one run of a statement and answers it: DONE with a count, or a rule's error.
        Returns the reply tokens, or None when the connection is to close."""
        self.recorder.write(event="execute", conn=self.conn_id, text=text,
                            params=[{k: v for k, v in p.items() if k != "name"} for p in params])
        rule = self.rules.find("statement", text)
        if rule and rule.get("close"):
            self.recorder.write(event="close", conn=self.conn_id, text=text)
            raise Closed()
        if rule and rule.get("hang"):
            self.recorder.write(event="hang", conn=self.conn_id, text=text)
            raise Hang(bool(rule.get("attention")))
        if rule:
            number = rule.get("error", 50000)
            name = re.search(r"\[([^\]]*)\]", text)
            message = rule.get("message", DEFAULT_MESSAGES.get(number, "Error %s.") %
                               (name.group(1) if name else number))
            self.recorder.write(event="error", conn=self.conn_id, number=number, text=text)
            return self.message_token(T_ERROR, number, rule.get("severity", 16), message, rule.get("state", 1)) + \
                self.done(token, DONE_ERROR | more)
        counts = re.match(r"\s*(insert|update|delete)\b", text, re.I) is not None
        return self.done(token, (DONE_COUNT if counts else 0) | more, 1 if counts else 0)

    def batch(self, payload):
        r = Reader(payload)
        self.skip_headers(r)
        text = r.take(len(r.data) - r.pos).decode("utf-16-le", "surrogatepass")
        self.recorder.write(event="batch", conn=self.conn_id, text=text)
        self.send_message(self.run_statement(text, [], T_DONE))

    def rpc(self, payload):
        r = Reader(payload)
        self.skip_headers(r)
        reply = b""
        while not r.done():
            length = r.u16()
            proc = PROC_IDS.get(r.u16(), "proc") if length == 0xFFFF else r.text(length)
            r.u16()
            params = []
            try:
                while not r.done() and r.data[r.pos] not in (0x80, 0xFF):
                    params.append(read_param(r))
            except (ValueError, OverflowError) as bad:
                # The rest of the call cannot be read: the server refuses the whole request.
                number = len(params) + 1
                message = ("The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is "
                           "incorrect. Parameter %d: The supplied value is not valid (%s).") % (number, bad)
                self.recorder.write(event="error", conn=self.conn_id, number=8023, text=message)
                self.send_message(reply + self.message_token(T_ERROR, 8023, 16, message) +
                                  self.done(T_DONE, DONE_ERROR))
                return
            self.recorder.write(event="rpc", conn=self.conn_id, proc=proc, params=params)
            reply += self.call(proc.lower(), params)
            if not r.done():
                r.u8()
        self.send_message(reply)

    def call(self, proc, params):
        values = lambda first: params[first:]
        status = struct.pack("<Bi", T_RETURNSTATUS, 0)
        if proc == "sp_executesql":
            out = self.run_statement(params[0]["value"], values(2), T_DONEINPROC, DONE_MORE)
            return out + status + self.done(T_DONEPROC, curcmd=0xE0)
        if proc in ("sp_prepare", "sp_prepexec"):
            handle = self.next_handle
            self.next_handle += 1
            self.prepared[handle] = params[2]["value"]
            out = b""
            if proc == "sp_prepexec":
                out = self.run_statement(params[2]["value"], values(3), T_DONEINPROC, DONE_MORE)
            return out + status + self.return_handle(handle) + self.done(T_DONEPROC, curcmd=0xE0)
        if proc == "sp_execute":
            text = self.prepared.get(params[0]["value"], "")
            out = self.run_statement(text, values(1), T_DONEINPROC, DONE_MORE)
            return out + status + self.done(T_DONEPROC, curcmd=0xE0)
        if proc == "sp_unprepare":
            self.prepared.pop(params[0]["value"], None)
        return status + self.done(T_DONEPROC, curcmd=0xE0)

    def return_handle(self, handle):
        user_type = struct.pack("<I", 0) if self.tds >= 0x72000000 else struct.pack("<H", 0)
        body = struct.pack("<H", 0) + b_varchar("@handle") + bytes([1]) + user_type + struct.pack("<H", 0) + \
            bytes([0x26, 4, 4]) + struct.pack("<i", handle)
        return bytes([T_RETURNVALUE]) + body


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--rules")
    args = parser.parse_args()
    rules = []
    if args.rules:
        with open(args.rules, encoding="utf-8") as f:
            rules = json.load(f)
    server = Server(("127.0.0.1", 0), Session)
    server.rules, server.recorder = Rules(rules), Recorder(args.log)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
