"""PRELOGIN and LOGIN7: parsing the client's packets and the server's replies.

Encryption is negotiated as SQL Server does with its certificate: a client
that offers it (ENCRYPT_OFF) gets the login packet encrypted and the rest in
clear; one that asks (ENCRYPT_ON), or any client of a server that forces it,
gets everything encrypted; a client without TLS logs in in clear, or is
refused by a forcing server. The TDS version answered is the client's, from
7.1 to 7.4.
"""
import struct

from . import sqltypes, wire

VERSION = (15, 0, 0x10, 0x39)   # 15.0.4153, shown in LOGINACK and PRELOGIN
VERSION_TEXT = ("Microsoft SQL Server 2019 (RTM-CU12) (KB5004524) - 15.0.4153.1 (X64) \n"
                "\tDeveloper Edition (64-bit) on Tidewell simulator")


ENCRYPT_OFF, ENCRYPT_ON, ENCRYPT_NOT_SUP, ENCRYPT_REQ = 0, 1, 2, 3
# LOGIN7 / LOGINACK versions, newest first, with the major and minor that select the rules.
TDS_VERSIONS = [(0x74000004, 0x74), (0x730B0003, 0x73), (0x730A0003, 0x73),
                (0x72090002, 0x72), (0x71000001, 0x71)]
TDS_NAMES = {0x74: "7.4", 0x73: "7.3", 0x72: "7.2", 0x71: "7.1"}


def prelogin_options(payload):
    """The client's PRELOGIN options as {token: data}."""
    options, pos = {}, 0
    while pos + 5 <= len(payload) and payload[pos] != 0xFF:
        token, offset, length = struct.unpack_from(">BHH", payload, pos)
        options[token] = payload[offset:offset + length]
        pos += 5
    return options


def negotiate_encryption(payload, forced):
    """(the server's ENCRYPTION answer, what gets encrypted: off | login | all | None = refuse)."""
    asked = prelogin_options(payload).get(0x01, bytes([ENCRYPT_NOT_SUP]))[:1]
    asked = asked[0] if asked else ENCRYPT_NOT_SUP
    if asked == ENCRYPT_NOT_SUP:
        return (ENCRYPT_REQ, None) if forced else (ENCRYPT_NOT_SUP, "off")
    if forced:
        return ENCRYPT_REQ, "all"
    return (ENCRYPT_OFF, "login") if asked == ENCRYPT_OFF else (ENCRYPT_ON, "all")


def answer_version(asked):
    """The LOGINACK version for the client's LOGIN7 version, and its rules' major/minor."""
    for version, rules in TDS_VERSIONS:
        if asked >= version:
            return version, rules
    return TDS_VERSIONS[-1]


def prelogin_reply(encryption):
    options = [
        (0x00, bytes(VERSION) + b"\x00\x00"),   # VERSION + sub-build
        (0x01, bytes([encryption])),
        (0x02, b"\x00"),                         # INSTOPT
        (0x03, b""),                             # THREADID
        (0x04, b"\x00"),                         # MARS off
    ]
    head = bytearray()
    body = bytearray()
    offset = len(options) * 5 + 1
    for token, data in options:
        head += struct.pack(">BHH", token, offset + len(body), len(data))
        body += data
    return bytes(head) + b"\xff" + bytes(body)


def _unscramble(data):
    return bytes((((b ^ 0xA5) << 4) & 0xF0) | ((b ^ 0xA5) >> 4) for b in data)


class Login7:
    def __init__(self, payload):
        if len(payload) < 94:
            raise ValueError("LOGIN7 too short")
        (self.length, self.tds_version, self.packet_size, _, self.client_pid, _,
         _, _, _, _, _, _) = struct.unpack_from("<IIIIIIBBBBiI", payload, 0)

        def field(index, scrambled=False):
            off, chars = struct.unpack_from("<HH", payload, 36 + index * 4)
            raw = payload[off:off + chars * 2]
            if scrambled:
                raw = _unscramble(raw)
            return raw.decode("utf-16-le", errors="replace")

        self.host = field(0)
        self.user = field(1)
        self.password = field(2, scrambled=True)
        self.app = field(3)
        self.server = field(4)
        self.library = field(6)
        self.language = field(7)
        self.database = field(8)


def accepted(out, database, old, packet_size, collation_bytes, tds_version):
    """The reply FreeTDS accepts, in the order a real server sends it."""
    out.envchange(1, database, old)
    out.message(5701, 0, 2, "Changed database context to '%s'." % database)
    out.envchange(7, collation_bytes, b"")
    out.envchange(2, "us_english", "")
    out.message(5703, 0, 1, "Changed language setting to us_english.")
    out.loginack("Microsoft SQL Server", VERSION, tds_version)
    out.envchange(4, str(packet_size), str(packet_size))
    out.done(token=wire.TOK_DONE)
    out.finish_batch()


def refused(out, user, cannot_open=None):
    if cannot_open is not None:
        out.message(4060, 11, 1, 'Cannot open database "%s" requested by the login. The login '
                    "failed." % cannot_open)
    out.message(18456, 14, 1, "Login failed for user '%s'." % user)
    out.done(wire.DONE_ERROR, token=wire.TOK_DONE)
    out.finish_batch()


def collation_bytes():
    return sqltypes.COLLATION[0]
