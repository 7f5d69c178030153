"""One client connection: PRELOGIN (and TLS), LOGIN7, then requests until the
client leaves. Applies the faults in force for each request and writes the
statement log. While a request waits, the socket is still read so that an
ATTENTION ends it at once: the request's reply so far, then DONE with the
attention bit as a message of its own. The state file is brought up to date
before every reply, so a client that has its answer can read the state that
answer left behind."""
import itertools
import struct
import threading
import time

from . import access, engine, login, procs, tls, wire

TM_NAMES = {0: "GET_DTC_ADDRESS", 1: "PROPAGATE_XACT", 5: "BEGIN_XACT", 6: "PROMOTE_XACT",
            7: "COMMIT_XACT", 8: "ROLLBACK_XACT", 9: "SAVE_XACT"}


class Session:
    _spids = itertools.count(51)
    _spid_lock = threading.Lock()

    def __init__(self, server, sock):
        self.server = server
        self.cat = server.cat
        self.io = wire.PacketIO(sock)
        with Session._spid_lock:
            self.spid = next(Session._spids)
        self.io.spid = self.spid
        self.login = None
        self.login_db = 1
        self.db_id = 1
        self.nocount = False
        self.trancount = 0
        self.implicit_transactions = False
        self.params = []
        self.prepared = {}
        self.cursors = {}
        self._handles = itertools.count(1)
        self._cursor_handles = itertools.count(180150001)
        self.requests = 0
        self.tds = 0x74           # the rules of the negotiated TDS version
        self.encryption = "off"   # off | login | all
        self.descriptor = bytes(8)   # the open transaction's, sent in ENVCHANGE 8/9/10
        self._descriptors = itertools.count(1)

    # -- used by the engine and the procedures
    def current_db(self):
        return self.cat.by_id(self.db_id)

    def refuse_open(self, db):
        access.open_check(self, db, db.name)

    def check_access(self, db):
        access.access_check(self, db)

    def new_handle(self):
        return next(self._handles)

    def new_cursor_handle(self):
        return next(self._cursor_handles)

    def tokens(self, in_proc=False):
        return wire.Tokens(self.cat.server_name, in_proc=in_proc, tds=self.tds)

    def begin_transaction(self, out):
        """One level more; the outermost one tells the client its descriptor."""
        self.trancount += 1
        if self.trancount == 1:
            self.descriptor = struct.pack("<Q", next(self._descriptors) * 0x10000 + self.spid)
            out.transaction(8, self.descriptor)

    def end_transaction(self, out, commit):
        """COMMIT ends one level, ROLLBACK all; the end is told with ENVCHANGE 9 or 10."""
        self.trancount = self.trancount - 1 if commit else 0
        if not self.trancount:
            out.transaction(9 if commit else 10, self.descriptor)
            self.descriptor = bytes(8)

    def wait(self, seconds):
        """Sleeps while watching for ATTENTION; True when cancelled."""
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            if self.io.poll_attention(min(left, 0.2)):
                return True

    # -- connection life
    def run(self):
        try:
            faults = self.server.faults.current()
            if faults.hang:
                self._swallow()
                return
            ptype, _, payload = self.io.read_message()
            if ptype == wire.PKT_PRELOGIN:
                answer, self.encryption = login.negotiate_encryption(
                    payload, self.cat.force_encryption)
                self.io.send(login.prelogin_reply(answer))
                if self.encryption is None:   # a forcing server ends a client without TLS
                    return
                if self.encryption != "off":
                    self.io.start_tls(tls.Channel())
                ptype, _, payload = self.io.read_message()
                if self.encryption == "login":   # the login reply and the rest travel in clear
                    self.io.tls = None
            elif self.cat.force_encryption:
                return
            if ptype != wire.PKT_LOGIN7 or not self._login(payload):
                return
            with self.cat.lock:
                self.cat.sessions.add(self)
            while True:
                ptype, status, payload = self.io.read_message()
                self._request(ptype, status, payload)
        except wire.Closed:
            pass
        finally:
            with self.cat.lock:
                self.cat.sessions.discard(self)
            self.io.close()

    def _swallow(self):
        """A server that accepted the connection and never says a word."""
        while True:
            self.io.read_packet()

    def _log(self, **entry):
        self.server.log.write(conn=self.spid, login=self.login.name if self.login else None,
                              **entry)

    def _login(self, payload):
        req = login.Login7(payload)
        version, self.tds = login.answer_version(req.tds_version)
        out = self.tokens()
        faults = self.server.faults.current()
        with self.cat.lock:
            self.cat.apply_offline(faults.offline)
            acct = self.cat.find_login(req.user)
            ok = acct is not None and acct.password == req.password and not faults.refuses(req.user)
            name = req.database or (acct.default_database if acct else "master")
            db = self.cat.find(name)
            if ok and (db is None or self.cat.state_of(db) != "online"
                       or acct.user_in(db) is None):
                login.refused(out, req.user, cannot_open=name)
                ok = False
            elif not ok:
                login.refused(out, req.user)
            else:
                self.login = acct
                self.db_id = self.login_db = db.id
                self.io.packet_size = min(max(req.packet_size or 4096, 512), 32767)
                login.accepted(out, db.name, "master", self.io.packet_size, login.collation_bytes(),
                               version)
        self.server.log.write(conn=self.spid, login=req.user, database=name, kind="login",
                              rpc=None, text=None, host=req.host, app=req.app,
                              errors=out.errors, infos=out.infos,
                              tds_version=login.TDS_NAMES[self.tds], encryption=self.encryption)
        self.server.state.publish()
        self.io.send(out.bytes())
        return ok

    def _single_done(self, status):
        out = self.tokens()
        out.done(status, token=wire.TOK_DONE)
        out.finish_batch()
        self.io.send(out.bytes())

    def _cancelled(self, reply, out=None, call=None):
        """The cancelled request's reply, ended where it stopped, then the acknowledgement."""
        self.server.state.publish()
        out = out or self.tokens()
        out.done(token=wire.TOK_DONEPROC if call is not None else wire.TOK_DONE)
        out.finish_batch()
        self.io.send(bytes(reply) + out.bytes())
        self._single_done(wire.DONE_ATTN)

    def _request(self, ptype, status, payload):
        faults = self.server.faults.current()
        if ptype == wire.PKT_ATTENTION:
            if not faults.hang:   # nothing was running: still acknowledged
                self.server.state.publish()
                self._single_done(wire.DONE_ATTN)
            return
        if status & wire.STATUS_IGNORE:   # the client gave up sending it
            self._single_done(wire.DONE_ERROR)
            return
        self.requests += 1
        with self.cat.lock:
            self.cat.apply_offline(faults.offline)
            if status & wire.STATUS_RESET:   # also rolls back an open transaction
                self.db_id = self.login_db if self.cat.by_id(self.login_db) else 1
                self.nocount, self.trancount, self.implicit_transactions = False, 0, False
                self.descriptor = bytes(8)
        # ALL_HEADERS (the transaction descriptor among them) lead a request from 7.2 on.
        skip = int.from_bytes(payload[:4], "little") if self.tds >= 0x72 else 0
        if ptype == wire.PKT_BATCH:
            items = [("batch", None, payload[skip:].decode("utf-16-le", errors="replace"), None)]
        elif ptype == wire.PKT_RPC:
            calls = procs.parse_rpc(payload[skip:])
            items = [("rpc", c.name, self._call_text(c), c) for c in calls]
        elif ptype == wire.PKT_TRANSACTION:
            items = [("transaction", None, None, payload[skip:])]
        else:
            raise wire.Closed("unexpected packet type %d" % ptype)
        text = "\n".join(i[2] or "" for i in items)

        def log_all(**outcome):
            for kind, rpc, stmt, call in items:
                self._log(kind=kind, rpc=rpc, text=stmt, params=_params(call),
                          database=self.current_db().name, **outcome)

        if faults.hang:
            log_all(unanswered=True)
            return
        if faults.drops(self.requests, text) or self.cat.state_of(self.current_db()) != "online":
            # A database taken offline ends the sessions inside it, as ROLLBACK IMMEDIATE does.
            log_all(dropped=True)
            raise wire.Closed("dropped on purpose")
        delay = faults.delay_for(text)
        if delay and self.wait(delay):
            log_all(cancelled=True)
            self._cancelled(b"", call=items[0][3] if ptype == wire.PKT_RPC else None)
            return
        reply = bytearray()
        for kind, rpc, stmt, call in items:
            db_name = self.current_db().name
            if kind == "transaction":
                stmt, call = self._transaction_request(call, reply), None
                self._log(kind=kind, rpc=None, text=stmt, params=None, database=db_name)
                continue
            out = self.tokens(in_proc=call is not None)
            cancelled = False
            try:
                if call is None:
                    engine.run_batch(self, stmt, out)
                    out.finish_batch()
                else:
                    procs.run_call(self, call, out)
            except engine.Cancelled:
                cancelled = True
            self._log(kind=kind, rpc=rpc, text=stmt, params=_params(call), database=db_name,
                      rows=out.rows, errors=out.errors, infos=out.infos, cancelled=cancelled)
            if cancelled:
                self._cancelled(reply, out, call)
                return
            reply += out.bytes()
        self.server.state.publish()
        self.io.send(bytes(reply))

    def _transaction_request(self, body, reply):
        """A transaction manager request: BEGIN, COMMIT or ROLLBACK (optionally beginning the
        next), SAVE. Returns its name for the statement log."""
        kind = int.from_bytes(body[:2], "little")
        name = TM_NAMES.get(kind, str(kind))
        out = self.tokens()
        with self.cat.lock:
            if kind == 5:
                self.begin_transaction(out)
            elif kind in (7, 8) and not self.trancount:
                out.message(3902 if kind == 7 else 3903, 16, 1, "The %s TRANSACTION request has "
                            "no corresponding BEGIN TRANSACTION." % (
                                "COMMIT" if kind == 7 else "ROLLBACK"))
            elif kind in (7, 8):
                self.end_transaction(out, commit=kind == 7)
                rest = body[2:]   # the name (B_USVARCHAR), then fBeginXact
                begin_at = 1 + 2 * rest[0] if rest else len(rest)
                if begin_at < len(rest) and rest[begin_at]:
                    self.begin_transaction(out)
            elif kind != 9:   # the distributed ones: no MSDTC here
                out.message(8501, 16, 1, "MSDTC on server '%s' is unavailable."
                            % self.cat.server_name)
        out.done(wire.DONE_ERROR if out.errors else 0)
        out.finish_batch()
        reply += out.bytes()
        return name

    def _call_text(self, call):
        if call.name.lower() == "sp_execute":
            return self.prepared.get(call.arg(0), (None,))[0]
        text = call.statement()
        return text if isinstance(text, str) else None


def _params(call):
    if not isinstance(call, procs.Call):
        return None
    return [p.value for p in call.params]

