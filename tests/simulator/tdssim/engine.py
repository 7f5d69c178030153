"""Runs parsed statements against the catalogue and writes their results as
tokens: the behaviour of USE, ALTER DATABASE, DBCC SHRINKFILE, BACKUP LOG,
CHECKPOINT, SET, WAITFOR, PRINT and SELECT, with SQL Server's messages."""
import re

from . import wire
from .catalog import fold
from .lexer import SqlError
from .parser import parse_batch
from .query import Scope, evaluate, run_select, type_of
from .sqltypes import INT, SMALLINT
from .views import Column


class Cancelled(Exception):
    """The client sent ATTENTION while a statement waited."""


ALTER_FAILED = (5069, 16, 1, "ALTER DATABASE statement failed.")
SHRINK_COLUMNS = [Column("DbId", SMALLINT), Column("FileId", SMALLINT),
                  Column("CurrentSize", INT), Column("MinimumSize", INT),
                  Column("UsedPages", INT), Column("EstimatedPages", INT)]


def no_alter(name):
    return (5011, 14, 5, "User does not have permission to alter database '%s', the database "
            "does not exist, or the database is not in a state that allows access checks." % name)


def emit(out, msgs):
    for number, cls, state, text in msgs:
        out.message(number, cls, state, text)


def compile_batch(sql, out):
    """The batch's statements, or None after reporting its syntax error."""
    try:
        return parse_batch(sql)
    except SqlError as e:
        emit(out, e.msgs)
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
            EXECUTORS[stmt.kind](session, stmt, out)
        return True
    except SqlError as e:
        emit(out, e.msgs)
        out.done(wire.DONE_ERROR)
        return not e.abort_batch


def _delay_seconds(text):
    m = re.fullmatch(r"\s*(\d{1,2}):(\d{1,2})(?::(\d{1,2})(?:\.(\d{1,3}))?)?\s*", text)
    if not m or int(m.group(1)) > 23 or int(m.group(2)) > 59 or int(m.group(3) or 0) > 59:
        raise SqlError((148, 15, 1, "Incorrect time syntax in time string '%s' used with "
                        "WAITFOR." % text), abort_batch=True)
    h, mi, s, ms = (int(g or 0) for g in m.groups())
    return h * 3600 + mi * 60 + s + int((m.group(4) or "0").ljust(3, "0")) / 1000.0


def open_check(session, db, name):
    state = session.cat.state_of(db) if db else None
    if db is None:
        raise SqlError((911, 16, 1, "Database '%s' does not exist. Make sure that the name is "
                        "entered correctly." % name), abort_batch=True)
    if state == "offline":
        raise SqlError((942, 14, 4, "Database '%s' cannot be opened because it is offline."
                        % db.name), abort_batch=True)
    if state == "restoring":
        raise SqlError((927, 14, 2, "Database '%s' cannot be opened. It is in the middle of a "
                        "restore." % db.name), abort_batch=True)


def do_use(session, stmt, out):
    db = session.cat.find(stmt.name)
    open_check(session, db, stmt.name)
    old = session.current_db().name
    session.db_id = db.id
    out.envchange(1, db.name, old)
    out.message(5701, 0, 2, "Changed database context to '%s'." % db.name)
    out.done()


def do_alter(session, stmt, out):
    cat = session.cat
    db = session.current_db() if stmt.db is None else cat.find(stmt.db)
    written = stmt.db if stmt.db is not None else db.name
    if db is None or not session.login.can_alter:
        raise SqlError(no_alter(written), ALTER_FAILED)
    state = cat.state_of(db)
    for option, value in stmt.options:
        if state != "online" and option != "ONLINE":
            raise SqlError(no_alter(written), ALTER_FAILED)
        system = db.id <= 4
        if (option == "RECOVERY" and db.id == 2) or (option != "RECOVERY" and system):
            raise SqlError((5058, 16, 1, "Option '%s' cannot be set in database '%s'."
                            % (option, db.name)), ALTER_FAILED)
        if option == "RECOVERY":
            if db.read_only:
                raise SqlError((5004, 16, 1, "To use ALTER DATABASE, the database must be in "
                                "a writable state in which a checkpoint can be executed."),
                               ALTER_FAILED)
            db.recovery = value
            if value == "SIMPLE":
                db.log_backup_pending = False   # the log chain is broken from here on
        elif option in ("OFFLINE", "ONLINE"):
            db.state = option.lower()
            cat.forced_offline.discard(fold(db.name))
            state = db.state
        else:
            db.read_only = option == "READ_ONLY"
    out.done()


