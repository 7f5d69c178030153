"""Runs parsed statements against the catalogue and writes their results as
tokens: the behaviour of USE, transactions, SET, WAITFOR, PRINT and SELECT,
with SQL Server's messages; the statements that change databases are in
maintenance.py."""
import re

from . import maintenance, wire
from .access import access_check, open_check
from .lexer import SqlError
from .parser import parse_batch
from .query import Scope, evaluate, run_select, type_of


class Cancelled(Exception):
    """The client sent ATTENTION while a statement waited."""


def emit(out, msgs, line=1):
    for number, cls, state, text in msgs:
        out.message(number, cls, state, text, line=line)


def compile_batch(sql, out):
    """The batch's statements, or None after reporting its syntax error."""
    try:
        return parse_batch(sql)
    except SqlError as e:
        emit(out, e.msgs, e.line)
        out.done(wire.DONE_ERROR)
        return None


def run_statements(session, stmts, out):
    for stmt in stmts:
        if not run_statement(session, stmt, out):
            return


def run_batch(session, sql, out):
    """Compiles the whole batch, then runs its statements in order."""
    stmts = compile_batch(sql, out)
    if stmts is not None:
        run_statements(session, stmts, out)


def run_statement(session, stmt, out):
    """False when the error aborts the rest of the batch."""
    try:
        if stmt.kind == "waitfor":
            seconds = _delay_seconds(stmt.delay)
            if session.wait(seconds):
                raise Cancelled()
            out.done()
            return True
        with session.cat.lock:
            try:
                EXECUTORS[stmt.kind](session, stmt, out)
            finally:
                if stmt.kind in maintenance.EXECUTORS:
                    session.cat.changed()
        return True
    except SqlError as e:
        emit(out, e.msgs, stmt.line)
        out.done(wire.DONE_ERROR)
        return not e.abort_batch


def _delay_seconds(text):
    m = re.fullmatch(r"\s*(\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{1,3}))?)?\s*", text)
    if not m or int(m.group(1)) > 23 or int(m.group(2)) > 59 or int(m.group(3) or 0) > 59:
        raise SqlError((148, 15, 1, "Incorrect time syntax in time string '%s' used with "
                        "WAITFOR." % text), abort_batch=True)
    h, mi, s, ms = (int(g or 0) for g in m.groups())
    return h * 3600 + mi * 60 + s + int((m.group(4) or "0").ljust(3, "0")) / 1000.0


def do_use(session, stmt, out):
    db = session.cat.find(stmt.name)
    open_check(session, db, stmt.name)
    access_check(session, db)
    old = session.current_db().name
    session.db_id = db.id
    out.envchange(1, db.name, old)
    out.message(5701, 0, 2, "Changed database context to '%s'." % db.name)
    out.done()


def do_dbcc(session, stmt, out):
    raise SqlError((2526, 16, 3, "Incorrect DBCC statement. Check the documentation for the "
                    "correct DBCC syntax and options."))


def do_begin(session, stmt, out):
    session.begin_transaction(out)
    out.done()


def do_commit(session, stmt, out):
    if not session.trancount:
        raise SqlError((3902, 16, 1, "The COMMIT TRANSACTION request has no corresponding BEGIN "
                        "TRANSACTION."))
    session.end_transaction(out, commit=True)
    out.done()


def do_rollback(session, stmt, out):
    if not session.trancount:
        raise SqlError((3903, 16, 1, "The ROLLBACK TRANSACTION request has no corresponding "
                        "BEGIN TRANSACTION."))
    session.end_transaction(out, commit=False)   # nothing changed inside needs undoing
    out.done()


def do_set(session, stmt, out):
    if "NOCOUNT" in stmt.options:
        session.nocount = stmt.value == "ON"
    if "IMPLICIT_TRANSACTIONS" in stmt.options:
        session.implicit_transactions = stmt.value == "ON"
    out.done()


def do_print(session, stmt, out):
    scope = Scope(session, None, None)
    type_of(stmt.expr, scope)
    value = evaluate(stmt.expr, scope, {})
    out.message(0, 0, 1, "" if value is None else str(value))
    out.done()


def do_if(session, stmt, out):
    branch = stmt.otherwise
    if evaluate(stmt.cond, Scope(session, None, None), {}) is True:
        branch = [stmt.then]
    for inner in branch:
        EXECUTORS[inner.kind](session, inner, out)
        if inner.kind in maintenance.EXECUTORS:
            session.cat.changed()


def do_exec(session, stmt, out):
    raise SqlError((2812, 16, 62, "Could not find stored procedure '%s'." % stmt.name))


def do_select(session, stmt, out):
    rs = run_select(stmt, session)
    if session.implicit_transactions and stmt.table is not None and not session.trancount:
        session.begin_transaction(out)   # reading a table opens the implicit transaction
    out.colmetadata(rs.columns)
    for row in rs.rows:
        out.row(rs.columns, row)
    out.done(cmd=wire.CMD_SELECT, count=None if session.nocount else len(rs.rows))


EXECUTORS = dict(maintenance.EXECUTORS, use=do_use, dbcc=do_dbcc, set=do_set, print=do_print,
                 exec=do_exec, select=do_select, begin_tran=do_begin, commit=do_commit,
                 rollback=do_rollback, **{"if": do_if})
