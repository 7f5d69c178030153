#!/usr/bin/env python3
"""Tidewell's SQL Server simulator: a TDS 7.1 to 7.4 server on 127.0.0.1 that the
FreeTDS ODBC driver, registered as "SQL Server", talks to as it would to SQL Server,
encryption included (a self-signed certificate is made with openssl at the first start).

On start it prints one line "listening 127.0.0.1 PORT" on stdout and serves
until it is killed (Ctrl-C or SIGTERM). It listens on 127.0.0.1 only.
"""
import argparse
import os
import signal
import socket
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tdssim import login, tls  # noqa: E402
from tdssim.catalog import Catalog  # noqa: E402
from tdssim.control import FaultSource, StatementLog  # noqa: E402
from tdssim.session import Session  # noqa: E402
from tdssim.statefile import StateFile  # noqa: E402

HOST = "127.0.0.1"

EPILOG = """fixtures (tests/simulator/fixtures/):
  demo.json        the run command's demo catalogue, the one the README uses:
                   five databases with logs from 256 MB to 10 GB; login sa,
                   password Tidewell#1
  default.json     the tool's everyday databases (16), for the test suites
  strict.json      hostile names, held logs, a login with few rights
  case_sensitive.json  a case-sensitive collation
  The format is described in tests/simulator/README.md.

example (the demo catalogue on the run command's port):
  python3 tests/simulator/tds_sim.py --fixture tests/simulator/fixtures/demo.json --port 14330
  then log in to 127.0.0.1,14330 as sa / Tidewell#1, e.g. with
  tests/simulator/odbc-env.sh isql -k "DRIVER=SQL Server;SERVER=127.0.0.1,14330;UID=sa;PWD=Tidewell#1"

protocol: the login is answered in the TDS version the client asks for (7.1 to 7.4;
  TDS_Version=7.1 or TDSVER=7.1 speaks as Windows' own "SQL Server" driver does), and
  encryption is negotiated as SQL Server does: a client that does not ask has its login
  encrypted, Encryption=require encrypts everything, and a fixture with
  "force_encryption": true refuses clients that cannot encrypt.
"""


class Server:
    def __init__(self, cat, log, faults, state=None):
        self.cat = cat
        self.log = log
        self.faults = faults
        self.state = state or StateFile(None, cat)
        self.version_text = login.VERSION_TEXT

    def serve(self, port):
        lsock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        lsock.bind((HOST, port))
        lsock.listen(128)
        self.state.publish()
        print("listening %s %d" % (HOST, lsock.getsockname()[1]), flush=True)
        while True:
            sock, _ = lsock.accept()
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self._serve_one, args=(sock,), daemon=True).start()

    def _serve_one(self, sock):
        try:
            Session(self, sock).run()
        except Exception as e:  # one broken connection must not take the server down
            print("connection error: %r" % e, file=sys.stderr, flush=True)
            try:
                sock.close()
            except OSError:
                pass


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__, epilog=EPILOG,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--fixture", metavar="FILE",
                    default=os.path.join(here, "fixtures", "default.json"),
                    help="catalogue JSON: logins, databases, files, faults "
                         "(default: fixtures/default.json beside this script)")
    ap.add_argument("--port", metavar="N", type=int, default=0,
                    help="TCP port on 127.0.0.1; 0 (the default) takes any free port")
    ap.add_argument("--log", metavar="FILE",
                    help="statement log: one JSON line per login, batch and RPC")
    ap.add_argument("--control", metavar="FILE",
                    help="fault control JSON, read again on every request")
    ap.add_argument("--files-dir", metavar="DIR",
                    help="create every database file there as a sparse file of its size; "
                         "physical_name then points into DIR, and shrinking shrinks the file")
    ap.add_argument("--wine-paths", action="store_true",
                    help="report those paths as Z:\\... for a tool running under Wine")
    ap.add_argument("--state", metavar="FILE",
                    help="keep FILE up to date with the catalogue's state as JSON, replaced "
                         "atomically before the reply to any request that changed it (and "
                         "written before the port is announced)")
    args = ap.parse_args(argv)
    cat = Catalog.from_file(args.fixture, files_dir=args.files_dir, wine_paths=args.wine_paths)
    tls.context()   # the certificate, made (or found) before the port is announced
    server = Server(cat, StatementLog(args.log), FaultSource(cat.fixture_faults, args.control),
                    StateFile(args.state, cat))
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    try:
        server.serve(args.port)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
