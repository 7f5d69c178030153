"""The server's catalogue: logins, databases and their files, loaded from a
JSON fixture and shared by all connections under one lock.

Sizes are in 8-KB pages as SQL Server counts them. When a files directory is
given, every database file also exists there as a sparse file of the size the
server reports (or of its fixture's disk_bytes), so that a tool on this
machine can measure it on disk.

Every change that the state file shows bumps `version`, under the lock.
"""
import datetime
import json
import os
import threading

from . import logspace, sqltypes

DEFAULT_DIR = "C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL\\DATA\\"
STATES = {"online": 0, "restoring": 1, "offline": 6}
MODELS = {"FULL": 1, "BULK_LOGGED": 2, "SIMPLE": 3}

# The four system databases as a default instance has them.
SYSTEM_DATABASES = [
    {"name": "master", "id": 1, "recovery": "SIMPLE", "files": [
        {"name": "master", "physical": "master.mdf", "size": 512, "used": 400},
        {"name": "mastlog", "physical": "mastlog.ldf", "size": 256, "used": 60}]},
    {"name": "tempdb", "id": 2, "recovery": "SIMPLE", "files": [
        {"name": "tempdev", "physical": "tempdb.mdf", "size": 1024, "used": 64},
        {"name": "templog", "physical": "templog.ldf", "size": 1024, "used": 40}]},
    {"name": "model", "id": 3, "recovery": "FULL", "log_backup_pending": False, "files": [
        {"name": "modeldev", "physical": "model.mdf", "size": 1024, "used": 300},
        {"name": "modellog", "physical": "modellog.ldf", "size": 1024, "used": 50}]},
    {"name": "msdb", "id": 4, "recovery": "SIMPLE", "files": [
        {"name": "MSDBData", "physical": "MSDBData.mdf", "size": 2048, "used": 1800},
        {"name": "MSDBLog", "physical": "MSDBLog.ldf", "size": 1024, "used": 90}]},
]


# Databases whose guest user is enabled on a fresh instance.
GUEST_DATABASES = {1, 2, 4}


def fold(name):
    """Identifier and text comparison as the server's collation does it."""
    return name if sqltypes.CASE_SENSITIVE else name.casefold()


def _names(value):
    """A fixture's list of database names; None (absent or true) means all."""
    if value is None or value is True:
        return None
    if value is False:
        return set()
    return {fold(n) for n in value}


class Login:
    def __init__(self, entry):
        self.name = entry["name"]
        self.password = entry.get("password", "")
        # ALTER ANY DATABASE: ALTER, DROP and BACKUP anywhere
        self.can_alter = bool(entry.get("can_alter", True))
        self.default_database = entry.get("default_database", "master")
        self.users = _names(entry.get("users"))          # databases with a user
        self.owner_of = _names(entry.get("db_owner"))    # ... in the role db_owner
        if self.users is not None and self.owner_of:
            self.users |= self.owner_of
        self.view_any_definition = bool(entry.get("view_any_definition", True))

    def user_in(self, db):
        """The database user this login acts as in db, or None: no access."""
        if self.users is None or fold(db.name) in self.users:
            return self.name
        return "guest" if db.guest else None

    def owns(self, db):
        mapped = self.users is None or fold(db.name) in self.users
        return mapped and (self.owner_of is None or fold(db.name) in self.owner_of)


