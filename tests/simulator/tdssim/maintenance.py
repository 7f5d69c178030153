"""The statements that change databases: ALTER DATABASE, DROP DATABASE,
DBCC SHRINKFILE, CHECKPOINT, BACKUP DATABASE and BACKUP LOG, with the
refusals SQL Server gives (rights, states, transactions, availability
groups, a broken log chain)."""
from . import logspace
from .access import ALTER_FAILED, access_check, denied, in_transaction, no_alter, open_check
from .catalog import fold
from .lexer import SqlError
from .sqltypes import INT, SMALLINT
from .views import Column
from .wire import CMD_SELECT

SHRINK_COLUMNS = [Column("DbId", SMALLINT), Column("FileId", INT),
                  Column("CurrentSize", INT), Column("MinimumSize", INT),
                  Column("UsedPages", INT), Column("EstimatedPages", INT)]


def _replicated(db):
    return db.availability_group is not None or db.mirrored


def do_alter(session, stmt, out):
    cat = session.cat
    db = session.current_db() if stmt.db is None else cat.find(stmt.db)
    written = stmt.db if stmt.db is not None else db.name
    in_transaction(session, (226, 16, 6, "ALTER DATABASE statement not allowed within "
                             "multi-statement transaction."))
    if db is None or not session.login.can_alter:
        raise SqlError(no_alter(written), ALTER_FAILED)
    state = cat.state_of(db)
    if state == "restoring":
        raise SqlError((5052, 16, 1, "ALTER DATABASE is not permitted while a database is in "
                        "the Restoring state."), ALTER_FAILED)
    for option, value in stmt.options:
        if state != "online" and option != "ONLINE":
            raise SqlError(no_alter(written), ALTER_FAILED)
        system = db.id <= 4
        if (option == "RECOVERY" and db.id == 2) or (option != "RECOVERY" and system):
            raise SqlError((5058, 16, 1, "Option '%s' cannot be set in database '%s'."
                            % (option, db.name)), ALTER_FAILED)
        if option in ("RECOVERY", "OFFLINE") and _replicated(db):
            raise SqlError((1468, 16, 3, 'The operation cannot be performed on database "%s" '
                            "because it is involved in a database mirroring session or an "
                            "availability group. Some operations are not allowed on a database "
                            "that is participating in a database mirroring session or in an "
                            "availability group." % db.name), ALTER_FAILED)
        if option == "RECOVERY":
            if db.read_only:
                raise SqlError((5004, 16, 1, "To use ALTER DATABASE, the database must be in "
                                "a writable state in which a checkpoint can be executed."),
                               ALTER_FAILED)
            db.recovery = value
            if value == "SIMPLE":
                db.log_chain = False   # broken from here on, until a full backup
        elif option in ("OFFLINE", "ONLINE"):
            db.state = option.lower()
            cat.forced_offline.discard(fold(db.name))
            state = db.state
        else:
            db.read_only = option == "READ_ONLY"
    out.done()


def do_drop(session, stmt, out):
    cat = session.cat
    in_transaction(session, (574, 16, 0, "DROP DATABASE statement cannot be used inside a user "
                             "transaction."))
    for name in stmt.names:
        db = cat.find(name)
        if db is None and stmt.if_exists:
            continue
        if db is None or not session.login.can_alter:
            raise SqlError((3701, 11, 1, "Cannot drop the database '%s', because it does not "
                            "exist or you do not have permission." % name))
        if db.id <= 4:
            raise SqlError((3708, 16, 1, "Cannot drop the database '%s' because it is a system "
                            "database." % db.name))
        if db.availability_group is not None:
            raise SqlError((3752, 16, 1, "The database '%s' is currently joined to an "
                            "availability group.  Before you can drop the database, you need "
                            "to remove it from the availability group." % db.name))
        if db.mirrored:
            raise SqlError((3743, 16, 1, "The database '%s' is enabled for database mirroring. "
                            "Database mirroring must be removed before you drop the database."
                            % db.name))
        if cat.in_use(db):
            raise SqlError((3702, 16, 4, 'Cannot drop database "%s" because it is currently in '
                            "use." % db.name))
        cat.drop(db)
    out.done()


