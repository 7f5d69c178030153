"""TDS 7.1 to 7.4 framing and token encoding: the bytes the server puts on the wire.

Everything here is byte layout only; what to say is decided by the session and
the engine. Integers are little-endian unless the packet header says otherwise.
Before 7.2 a DONE's row count has 4 bytes, a column's user type and a message's
line number 2.
"""
import select
import socket
import ssl
import struct

# Packet types
PKT_BATCH = 1
PKT_RPC = 3
PKT_REPLY = 4
PKT_ATTENTION = 6
PKT_TRANSACTION = 14
PKT_LOGIN7 = 16
PKT_PRELOGIN = 18

STATUS_EOM = 0x01
STATUS_IGNORE = 0x02
STATUS_RESET = 0x08

# DONE status bits
DONE_MORE = 0x01
DONE_ERROR = 0x02
DONE_COUNT = 0x10
DONE_ATTN = 0x20
DONE_SRVERROR = 0x100

CMD_SELECT = 0xC1
CMD_EXECUTE = 0xE0

TOK_COLMETADATA = 0x81
TOK_TABNAME = 0xA4
TOK_COLINFO = 0xA5
TOK_ERROR = 0xAA
TOK_INFO = 0xAB
TOK_RETURNVALUE = 0xAC
TOK_LOGINACK = 0xAD
TOK_ROW = 0xD1
TOK_ENVCHANGE = 0xE3
TOK_RETURNSTATUS = 0x79
TOK_DONE = 0xFD
TOK_DONEPROC = 0xFE
TOK_DONEINPROC = 0xFF


class Closed(Exception):
    """The peer went away (or we decided it should)."""


class PacketIO:
    """Reads whole packets and messages from a socket and writes replies.

    Reading is buffered so that a wait can poll for an ATTENTION packet
    without losing bytes of anything else the client sent meanwhile.
    """

    def __init__(self, sock, packet_size=4096):
        self.sock = sock
        self.packet_size = packet_size
        self.spid = 0
        self._buf = b""
        self.pending = []  # packets read while polling, kept for read_message
        self.tls = None    # a tls.Channel while the connection is encrypted

    def _fill(self, n, timeout=None):
        while len(self._buf) < n:
            if timeout is not None:
                r, _, _ = select.select([self.sock], [], [], timeout)
                if not r:
                    return False
            try:
                chunk = self.sock.recv(65536)
            except OSError as e:
                raise Closed(str(e))
            if not chunk:
                raise Closed("peer closed")
            self._buf += self.tls.decrypt(chunk) if self.tls else chunk
        return True

    def read_packet(self, timeout=None):
        """One packet as (type, status, payload); None when timeout ran out."""
        if not self._fill(8, timeout):
            return None
        ptype, status, length = struct.unpack(">BBH", self._buf[:4])
        if length < 8:
            raise Closed("bad packet length %d" % length)
        self._fill(length)  # the rest of a started packet is always awaited
        payload = self._buf[8:length]
        self._buf = self._buf[length:]
        return ptype, status, payload

    def read_message(self):
        """A whole request: (type, status of first packet, payload)."""
        parts = []
        first = None
        while True:
            pkt = self.pending.pop(0) if self.pending else self.read_packet()
            ptype, status, payload = pkt
            if ptype == PKT_ATTENTION and not parts:
                return ptype, status, b""
            if first is None:
                first = (ptype, status)
            parts.append(payload)
            if status & STATUS_EOM:   # IGNORE counts on the last packet
                return first[0], first[1] | (status & STATUS_IGNORE), b"".join(parts)

    def poll_attention(self, timeout):
        """Waits up to timeout seconds; True when the client sent ATTENTION."""
        pkt = self.read_packet(timeout)
        if pkt is None:
            return False
        if pkt[0] == PKT_ATTENTION:
            return True
        self.pending.append(pkt)
        return False

    def send(self, data, ptype=PKT_REPLY):
        """Sends one message, split into packets of the negotiated size."""
        room = self.packet_size - 8
        chunks = [data[i:i + room] for i in range(0, len(data), room)] or [b""]
        out = []
        for i, chunk in enumerate(chunks):
            status = STATUS_EOM if i == len(chunks) - 1 else 0
            out.append(struct.pack(">BBHHBB", ptype, status, len(chunk) + 8,
                                   self.spid, (i + 1) % 256, 0) + chunk)
        data = b"".join(out)
        try:
            self.sock.sendall(self.tls.encrypt(data) if self.tls else data)
        except OSError as e:
            raise Closed(str(e))

    def start_tls(self, channel):
        """Runs the handshake carried in PRELOGIN packets; then everything is encrypted."""
        while True:
            ptype, _, payload = self.read_packet()
            if ptype != PKT_PRELOGIN:
                raise Closed("packet type %d during the TLS handshake" % ptype)
            try:
                done, back = channel.handshake(payload)
            except ssl.SSLError as e:   # a client that cannot agree is dropped
                raise Closed("TLS handshake failed: %s" % e)
            if back:
                self.send(back, PKT_PRELOGIN)
            if done:
                self.tls = channel
                return

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


