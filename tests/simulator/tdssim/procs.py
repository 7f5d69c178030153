"""The system procedures ODBC drivers call by RPC: API server cursors
(sp_cursoropen/fetch/option/close), prepared statements (sp_prepare,
sp_execute, sp_prepexec, sp_unprepare) and sp_executesql.

A database change made inside a procedure ends with it, as in SQL Server.
"""
import re

from . import engine, wire
from .lexer import SqlError
from .query import run_select
from .sqltypes import INT, IntType, NVarChar, Param, Reader, VarChar, read_param
from .views import Column

PROC_IDS = {1: "sp_cursor", 2: "sp_cursoropen", 3: "sp_cursorprepare", 4: "sp_cursorexecute",
            5: "sp_cursorprepexec", 6: "sp_cursorunprepare", 7: "sp_cursorfetch",
            8: "sp_cursoroption", 9: "sp_cursorclose", 10: "sp_executesql", 11: "sp_prepare",
            12: "sp_execute", 13: "sp_prepexec", 14: "sp_prepexecrpc", 15: "sp_unprepare"}
ROWSTAT = Column("ROWSTAT", INT)
FETCH_FIRST, FETCH_NEXT, FETCH_PREV, FETCH_LAST = 1, 2, 4, 8
FETCH_ABSOLUTE, FETCH_RELATIVE, FETCH_REFRESH = 0x10, 0x20, 0x40
OPT_NO_METADATA = 0x02


class Call:
    def __init__(self, name, flags, params):
        self.name = name
        self.flags = flags
        self.params = params

    def arg(self, i, default=None):
        return self.params[i].value if i < len(self.params) else default

    def statement(self):
        """The SQL text the call carries, for the statement log."""
        pos = {"sp_executesql": 0, "sp_cursoropen": 1, "sp_prepexec": 2, "sp_prepare": 2,
               "sp_cursorprepexec": 3, "sp_cursorprepare": 2}.get(self.name.lower())
        return self.arg(pos) if pos is not None else None


def parse_rpc(payload):
    """The calls of an RPC request, after its ALL_HEADERS."""
    rd = Reader(payload)
    calls = []
    while not rd.done():
        n = rd.u16()
        name = PROC_IDS.get(rd.u16(), "?") if n == 0xFFFF else rd.ucs2(n)
        flags = rd.u16()
        params = []
        while not rd.done() and rd.data[rd.pos] not in (0x80, 0xFF, 0xFE):
            params.append(read_param(rd))
        if not rd.done():
            rd.u8()
        calls.append(Call(name, flags, params))
    return calls


class Cursor:
    def __init__(self, handle, rs):
        self.handle = handle
        self.rs = rs
        self.start = -1   # first row of the current block; -1 before the first fetch
        self.count = 0
        self.name = None


def run_call(session, call, out):
    """Runs one procedure call inside its own database scope."""
    saved = session.db_id
    session.params = []
    outputs = {}
    status = 0
    handler = HANDLERS.get(call.name.lower())
    try:
        if handler is None:
            raise SqlError((2812, 16, 62, "Could not find stored procedure '%s'." % call.name))
        handler(session, call, out, outputs)
    except SqlError as e:
        engine.emit(out, e.msgs)
        out.done(wire.DONE_ERROR)
        status = 1
    except engine.Cancelled:
        session.db_id = saved
        raise
    finally:
        session.params = []
    if session.db_id != saved:
        changed = session.current_db().name
        session.db_id = saved
        out.envchange(1, session.current_db().name, changed)
    out.returnstatus(status)
    for i, p in enumerate(call.params):
        if p.output:
            out.returnvalue(i, p.name, INT if i in outputs else p.sqltype, outputs.get(i, p.value))
    out.done(wire.DONE_ERROR if out.errors else 0, cmd=wire.CMD_EXECUTE, token=wire.TOK_DONEPROC)


def _bind(session, call, defs_at, first_value):
    """Values may come unnamed: they then take the names of the definitions in order."""
    names = re.findall(r"(@[\w@#$]+)\s", (call.arg(defs_at) or "") + " ")
    session.params = call.params[first_value:]
    for i, p in enumerate(session.params):
        if not p.name and i < len(names):
            p.name = names[i]


def _executesql(session, call, out, outputs):
    _bind(session, call, 1, 2)
    engine.run_batch(session, call.arg(0) or "", out)


def _prepare_common(session, call, out, outputs, execute):
    text = call.arg(2) or ""
    stmts = engine.compile_batch(text, out)
    if stmts is None:
        outputs[0] = None
        return None
    handle = session.new_handle()
    session.prepared[handle] = (text, call.arg(1))
    outputs[0] = handle
    if execute:
        _bind(session, call, 1, 3)
        engine.run_statements(session, stmts, out)
    return stmts


def _prepexec(session, call, out, outputs):
    _prepare_common(session, call, out, outputs, execute=True)


