"""PRELOGIN and LOGIN7: parsing the client's packets and the server's replies.

Encryption is answered as not supported, so the login arrives in clear and
no TLS handshake follows.
"""
import struct

from . import sqltypes, wire

VERSION = (15, 0, 0x10, 0x39)   # 15.0.4153, shown in LOGINACK and PRELOGIN
VERSION_TEXT = ("Microsoft SQL Server 2019 (RTM-CU12) (KB5004524) - 15.0.4153.1 (X64) \n"
                "\tDeveloper Edition (64-bit) on Tidewell simulator")


def prelogin_reply():
    options = [
        (0x00, bytes(VERSION) + b"\x00\x00"),   # VERSION + sub-build
        (0x01, b"\x02"),                         # ENCRYPTION: not supported
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


def accepted(out, database, old, packet_size, collation_bytes):
    """The reply FreeTDS accepts, in the order a real server sends it."""
    out.envchange(1, database, old)
    out.message(5701, 0, 2, "Changed database context to '%s'." % database)
    out.envchange(7, collation_bytes, b"")
    out.envchange(2, "us_english", "")
    out.message(5703, 0, 1, "Changed language setting to us_english.")
    out.loginack("Microsoft SQL Server", VERSION)
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
