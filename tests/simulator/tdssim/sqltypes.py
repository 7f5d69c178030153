"""SQL Server column types as they travel in TDS: metadata, values, and the
decoding of RPC parameters that clients send with their own TYPE_INFO."""
import datetime
import struct

# Server collation: five bytes on the wire plus the code page for varchar.
# The bytes are the LCID (20 bits), the comparison flags (ignore case 0x1,
# accent 0x2, kana 0x4, width 0x8) and the SQL sort id, little-endian.
COLLATIONS = {
    # LCID 0x0804, case/kana/width insensitive, Windows collation (sort id 0)
    "Chinese_PRC_CI_AS": (bytes([0x04, 0x08, 0xD0, 0x00, 0x00]), "gbk"),
    "Chinese_PRC_CS_AS": (bytes([0x04, 0x08, 0xC0, 0x00, 0x00]), "gbk"),
    # LCID 0x0409, sort id 52 (51 is its case-sensitive sibling)
    "SQL_Latin1_General_CP1_CI_AS": (bytes([0x09, 0x04, 0xD0, 0x00, 0x34]), "cp1252"),
    "SQL_Latin1_General_CP1_CS_AS": (bytes([0x09, 0x04, 0xC0, 0x00, 0x33]), "cp1252"),
    "Latin1_General_CI_AS": (bytes([0x09, 0x04, 0xD0, 0x00, 0x00]), "cp1252"),
    "Latin1_General_CS_AS": (bytes([0x09, 0x04, 0xC0, 0x00, 0x00]), "cp1252"),
}
COLLATION = COLLATIONS["Chinese_PRC_CI_AS"]
# Under a _CS_ collation names and text compare in their own case only.
CASE_SENSITIVE = False


def set_collation(name):
    global COLLATION, CASE_SENSITIVE
    if name not in COLLATIONS:
        raise ValueError("unsupported collation %r (known: %s)" % (name, ", ".join(COLLATIONS)))
    COLLATION = COLLATIONS[name]
    CASE_SENSITIVE = "_CS_" in name


class IntType:
    """tinyint, smallint, int, bigint: always sent as INTN so NULL is possible."""
    NAMES = {1: "tinyint", 2: "smallint", 4: "int", 8: "bigint"}

    def __init__(self, size=4):
        self.size = size
        self.name = self.NAMES[size]

    def info(self):
        return bytes([0x26, self.size])

    def value(self, v):
        if v is None:
            return b"\x00"
        return bytes([self.size]) + int(v).to_bytes(self.size, "little", signed=self.size != 1)


class BitType:
    name = "bit"

    def info(self):
        return bytes([0x68, 1])

    def value(self, v):
        return b"\x00" if v is None else bytes([1, 1 if v else 0])


class NVarChar:
    def __init__(self, length):
        self.length = max(1, min(int(length), 4000))
        self.name = "nvarchar(%d)" % self.length

    def info(self):
        return bytes([0xE7]) + struct.pack("<H", self.length * 2) + COLLATION[0]

    def value(self, v):
        if v is None:
            return b"\xff\xff"
        data = str(v)[:self.length].encode("utf-16-le")
        return struct.pack("<H", len(data)) + data


class VarChar:
    """A non-Unicode string: text outside the code page becomes '?' as on a server.
    Its length counts bytes of the collation's code page (two for a Chinese character)."""

    @classmethod
    def holding(cls, text):
        return cls(len(str(text or "").encode(COLLATION[1], errors="replace")) or 1)

    def __init__(self, length):
        self.length = max(1, min(int(length), 8000))
        self.name = "varchar(%d)" % self.length

    def info(self):
        return bytes([0xA7]) + struct.pack("<H", self.length) + COLLATION[0]

    def value(self, v):
        if v is None:
            return b"\xff\xff"
        data = str(v).encode(COLLATION[1], errors="replace")[:self.length]
        return struct.pack("<H", len(data)) + data


class DateTimeType:
    name = "datetime"
    EPOCH = datetime.datetime(1900, 1, 1)

    def info(self):
        return bytes([0x6F, 8])

    def value(self, v):
        if v is None:
            return b"\x00"
        delta = v - self.EPOCH
        ticks = round((delta.seconds + delta.microseconds / 1e6) * 300)
        return bytes([8]) + struct.pack("<iI", delta.days, ticks)


class FloatType:
    def __init__(self, size=8):
        self.size = size
        self.name = "float" if size == 8 else "real"

    def info(self):
        return bytes([0x6D, self.size])

    def value(self, v):
        if v is None:
            return b"\x00"
        return bytes([self.size]) + struct.pack("<d" if self.size == 8 else "<f", float(v))


INT = IntType(4)
SMALLINT = IntType(2)
TINYINT = IntType(1)
BIGINT = IntType(8)
BIT = BitType()
SYSNAME = NVarChar(128)
DATETIME = DateTimeType()


