"""One client connection: PRELOGIN, LOGIN7, then requests until the client
leaves. Applies the faults in force for each request and writes the
statement log. While a request waits, the socket is still read so that an
ATTENTION is answered at once with DONE and the attention bit. The state file
is brought up to date before every reply, so a client that has its answer
can read the state that answer left behind."""
import itertools
import threading
import time

from . import access, engine, login, procs, wire


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
                self.io.send(login.prelogin_reply())
                ptype, _, payload = self.io.read_message()
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
        out = wire.Tokens(self.cat.server_name)
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
                login.accepted(out, db.name, "master", self.io.packet_size, login.collation_bytes())
        self.server.log.write(conn=self.spid, login=req.user, database=name, kind="login",
                              rpc=None, text=None, host=req.host, app=req.app,
                              errors=out.errors, infos=out.infos)
        self.server.state.publish()
        self.io.send(out.bytes())
        return ok

    def _attention_ack(self):
        self.server.state.publish()
        out = wire.Tokens()
        out.done(wire.DONE_ATTN, token=wire.TOK_DONE)
        out.finish_batch()
        self.io.send(out.bytes())

    def _request(self, ptype, status, payload):
        faults = self.server.faults.current()
        if ptype == wire.PKT_ATTENTION:
            if not faults.hang:
                self._attention_ack()   # nothing was running: still acknowledged
            return
        self.requests += 1
        with self.cat.lock:
            self.cat.apply_offline(faults.offline)
            if status & wire.STATUS_RESET:   # also rolls back an open transaction
                self.db_id = self.login_db if self.cat.by_id(self.login_db) else 1
                self.nocount, self.trancount, self.implicit_transactions = False, 0, False
        if ptype == wire.PKT_BATCH:
            skip = int.from_bytes(payload[:4], "little")
            items = [("batch", None, payload[skip:].decode("utf-16-le", errors="replace"), None)]
        elif ptype == wire.PKT_RPC:
            calls = procs.parse_rpc(payload)
            items = [("rpc", c.name, self._call_text(c), c) for c in calls]
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
            self._attention_ack()
            return
        reply = bytearray()
        for kind, rpc, stmt, call in items:
            db_name = self.current_db().name
            out = wire.Tokens(self.cat.server_name, in_proc=call is not None)
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
            if cancelled:   # what the statement had produced is discarded with it
                self._attention_ack()
                return
            reply += out.bytes()
        self.server.state.publish()
        self.io.send(bytes(reply))

    def _call_text(self, call):
        if call.name.lower() == "sp_execute":
            return self.prepared.get(call.arg(0), (None,))[0]
        text = call.statement()
        return text if isinstance(text, str) else None


def _params(call):
    if call is None:
        return None
    return [p.value for p in call.params]