class DbFile:
    def __init__(self, entry, file_id, is_log, db_name):
        self.file_id = int(entry.get("file_id", file_id))
        self.is_log = entry.get("type", "LOG" if is_log else "ROWS").upper() == "LOG"
        # A generated log name keeps within the 128 characters of a sysname.
        default = db_name[:124] + "_log" if self.is_log else db_name
        self.name = entry.get("name", default)
        if not 0 < len(self.name) <= 128:
            raise ValueError("logical file name must have 1 to 128 characters: %r" % self.name)
        ext = ".ldf" if self.is_log else ".mdf"
        self.physical = entry.get("physical", self.name + ext)
        if "\\" not in self.physical and "/" not in self.physical:
            self.physical = DEFAULT_DIR + self.physical
        self.size = int(entry.get("size", 1024))
        self.used = min(int(entry.get("used", self.size // 2)), self.size)
        # Pages still in use after the log is truncated (checkpoint or log backup).
        self.active = min(int(entry.get("active", self.used)), self.used)
        self.min_size = int(entry.get("min_size", min(self.size, 64) if self.is_log else 0))
        self.max_size = int(entry.get("max_size", 268435456 if self.is_log else -1))
        self.growth = int(entry.get("growth", 8192))
        self.start = 0
        if self.is_log:
            logspace.place(self, entry)
        # On-disk length: absent means size x 8192; null means no file at all.
        self.on_disk = entry.get("disk_bytes", 0) is not None
        self.disk_bytes = entry.get("disk_bytes")
        self.disk_path = None

    @property
    def type_code(self):
        return 1 if self.is_log else 0


class Database:
    def __init__(self, entry, db_id):
        self.id = int(entry.get("id", db_id))
        self.name = entry["name"]
        if not 0 < len(self.name) <= 128:
            raise ValueError("database name must have 1 to 128 characters: %r" % self.name)
        self.state = entry.get("state", "online").lower()
        if self.state not in STATES:
            raise ValueError("unknown state %r for %s" % (self.state, self.name))
        self.read_only = bool(entry.get("read_only", False))
        self.recovery = entry.get("recovery", "FULL").upper()
        if self.recovery not in MODELS:
            raise ValueError("unknown recovery model %r for %s" % (self.recovery, self.name))
        # A full backup started the log chain: FULL keeps the log until a log backup.
        self.log_chain = bool(entry.get("log_backup_pending", self.recovery != "SIMPLE"))
        self.guest = bool(entry.get("guest", self.id in GUEST_DATABASES))
        self.availability_group = entry.get("availability_group")
        self.mirrored = bool(entry.get("mirrored", False))
        self.create_date = datetime.datetime.fromisoformat(entry.get("create_date", "2020-10-08T09:05:03"))
        self.compatibility_level = int(entry.get("compatibility_level", 150))
        file_entries = entry.get("files") or [{}, {"type": "LOG"}]
        self.files = []
        for i, fe in enumerate(file_entries):
            is_log = fe.get("type", "LOG" if i == 1 else "ROWS").upper() == "LOG"
            self.files.append(DbFile(fe, i + 1, is_log, self.name))
        self.files.sort(key=lambda f: f.file_id)

    def effective_model(self):
        # master and tempdb truncate their logs whatever model they show.
        if self.id in (1, 2):
            return "SIMPLE"
        return self.recovery

    def log_truncatable(self):
        return self.effective_model() == "SIMPLE" or not self.log_chain

    def log_files(self):
        return [f for f in self.files if f.is_log]

    def primary_file(self):
        return next((f for f in self.files if not f.is_log), self.files[0])


class Catalog:
    def __init__(self, fixture, files_dir=None, wine_paths=False):
        self.lock = threading.RLock()
        self.server_name = fixture.get("server_name", "TIDEWELL-SIM")
        self.collation_name = fixture.get("collation", "Chinese_PRC_CI_AS")
        sqltypes.set_collation(self.collation_name)
        self.logins = [Login(s) for s in fixture.get("logins", [])]
        self.fixture_faults = fixture.get("faults", {})
        # "Force Encryption": every connection encrypted, a client that cannot encrypt refused
        self.force_encryption = bool(fixture.get("force_encryption", False))
        self.forced_offline = set()   # names the fault control file takes offline
        self.version = 0
        self.sessions = set()         # connections, to see who is inside a database
        user = fixture.get("databases", [])
        listed = {fold(d["name"]) for d in user}
        entries = [d for d in SYSTEM_DATABASES if fold(d["name"]) not in listed]
        entries += [dict(next((s for s in SYSTEM_DATABASES if fold(s["name"]) == fold(d["name"])), {}),
                       **d) for d in user]
        self.databases = []
        self._by_name, self._by_id = {}, {}
        next_id = 5
        for entry in entries:
            db = Database(entry, next_id)
            next_id = max(next_id, db.id + 1)
            if self.find(db.name) or db.id in self._by_id:
                raise ValueError("duplicate database %r / id %d" % (db.name, db.id))
            self.databases.append(db)
            self._by_name[fold(db.name)] = self._by_id[db.id] = db
        self.databases.sort(key=lambda d: d.id)
        self.files_dir = files_dir
        self.wine_paths = wine_paths
        if files_dir:
            self._lay_out_files(files_dir)

    @classmethod
    def from_file(cls, path, **kw):
        with open(path, encoding="utf-8") as f:
            return cls(json.load(f), **kw)

    def find(self, name):
        return self._by_name.get(fold(name))

    def by_id(self, db_id):
        return self._by_id.get(db_id)

    def find_login(self, name):
        key = fold(name)
        return next((l for l in self.logins if fold(l.name) == key), None)

    def changed(self):
        self.version += 1

    def apply_offline(self, names):
        names = set(names)
        if names != self.forced_offline:
            self.forced_offline = names
            self.changed()

    def in_use(self, db):
        return any(s.db_id == db.id for s in list(self.sessions))

    def drop(self, db):
        """Removes a database; an online one takes its files on disk with it."""
        if self.state_of(db) == "online":
            for f in db.files:
                if f.disk_path and f.on_disk:
                    try:
                        os.remove(f.disk_path)
                    except OSError:
                        pass
        self.databases.remove(db)
        del self._by_name[fold(db.name)]
        del self._by_id[db.id]
        self.changed()

    def state_of(self, db):
        if fold(db.name) in self.forced_offline:
            return "offline"
        return db.state

    def physical_name(self, f):
        if f.disk_path is None:
            return f.physical
        if self.wine_paths:
            return "Z:" + f.disk_path.replace("/", "\\")
        return f.disk_path

    def _lay_out_files(self, root):
        os.makedirs(root, exist_ok=True)
        taken = set()
        for db in self.databases:
            for f in db.files:
                base = f.physical.replace("\\", "/").rsplit("/", 1)[-1] or f.name
                if len(base.encode("utf-8")) > 200 or base in (".", ".."):
                    base = "db%d_file%d%s" % (db.id, f.file_id, ".ldf" if f.is_log else ".mdf")
                if base in taken:
                    base = "db%d_%s" % (db.id, base)
                taken.add(base)
                f.disk_path = os.path.join(os.path.abspath(root), base)
                if f.on_disk:
                    self._set_length(f, f.size * 8192 if f.disk_bytes is None else int(f.disk_bytes))
                else:
                    try:
                        os.remove(f.disk_path)   # left over from an earlier run
                    except OSError:
                        pass

    def resize_on_disk(self, f):
        """After a shrink the file has the server's size; an absent file stays absent."""
        if f.disk_path is not None and f.on_disk:
            self._set_length(f, f.size * 8192)

    @staticmethod
    def _set_length(f, length):
        """Sparse files: the length is what the server says, the disk use is nil."""
        f.disk_bytes = length
        try:
            with open(f.disk_path, "ab"):
                pass
            os.truncate(f.disk_path, length)
        except OSError:
            pass  # a test may have removed the directory; the catalogue still stands
