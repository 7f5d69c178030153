"""Catalogue views over the model: sysdatabases, sysfiles, sys.databases,
sys.master_files and sys.database_files, with the column names and types the
real views have (a subset of their columns)."""
from .catalog import MODELS, STATES, fold
from .lexer import SqlError
from .sqltypes import BIT, DATETIME, INT, SMALLINT, SYSNAME, TINYINT, NVarChar

DESC60 = NVarChar(60)
PATH260 = NVarChar(260)


class Column:
    def __init__(self, name, sqltype, nullable=False):
        self.name = name
        self.type = sqltype
        self.nullable = nullable


SYSDATABASES = [Column("name", SYSNAME, True), Column("dbid", SMALLINT, True),
                Column("mode", SMALLINT, True), Column("status", INT, True),
                Column("status2", INT, True), Column("crdate", DATETIME),
                Column("category", INT, True), Column("cmptlevel", TINYINT),
                Column("filename", PATH260, True), Column("version", SMALLINT, True)]

SYSFILES = [Column("fileid", SMALLINT, True), Column("groupid", SMALLINT, True),
            Column("size", INT), Column("maxsize", INT), Column("growth", INT),
            Column("status", INT, True), Column("perf", INT, True), Column("name", SYSNAME),
            Column("filename", PATH260, True)]

DATABASES = [Column("name", SYSNAME), Column("database_id", INT),
             Column("create_date", DATETIME), Column("compatibility_level", TINYINT),
             Column("collation_name", SYSNAME, True), Column("user_access", TINYINT, True),
             Column("user_access_desc", DESC60, True), Column("is_read_only", BIT, True),
             Column("state", TINYINT, True), Column("state_desc", DESC60, True),
             Column("recovery_model", TINYINT, True), Column("recovery_model_desc", DESC60, True),
             Column("log_reuse_wait", TINYINT, True), Column("log_reuse_wait_desc", DESC60, True)]

FILE_COLUMNS = [Column("file_id", INT), Column("type", TINYINT),
                Column("type_desc", DESC60, True), Column("data_space_id", INT),
                Column("name", SYSNAME), Column("physical_name", PATH260),
                Column("state", TINYINT, True), Column("state_desc", DESC60, True),
                Column("size", INT), Column("max_size", INT), Column("growth", INT),
                Column("is_percent_growth", BIT), Column("is_read_only", BIT)]
MASTER_FILES = [Column("database_id", INT)] + FILE_COLUMNS
DATABASE_FILES = FILE_COLUMNS


def _sysdatabases_row(cat, db):
    state = cat.state_of(db)
    status = 0x10000
    status |= {"SIMPLE": 8, "BULK_LOGGED": 4}.get(db.recovery, 0)
    status |= {"offline": 512, "restoring": 32}.get(state, 0)
    status |= 1024 if db.read_only else 0
    return {"name": db.name, "dbid": db.id, "mode": 0, "status": status,
            "status2": 1090520064, "crdate": db.create_date, "category": 0,
            "cmptlevel": db.compatibility_level,
            "filename": cat.physical_name(db.primary_file()), "version": 904}


def _sysfiles_row(cat, f):
    # status: 0x2 a disk file, 0x40 a log file
    return {"fileid": f.file_id, "groupid": 0 if f.is_log else 1, "size": f.size,
            "maxsize": f.max_size, "growth": f.growth, "status": 0x2 | (0x40 if f.is_log else 0),
            "perf": 0, "name": f.name, "filename": cat.physical_name(f)}


def _databases_row(cat, db):
    state = cat.state_of(db)
    online = state == "online"
    if db.log_truncatable() or not any(f.used > f.active for f in db.log_files()):
        reuse = (0, "NOTHING")
    else:
        reuse = (2, "LOG_BACKUP")
    return {"name": db.name, "database_id": db.id, "create_date": db.create_date,
            "compatibility_level": db.compatibility_level,
            "collation_name": cat.collation_name if online else None,
            "user_access": 0, "user_access_desc": "MULTI_USER", "is_read_only": db.read_only,
            "state": STATES[state], "state_desc": state.upper(),
            "recovery_model": MODELS[db.recovery], "recovery_model_desc": db.recovery,
            "log_reuse_wait": reuse[0], "log_reuse_wait_desc": reuse[1]}


def _file_row(cat, db, f):
    state = cat.state_of(db)
    return {"database_id": db.id, "file_id": f.file_id, "type": f.type_code,
            "type_desc": "LOG" if f.is_log else "ROWS", "data_space_id": 0 if f.is_log else 1,
            "name": f.name, "physical_name": cat.physical_name(f),
            "state": STATES[state], "state_desc": state.upper(), "size": f.size,
            "max_size": f.max_size, "growth": f.growth, "is_percent_growth": False,
            "is_read_only": db.read_only}


class View:
    """Columns plus a row source evaluated at execution time. The source may
    be narrowed to one database, as an index seek on the id column would."""

    def __init__(self, name, columns, rows, key=None):
        self.name = name          # table name parts for TABNAME
        self.columns = columns
        self.source = rows        # callable(list of databases) -> list of dicts
        self.key = key            # the column holding a database id, if any

    def rows(self, cat, db_id=None):
        if db_id is None or self.key is None:
            return self.source(cat.databases)
        db = cat.by_id(db_id) if isinstance(db_id, int) else None
        return self.source([db] if db else [])


def resolve(parts, cat, session):
    """Finds the view a (server.)(db.)(schema.)object name means."""
    written = ".".join(parts)
    parts = [""] * (4 - len(parts)) + list(parts)
    server, dbname, schema, obj = parts
    invalid = SqlError((208, 16, 1, "Invalid object name '%s'." % written), abort_batch=True)
    if server:
        raise invalid
    target = session.current_db()
    if dbname:
        target = cat.find(dbname)
        if target is None:
            raise invalid
        if cat.state_of(target) != "online":
            session.refuse_open(target)
        session.check_access(target)
    obj, schema = fold(obj), fold(schema)
    if obj == "sysdatabases" and schema in ("", "dbo", "sys"):
        return View(["sys", "sysdatabases"], SYSDATABASES,
                    lambda dbs: [_sysdatabases_row(cat, d) for d in dbs], "dbid")
    if obj == "sysfiles" and schema in ("", "dbo", "sys"):   # the database's own files
        return View(["sys", "sysfiles"], SYSFILES,
                    lambda dbs: [_sysfiles_row(cat, f) for f in target.files])
    if schema != "sys":
        raise invalid
    if obj == "databases":
        return View(["sys", "databases"], DATABASES,
                    lambda dbs: [_databases_row(cat, d) for d in dbs], "database_id")
    if obj == "master_files":
        # Without VIEW ANY DEFINITION (or CREATE / ALTER ANY DATABASE) no row is visible.
        visible = session.login.view_any_definition
        return View(["sys", "master_files"], MASTER_FILES,
                    lambda dbs: [_file_row(cat, d, f) for d in dbs for f in d.files if visible],
                    "database_id")
    if obj == "database_files":
        return View(["sys", "database_files"], DATABASE_FILES,
                    lambda dbs: [_file_row(cat, target, f) for f in target.files])
    raise invalid
