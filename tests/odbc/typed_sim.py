#!/usr/bin/env python3
"""The SQL Server simulator with one more table, dbo.tw_types, whose columns carry the SQL types
the catalogue views lack (real, float, decimal, char, nchar, binary, varbinary, image, text,
ntext, long varchar), for the database object's type tests. Row 1 holds values, row 2 NULLs,
row 3 Chinese and long texts.

Started in the interpreter's place by the tests' simulator helper (TW_PYTHON):
  typed_sim.py PATH/TO/tds_sim.py [simulator options]
"""
import datetime
import os
import struct
import sys

SIM = os.path.abspath(sys.argv[1])
sys.path.insert(0, os.path.dirname(SIM))

from tdssim import sqltypes, views  # noqa: E402
import tds_sim  # noqa: E402

TABLE = "tw_types"


def collation():
    return sqltypes.COLLATION[0]


def codepage():
    return sqltypes.COLLATION[1]


def table_name():
    name = TABLE.encode("utf-16-le")
    return bytes([1]) + struct.pack("<H", len(TABLE)) + name


class Decimal:
    """decimal(18, 4): DECIMALN with a sign byte and an 8-byte magnitude."""
    name = "decimal(18,4)"

    def info(self):
        return bytes([0x6A, 9, 18, 4])

    def value(self, v):
        if v is None:
            return b"\x00"
        scaled = round(v * 10000)
        return bytes([9, 1 if scaled >= 0 else 0]) + abs(scaled).to_bytes(8, "little")


class Char:
    def __init__(self, length, wide=False):
        self.length, self.wide = length, wide
        self.name = ("nchar(%d)" if wide else "char(%d)") % length

    def info(self):
        size = self.length * 2 if self.wide else self.length
        return bytes([0xEF if self.wide else 0xAF]) + struct.pack("<H", size) + collation()

    def value(self, v):
        if v is None:
            return b"\xff\xff"
        text = str(v).ljust(self.length)[:self.length]
        data = text.encode("utf-16-le") if self.wide else text.encode(codepage(), "replace")
        return struct.pack("<H", len(data)) + data


class Binary:
    def __init__(self, length, varying):
        self.length, self.varying = length, varying
        self.name = ("varbinary(%d)" if varying else "binary(%d)") % length

    def info(self):
        return bytes([0xA5 if self.varying else 0xAD]) + struct.pack("<H", self.length)

    def value(self, v):
        if v is None:
            return b"\xff\xff"
        data = bytes(v) if self.varying else bytes(v).ljust(self.length, b"\0")
        return struct.pack("<H", len(data)) + data


class Long:
    """text, ntext and image: a text pointer, a timestamp and the data."""

    def __init__(self, code):
        self.code = code
        self.name = {0x23: "text", 0x63: "ntext", 0x22: "image"}[code]

    def info(self):
        head = bytes([self.code]) + struct.pack("<I", 0x7FFFFFFF)
        return head + (collation() if self.code != 0x22 else b"") + table_name()

    def value(self, v):
        if v is None:
            return b"\x00"
        if self.code == 0x22:
            data = bytes(v)
        elif self.code == 0x63:
            data = str(v).encode("utf-16-le")
        else:
            data = str(v).encode(codepage(), "replace")
        return bytes([16]) + b"\x01" * 16 + b"\x00" * 8 + struct.pack("<I", len(data)) + data


C = views.Column
COLUMNS = [
    C("id", sqltypes.INT), C("c_bit", sqltypes.BIT, True), C("c_tinyint", sqltypes.TINYINT, True),
    C("c_smallint", sqltypes.SMALLINT, True), C("c_int", sqltypes.INT, True),
    C("c_bigint", sqltypes.BIGINT, True), C("c_real", sqltypes.FloatType(4), True),
    C("c_float", sqltypes.FloatType(8), True), C("c_decimal", Decimal(), True),
    C("c_char", Char(6), True), C("c_varchar", sqltypes.VarChar(20), True),
    C("c_nvarchar", sqltypes.NVarChar(20), True), C("c_nchar", Char(4, wide=True), True),
    C("c_datetime", sqltypes.DATETIME, True), C("c_binary", Binary(4, False), True),
    C("c_varbinary", Binary(8, True), True), C("c_image", Long(0x22), True),
    C("c_text", Long(0x23), True), C("c_ntext", Long(0x63), True),
    C("c_wide", sqltypes.VarChar(600), True), C("c_nwide", sqltypes.NVarChar(300), True),
    C("c_n511", sqltypes.NVarChar(511), True), C("c_n600", sqltypes.NVarChar(600), True),
]

ROW1 = {"id": 1, "c_bit": True, "c_tinyint": 200, "c_smallint": -1234, "c_int": 123456789,
        "c_bigint": 9007199254740993, "c_real": 1.5, "c_float": -2.25e10, "c_decimal": 12345.6789,
        "c_char": "ab", "c_varchar": "varchar", "c_nvarchar": "nvarchar", "c_nchar": "nc",
        "c_datetime": datetime.datetime(2020, 10, 8, 13, 45, 30, 500000),
        "c_binary": b"\x01\x02", "c_varbinary": b"\xde\xad\xbe\xef\x00\x01",
        "c_image": bytes(range(256)) * 40, "c_text": "long text " * 500,
        "c_ntext": "ntext value", "c_wide": "w" * 600, "c_nwide": "n" * 300,
        "c_n511": "x" * 511, "c_n600": "y" * 600}
ROW2 = dict({k: None for k in ROW1}, id=2)
ROW3 = dict(ROW2, id=3, c_varchar="中文varchar", c_nvarchar="中文字符", c_text="文本" * 1000,
            c_wide="中" * 300, c_nwide="中" * 300, c_char="中文",
            c_datetime=datetime.datetime(1753, 1, 1), c_n511="中" * 511, c_n600="中" * 600)

_resolve = views.resolve


def resolve(parts, cat, session):
    if parts and parts[-1].casefold() == TABLE:
        return views.View(["dbo", TABLE], COLUMNS, lambda *_: [ROW1, ROW2, ROW3])
    return _resolve(parts, cat, session)


views.resolve = resolve

if __name__ == "__main__":
    tds_sim.main(sys.argv[2:])
