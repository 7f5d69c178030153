"""TLS as SQL Server carries it: the handshake travels inside PRELOGIN packets,
then whole TDS packets travel as TLS records on the bare socket.

The server's certificate is self-signed, as SQL Server makes one when none is
configured. It is made with the `openssl` command once per user and kept in a
private folder beside the temporary files, so that starting many simulators
costs one key generation.
"""
import os
import shutil
import ssl
import subprocess
import tempfile

_context = None


def _certificate():
    folder = os.path.join(tempfile.gettempdir(), "tidewell-sim-tls-%d" % os.getuid())
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    if not os.path.isdir(folder):
        # Made in a folder aside and renamed whole: racing starts keep one matching pair.
        aside = tempfile.mkdtemp(prefix=os.path.basename(folder) + ".")
        try:
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days",
                            "3650", "-subj", "/CN=TIDEWELL-SIM", "-keyout",
                            os.path.join(aside, "key.pem"), "-out",
                            os.path.join(aside, "cert.pem")],
                           check=True, capture_output=True, timeout=60)
        except (OSError, subprocess.SubprocessError) as e:
            shutil.rmtree(aside, ignore_errors=True)
            raise SystemExit("tds_sim: cannot make the server certificate with openssl "
                             "(Debian package openssl): %s" % e)
        try:
            os.rename(aside, folder)
        except OSError:
            shutil.rmtree(aside, ignore_errors=True)
    return cert, key


def context():
    """The server's TLS context; made once, at start-up."""
    global _context
    if _context is None:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        # TDS 7.x negotiates inside PRELOGIN up to TLS 1.2; 1.3's tickets would arrive after
        # the client has left the wrapped phase.
        ctx.maximum_version = ssl.TLSVersion.TLSv1_2
        ctx.load_cert_chain(*_certificate())
        _context = ctx
    return _context


class Channel:
    """One connection's TLS state over memory buffers."""

    def __init__(self):
        self.incoming, self.outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.obj = context().wrap_bio(self.incoming, self.outgoing, server_side=True)

    def handshake(self, records):
        """Feeds the client's records; (done, records to send back)."""
        self.incoming.write(records)
        try:
            self.obj.do_handshake()
            done = True
        except ssl.SSLWantReadError:
            done = False
        return done, self.outgoing.read()

    def decrypt(self, records):
        self.incoming.write(records)
        plain = bytearray()
        while True:
            try:
                chunk = self.obj.read(65536)
            except (ssl.SSLWantReadError, ssl.SSLZeroReturnError):
                return bytes(plain)
            if not chunk:
                return bytes(plain)
            plain += chunk

    def encrypt(self, data):
        self.obj.write(data)
        return self.outgoing.read()