def do_shrinkfile(session, stmt, out):
    db = session.current_db()
    if not session.login.can_alter:
        raise SqlError((2571, 14, 3, "User '%s' does not have permission to run DBCC "
                        "SHRINKFILE." % session.login.name))
    if isinstance(stmt.file, int):
        f = next((f for f in db.files if f.file_id == stmt.file), None)
    else:
        f = next((f for f in db.files if fold(f.name) == fold(stmt.file)), None)
    if f is None:
        raise SqlError((8985, 16, 1, "Could not locate file '%s' for database '%s' in "
                        "sys.database_files. The file either does not exist, or was dropped."
                        % (stmt.file, db.name)))
    if db.read_only:
        raise SqlError((3906, 16, 1, 'Failed to update database "%s" because the database is '
                        'read-only.' % db.name))
    releases = stmt.mode not in ("NOTRUNCATE", "EMPTYFILE")
    if f.is_log and releases and not db.log_truncatable():
        out.message(9008, 10, 1, "Cannot shrink log file %d (%s) because the logical log file "
                    "located at the end of the file is in use." % (f.file_id, f.name))
    elif releases:
        if f.is_log:
            f.used = min(f.used, f.active)   # the checkpoint the shrink implies
        floor = max(f.used, f.min_size)
        want = floor if stmt.mode == "TRUNCATEONLY" or stmt.size is None else max(floor, stmt.size * 128)
        if want < f.size:
            f.size = want
            session.cat.resize_on_disk(f)
    out.colmetadata(SHRINK_COLUMNS)
    out.row(SHRINK_COLUMNS, [db.id, f.file_id, f.size, f.min_size, f.used, f.used])
    if not stmt.quiet:
        out.message(2528, 10, 1, "DBCC execution completed. If DBCC printed error messages, "
                    "contact your system administrator.")
    out.done(count=1)


def do_dbcc(session, stmt, out):
    raise SqlError((2526, 16, 3, "Incorrect DBCC statement. Check the documentation for the "
                    "correct DBCC syntax and options."))


def do_backup_log(session, stmt, out):
    cat = session.cat
    db = cat.find(stmt.db)
    failed = (3013, 16, 1, "BACKUP LOG is terminating abnormally.")
    try:
        open_check(session, db, stmt.db)
    except SqlError as e:
        raise SqlError(e.msgs[0], failed)
    if not session.login.can_alter:
        raise SqlError((262, 14, 1, "BACKUP LOG permission denied in database '%s'." % db.name), failed)
    if db.effective_model() == "SIMPLE":
        raise SqlError((4208, 16, 1, "The statement BACKUP LOG is not allowed while the recovery "
                        "model is SIMPLE. Use BACKUP DATABASE or change the recovery model "
                        "using ALTER DATABASE."), failed)
    pages = 0
    for f in db.files:
        if f.is_log:
            pages += f.used - f.active
            out.message(4035, 0, 1, "Processed %d pages for database '%s', file '%s' on file 1."
                        % (f.used - f.active, db.name, f.name))
            f.used = f.active
    db.log_backup_pending = False
    out.message(3014, 0, 1, "BACKUP LOG successfully processed %d pages in 0.010 seconds "
                "(%.3f MB/sec)." % (pages, pages * 8192 / 1048576 / 0.01))
    out.done()


def do_checkpoint(session, stmt, out):
    db = session.current_db()
    if db.log_truncatable():
        for f in db.files:
            if f.is_log:
                f.used = min(f.used, f.active)
    out.done()


def do_set(session, stmt, out):
    if "NOCOUNT" in stmt.options:
        session.nocount = stmt.value == "ON"
    out.done()


def do_print(session, stmt, out):
    scope = Scope(session, None, None)
    type_of(stmt.expr, scope)
    value = evaluate(stmt.expr, scope, {})
    out.message(0, 0, 1, "" if value is None else str(value))
    out.done()


def do_exec(session, stmt, out):
    raise SqlError((2812, 16, 62, "Could not find stored procedure '%s'." % stmt.name))


def do_select(session, stmt, out):
    rs = run_select(stmt, session)
    out.colmetadata(rs.columns)
    for row in rs.rows:
        out.row(rs.columns, row)
    out.done(cmd=wire.CMD_SELECT, count=None if session.nocount else len(rs.rows))


EXECUTORS = {"use": do_use, "alter": do_alter, "shrinkfile": do_shrinkfile, "dbcc": do_dbcc,
             "backup_log": do_backup_log, "checkpoint": do_checkpoint, "set": do_set,
             "print": do_print, "exec": do_exec, "select": do_select}
