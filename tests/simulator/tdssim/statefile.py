"""The catalogue's state as a JSON file for test runners: databases with their
state, recovery model and files. Written whole to a temporary file and renamed
over the old one, so a reader sees either the old or the new state."""
import json
import os


def snapshot(cat):
    """The state as a dict; call with the catalogue's lock held."""
    dbs = {}
    for db in cat.databases:
        files = []
        for f in db.files:
            entry = {"file_id": f.file_id, "name": f.name, "type": "LOG" if f.is_log else "ROWS",
                     "size": f.size, "used": f.used, "physical_name": cat.physical_name(f),
                     "disk_bytes": f.disk_bytes if f.disk_path and f.on_disk else None}
            if f.is_log:
                entry.update(active=f.active, log_start=f.start)
            files.append(entry)
        dbs[db.name] = {"id": db.id, "state": cat.state_of(db), "recovery": db.recovery,
                        "read_only": db.read_only, "log_chain": db.log_chain,
                        "log_pages": sum(f.size for f in db.files if f.is_log), "files": files}
    return {"server_name": cat.server_name, "collation": cat.collation_name, "databases": dbs}


class StateFile:
    def __init__(self, path, cat):
        self.path = os.path.abspath(path) if path else None
        self.cat = cat
        self.written = None
        self.serial = 0

    def publish(self):
        """Writes the state when it changed since the last write."""
        if self.path is None:
            return
        with self.cat.lock:
            if self.written == self.cat.version:
                return
            text = json.dumps(snapshot(self.cat), ensure_ascii=False)
            self.serial += 1
            tmp = "%s.%d.%d.tmp" % (self.path, os.getpid(), self.serial)
            with open(tmp, "w", encoding="utf-8") as f:
                f.write(text)
            os.replace(tmp, self.path)
            self.written = self.cat.version