def do_shrinkfile(session, stmt, out):
    db = session.current_db()
    login = session.login
    if not login.can_alter:
        raise SqlError((2571, 14, 3, "User '%s' does not have permission to run DBCC "
                        "SHRINKFILE." % login.name))
    if not login.owns(db):
        raise SqlError((7983, 14, 36, "User '%s' does not have permission to run DBCC SHRINKFILE "
                        "for database '%s'." % (login.user_in(db), db.name)))
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
    before = f.size
    if stmt.mode not in ("NOTRUNCATE", "EMPTYFILE"):
        target = 0 if stmt.mode == "TRUNCATEONLY" or stmt.size is None else stmt.size * 128
        if not f.is_log:
            logspace.shrink_data(f, target)
        else:
            if db.log_truncatable():
                logspace.truncate(f)   # the checkpoint that SIMPLE runs by itself
            if not logspace.shrink_log(f, target):
                out.message(9008, 10, 1, "Cannot shrink log file %d (%s) because the logical "
                            "log file located at the end of the file is in use."
                            % (f.file_id, f.name))
    if f.size != before:
        session.cat.resize_on_disk(f)
    out.colmetadata(SHRINK_COLUMNS)
    out.row(SHRINK_COLUMNS, [db.id, f.file_id, f.size, f.min_size, f.used, f.used])
    out.done(cmd=CMD_SELECT, count=1)   # the result set ends before DBCC's closing message
    if not stmt.quiet:
        out.message(2528, 10, 1, "DBCC execution completed. If DBCC printed error messages, "
                    "contact your system administrator.")
    out.done()


def do_checkpoint(session, stmt, out):
    db = session.current_db()
    if not session.login.owns(db):
        raise SqlError(denied("CHECKPOINT", db))
    if db.log_truncatable():
        for f in db.log_files():
            logspace.truncate(f)
            logspace.wrap(f)
    out.done()


def _backup_target(session, stmt, kind):
    """The database a BACKUP may copy, else the refusal followed by 3013."""
    failed = (3013, 16, 1, "BACKUP %s is terminating abnormally." % kind)
    in_transaction(session, (3021, 16, 0, "Cannot perform a backup or restore operation within "
                             "a transaction."), failed)
    db = session.cat.find(stmt.db)
    try:
        open_check(session, db, stmt.db)
        if db.id == 2:
            raise SqlError((3147, 16, 1, "Backup and restore operations are not allowed on "
                            "database tempdb."))
        access_check(session, db)
        if not session.login.can_alter or not session.login.owns(db):
            raise SqlError(denied("BACKUP " + kind, db))
    except SqlError as e:
        raise SqlError(e.msgs[0], failed)
    return db, failed


def _processed(out, db, f, pages):
    out.message(4035, 0, 1, "Processed %d pages for database '%s', file '%s' on file 1."
                % (pages, db.name, f.name))
    return pages


def _finished(out, kind, pages):
    out.message(3014, 0, 1, "BACKUP %s successfully processed %d pages in 0.010 seconds "
                "(%.3f MB/sec)." % (kind, pages, pages * 8192 / 1048576 / 0.01))
    out.done()


def do_backup_log(session, stmt, out):
    db, failed = _backup_target(session, stmt, "LOG")
    if db.id == 1:
        raise SqlError((4212, 16, 1, "Cannot back up the log of the master database. Use BACKUP "
                        "DATABASE instead."), failed)
    if db.effective_model() == "SIMPLE":
        raise SqlError((4208, 16, 1, "The statement BACKUP LOG is not allowed while the recovery "
                        "model is SIMPLE. Use BACKUP DATABASE or change the recovery model "
                        "using ALTER DATABASE."), failed)
    if not db.log_chain:
        raise SqlError((4214, 16, 1, "BACKUP LOG cannot be performed because there is no current "
                        "database backup."), failed)
    pages = 0
    for f in db.log_files():
        pages += _processed(out, db, f, logspace.truncate(f))
        logspace.wrap(f)
    _finished(out, "LOG", pages)


def do_backup_database(session, stmt, out):
    db, failed = _backup_target(session, stmt, "DATABASE")
    pages = sum(_processed(out, db, f, min(f.active, f.used) if f.is_log else f.used)
                for f in db.files)
    if db.effective_model() != "SIMPLE":
        db.log_chain = True
    _finished(out, "DATABASE", pages)


EXECUTORS = {"alter": do_alter, "drop": do_drop, "shrinkfile": do_shrinkfile,
             "checkpoint": do_checkpoint, "backup_log": do_backup_log,
             "backup_db": do_backup_database}