# ---- RPC parameters ----------------------------------------------------

FIXED = {0x1F: 0, 0x30: 1, 0x32: 1, 0x34: 2, 0x38: 4, 0x7F: 8, 0x3A: 4,
         0x3B: 4, 0x3C: 8, 0x3D: 8, 0x3E: 8, 0x7A: 4}
BYTELEN = {0x24, 0x26, 0x68, 0x6A, 0x6C, 0x6D, 0x6E, 0x6F, 0x28, 0x29, 0x2A, 0x2B}
USHORTLEN = {0xA5, 0xA7, 0xAD, 0xAF, 0xE7, 0xEF}
LONGLEN = {0x22, 0x23, 0x63}
WITH_COLLATION = {0xA7, 0xAF, 0xE7, 0xEF, 0x23, 0x63}
UNICODE = {0xE7, 0xEF, 0x63}
INTEGERS = {0x30: 1, 0x34: 2, 0x38: 4, 0x7F: 8}


class Param:
    def __init__(self, name, status, tdstype, value, sqltype):
        self.name = name
        self.status = status
        self.tdstype = tdstype
        self.value = value
        self.sqltype = sqltype   # how the value would come back in a result

    @property
    def output(self):
        return bool(self.status & 0x01)


class Reader:
    def __init__(self, data, pos=0):
        self.data = data
        self.pos = pos

    def take(self, n):
        if self.pos + n > len(self.data):
            raise ValueError("RPC request truncated")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def ucs2(self, chars):
        return self.take(chars * 2).decode("utf-16-le", errors="replace")

    def done(self):
        return self.pos >= len(self.data)


def _decode(tdstype, raw, scale):
    if raw is None:
        return None
    if tdstype in UNICODE:
        return raw.decode("utf-16-le", errors="replace")
    if tdstype in (0xA7, 0xAF, 0x23):
        return raw.decode(COLLATION[1], errors="replace")
    if tdstype in INTEGERS or tdstype == 0x26:
        return int.from_bytes(raw, "little", signed=len(raw) != 1)
    if tdstype in (0x32, 0x68):
        return bool(raw[0])
    if tdstype in (0x3B, 0x3E, 0x6D):
        return struct.unpack("<f" if len(raw) == 4 else "<d", raw)[0]
    if tdstype in (0x6A, 0x6C):
        number = int.from_bytes(raw[1:], "little")
        number = number if raw[0] else -number
        return number / (10 ** scale) if scale else number
    return raw


def _result_type(tdstype, size, value):
    if tdstype in INTEGERS:
        return IntType(INTEGERS[tdstype])
    if tdstype == 0x26:
        return IntType(size if size in (1, 2, 4, 8) else 4)
    if tdstype in (0x32, 0x68):
        return BIT
    if tdstype in (0x3B, 0x3E, 0x6D):
        return FloatType(8)
    if tdstype in (0xA7, 0xAF, 0x23):
        return VarChar.holding(value)
    return NVarChar(len(str(value)) if value is not None else 1)


def read_param(rd):
    """One RPC parameter: name, status flags, TYPE_INFO and value."""
    name = rd.ucs2(rd.u8())
    status = rd.u8()
    tdstype = rd.u8()
    size, scale, plp = 0, 0, False
    if tdstype in FIXED:
        size = FIXED[tdstype]
    elif tdstype in BYTELEN:
        if tdstype != 0x28:
            size = rd.u8()
        if tdstype in (0x6A, 0x6C):
            rd.u8()
            scale = rd.u8()
        elif tdstype in (0x29, 0x2A, 0x2B):
            scale = size
    elif tdstype in USHORTLEN:
        size = rd.u16()
        plp = size == 0xFFFF
    elif tdstype in LONGLEN:
        size = rd.u32()
    else:
        raise ValueError("unsupported parameter type 0x%02X" % tdstype)
    if tdstype in WITH_COLLATION:
        rd.take(5)
    raw = _read_value(rd, tdstype, size, plp)
    value = _decode(tdstype, raw, scale)
    return Param(name, status, tdstype, value, _result_type(tdstype, size, value))


def _read_value(rd, tdstype, size, plp):
    if tdstype in FIXED:
        return rd.take(size) if size else None
    if tdstype in BYTELEN:
        n = rd.u8()
        return rd.take(n) if n else None
    if plp:
        total = rd.take(8)
        if total == b"\xff" * 8:
            return None
        chunks = []
        while True:
            n = rd.u32()
            if n == 0:
                return b"".join(chunks)
            chunks.append(rd.take(n))
    if tdstype in USHORTLEN:
        n = rd.u16()
        return None if n == 0xFFFF else rd.take(n)
    n = rd.u32()
    return None if n == 0xFFFFFFFF else rd.take(n)