def _declared(defs):
    """NULL parameters typed as their definitions say, for describing a statement."""
    params = []
    for name, tname, size in re.findall(r"(@[\w@#$]+)\s+(\w+)(?:\s*\(\s*(\w+))?", defs or ""):
        tname = tname.lower()
        length = int(size) if size and size.isdigit() else 4000
        if tname in ("int", "smallint", "tinyint", "bigint"):
            sqltype = IntType({"tinyint": 1, "smallint": 2, "int": 4, "bigint": 8}[tname])
        elif tname in ("varchar", "char"):
            sqltype = VarChar(length)
        else:
            sqltype = NVarChar(length)
        params.append(Param(name, 0, None, None, sqltype))
    return params


def _prepare(session, call, out, outputs):
    stmts = _prepare_common(session, call, out, outputs, execute=False)
    session.params = _declared(call.arg(1))
    if stmts and len(stmts) == 1 and stmts[0].kind == "select" and (call.arg(3) or 0) & 1:
        with session.cat.lock:
            rs = run_select(stmts[0], session)
        out.colmetadata(rs.columns)
        out.done()


def _prepared_text(session, handle):
    if handle not in session.prepared:
        raise SqlError((8179, 16, 4, "Could not find prepared statement with handle %s." % handle))
    return session.prepared[handle]


def _execute(session, call, out, outputs):
    text, defs = _prepared_text(session, call.arg(0))
    session.params = call.params[1:]
    names = re.findall(r"(@[\w@#$]+)\s", (defs or "") + " ")
    for i, p in enumerate(session.params):
        if not p.name and i < len(names):
            p.name = names[i]
    engine.run_batch(session, text, out)


def _unprepare(session, call, out, outputs):
    _prepared_text(session, call.arg(0))
    del session.prepared[call.arg(0)]


def _cursoropen(session, call, out, outputs):
    outputs[0] = 0
    scrollopt, ccopt = call.arg(2) or 0, call.arg(3) or 0
    outputs[2] = scrollopt & 0x7FFF
    outputs[3] = ccopt & 0x7FFF
    outputs[4] = -1
    stmts = engine.compile_batch(call.arg(1) or "", out)
    if stmts is None:
        return
    if scrollopt & 0x1000:   # parameterized: definitions, then the values
        _bind(session, call, 5, 6)
    if len(stmts) != 1 or stmts[0].kind != "select":
        out.message(16954, 10, 2, "Executing SQL directly; no cursor.")
        engine.run_statements(session, stmts, out)
        return
    with session.cat.lock:
        rs = run_select(stmts[0], session)
    cur = Cursor(session.new_cursor_handle(), rs)
    session.cursors[cur.handle] = cur
    out.colmetadata(rs.columns + [ROWSTAT])
    if rs.tables:   # FreeTDS refuses an empty TABNAME; a constant SELECT sends none
        out.tabname(rs.tables)
    entries = [(i + 1, 1 if origin and rs.tables else 0, 0 if origin and rs.tables else 0x04)
               for i, origin in enumerate(rs.origins)]
    entries.append((len(rs.columns) + 1, 0, 0x04 | 0x10))   # ROWSTAT is hidden
    out.colinfo(entries)
    out.done()
    outputs[0] = cur.handle
    outputs[4] = len(rs.rows)


def _cursor(session, call):
    handle = call.arg(0)
    if handle not in session.cursors:
        raise SqlError((16950, 16, 1, "The variable '@cursor' does not currently have a cursor "
                        "allocated to it."))
    return session.cursors[handle]


def _cursorfetch(session, call, out, outputs):
    cur = _cursor(session, call)
    kind, rownum, nrows = call.arg(1, FETCH_NEXT), call.arg(2, 0) or 0, call.arg(3, 1) or 1
    total = len(cur.rs.rows)
    start = {FETCH_FIRST: 0,
             FETCH_NEXT: 0 if cur.start < 0 else cur.start + cur.count,
             FETCH_PREV: max(cur.start, 0) - nrows,
             FETCH_LAST: total - nrows,
             FETCH_ABSOLUTE: rownum - 1 if rownum > 0 else total + rownum,
             FETCH_RELATIVE: max(cur.start, 0) + rownum,
             FETCH_REFRESH: cur.start}.get(kind & 0x7F, None)
    rows = []
    if start is not None:
        if kind & 0x7F in (FETCH_PREV, FETCH_LAST) and start < 0:
            start = 0
        if 0 <= start < total:
            rows = cur.rs.rows[start:start + nrows]
        cur.start = min(max(start, -1), total)
        cur.count = len(rows)
    cols = cur.rs.columns + [ROWSTAT]
    if call.flags & OPT_NO_METADATA:
        out.no_metadata()
    else:
        out.colmetadata(cols)
    for r in rows:
        out.row(cols, list(r) + [1])
    out.done(count=len(rows))


def _cursoroption(session, call, out, outputs):
    cur = _cursor(session, call)
    if call.arg(1) == 2:
        cur.name = call.arg(2)


def _cursorclose(session, call, out, outputs):
    _cursor(session, call)
    del session.cursors[call.arg(0)]


HANDLERS = {"sp_executesql": _executesql, "sp_prepexec": _prepexec, "sp_prepare": _prepare,
            "sp_execute": _execute, "sp_unprepare": _unprepare, "sp_cursoropen": _cursoropen,
            "sp_cursorfetch": _cursorfetch, "sp_cursoroption": _cursoroption,
            "sp_cursorclose": _cursorclose}