def ucs2(text):
    return text.encode("utf-16-le")


def b_varchar(text):
    """Length in characters as one byte, then UCS-2."""
    data = ucs2(text)
    return bytes([len(data) // 2]) + data


def us_varchar(text):
    data = ucs2(text)
    return struct.pack("<H", len(data) // 2) + data


class Tokens:
    """Accumulates the token stream of one reply."""

    def __init__(self, server_name="", in_proc=False, tds=0x74):
        self.buf = bytearray()
        self.tds = tds          # the negotiated version's major and minor, 0x71 .. 0x74
        self.server_name = server_name
        self.in_proc = in_proc
        self.last_done = None   # offset of the status field of the last DONE
        self.errors = []        # numbers of ERROR tokens, for the statement log
        self.infos = []
        self.rows = 0

    def raw(self, data):
        self.buf += data

    def message(self, number, cls, state, text, proc="", line=1):
        tok = TOK_ERROR if cls > 10 else TOK_INFO
        (self.errors if cls > 10 else self.infos).append(number)
        body = (struct.pack("<iBB", number, state, cls) + us_varchar(text)
                + b_varchar(self.server_name) + b_varchar(proc)
                + struct.pack("<i" if self.tds >= 0x72 else "<H", line))
        self.buf += struct.pack("<BH", tok, len(body)) + body

    def envchange(self, kind, new, old):
        if kind == 7:  # collation travels as bytes
            body = bytes([kind, len(new)]) + new + bytes([len(old)]) + old
        else:
            body = bytes([kind]) + b_varchar(new) + b_varchar(old)
        self.buf += struct.pack("<BH", TOK_ENVCHANGE, len(body)) + body

    def transaction(self, kind, descriptor):
        """ENVCHANGE 8 (begun: the new descriptor), 9 or 10 (ended: the old one); 7.2 on."""
        if self.tds < 0x72:
            return
        new, old = (descriptor, b"") if kind == 8 else (b"", descriptor)
        body = bytes([kind, len(new)]) + new + bytes([len(old)]) + old
        self.buf += struct.pack("<BH", TOK_ENVCHANGE, len(body)) + body

    def loginack(self, prog_name, version, tds_version):
        body = (bytes([1]) + struct.pack(">I", tds_version) + b_varchar(prog_name)
                + bytes(version))
        self.buf += struct.pack("<BH", TOK_LOGINACK, len(body)) + body

    def done(self, status=0, cmd=0, count=None, token=None):
        """A DONE (batch) or DONEINPROC (inside an RPC) for one statement."""
        if token is None:
            token = TOK_DONEINPROC if self.in_proc else TOK_DONE
        if count is not None:
            status |= DONE_COUNT
        if token != TOK_DONEPROC:
            status |= DONE_MORE
        self.last_done = len(self.buf) + 1
        self.buf += struct.pack("<BHHQ" if self.tds >= 0x72 else "<BHHI", token, status, cmd,
                                count or 0)

    def finish_batch(self):
        """The final DONE of a batch must not announce more results."""
        if self.last_done is None:
            self.done()
        st = struct.unpack_from("<H", self.buf, self.last_done)[0]
        struct.pack_into("<H", self.buf, self.last_done, st & ~DONE_MORE)

    def returnstatus(self, value):
        self.buf += struct.pack("<Bi", TOK_RETURNSTATUS, value)

    def colmetadata(self, columns):
        out = bytearray(struct.pack("<BH", TOK_COLMETADATA, len(columns)))
        for col in columns:
            flags = 0x0001 if col.nullable else 0
            out += self._usertype() + struct.pack("<H", flags) + col.type.info() + b_varchar(col.name)
        self.buf += out

    def _usertype(self):
        return bytes(4 if self.tds >= 0x72 else 2)

    def no_metadata(self):
        self.buf += bytes([TOK_COLMETADATA, 0xFF, 0xFF])

    def row(self, columns, values):
        out = bytearray([TOK_ROW])
        for col, value in zip(columns, values):
            out += col.type.value(value)
        self.buf += out
        self.rows += 1

    def tabname(self, tables):
        body = bytearray()
        for parts in tables:
            body.append(len(parts))
            for p in parts:
                body += us_varchar(p)
        self.buf += struct.pack("<BH", TOK_TABNAME, len(body)) + body

    def colinfo(self, entries):
        """entries: (column number from 1, table number or 0, status bits)."""
        body = b"".join(bytes(e) for e in entries)
        self.buf += struct.pack("<BH", TOK_COLINFO, len(body)) + body

    def returnvalue(self, ordinal, name, sqltype, value):
        self.buf += (struct.pack("<BH", TOK_RETURNVALUE, ordinal) + b_varchar(name)
                     + bytes([0x01]) + self._usertype() + struct.pack("<H", 0x0001)
                     + sqltype.info() + sqltype.value(value))

    def bytes(self):
        return bytes(self.buf)
