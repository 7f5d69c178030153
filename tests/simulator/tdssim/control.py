"""Faults on demand and the statement log.

Faults come from the fixture's "faults" object, overlaid by a control JSON
file that a test may rewrite while the server runs; it is read again on every
request. Write it atomically (temp file + rename): a half-written file is
ignored and the last good one stays in force.
"""
import datetime
import json
import threading

from .catalog import fold

FIELDS = {"refuse_logins", "hang", "drop_after_requests", "drop_matching", "drop_once_matching",
          "delay_seconds", "delay_matching", "offline"}


class Faults:
    def __init__(self, entry, take_once=lambda text: False):
        self._take_once = take_once
        self.refuse_logins = entry.get("refuse_logins", False)
        self.hang = bool(entry.get("hang", False))
        self.drop_after_requests = entry.get("drop_after_requests")
        self.drop_matching = entry.get("drop_matching")
        self.delay_seconds = float(entry.get("delay_seconds") or 0)
        self.delay_matching = entry.get("delay_matching")
        self.offline = [fold(n) for n in entry.get("offline", [])]

    def refuses(self, user):
        r = self.refuse_logins
        if isinstance(r, list):
            return fold(user) in {fold(n) for n in r}
        return bool(r)

    @staticmethod
    def _matches(pattern, text):
        # Matching SQL text ignores case whatever the server's collation.
        return pattern is None or (text is not None and pattern.casefold() in text.casefold())

    def drops(self, request_no, text):
        if self.drop_after_requests is not None and request_no > int(self.drop_after_requests):
            return True
        if self.drop_matching is not None and self._matches(self.drop_matching, text):
            return True
        return self._take_once(text)

    def delay_for(self, text):
        if self.delay_seconds > 0 and self._matches(self.delay_matching, text):
            return self.delay_seconds
        return 0.0


class FaultSource:
    def __init__(self, fixture_faults, control_path):
        unknown = set(fixture_faults) - FIELDS
        if unknown:
            raise ValueError("unknown fault fields: %s" % ", ".join(sorted(unknown)))
        self.base = dict(fixture_faults)
        self.path = control_path
        self.last = {}
        self.lock = threading.Lock()
        self.dropped_once = set()   # drop_once_matching texts already used, for these faults

    def current(self):
        with self.lock:
            if self.path:
                try:
                    with open(self.path, encoding="utf-8") as f:
                        entry = json.load(f)
                    if isinstance(entry, dict):
                        self.last = entry
                except (OSError, ValueError):
                    pass   # missing or half-written: keep the last good state
            entry = dict(self.base, **self.last)
            once = entry.get("drop_once_matching") or []
            once = [once] if isinstance(once, str) else list(once)
            self.dropped_once &= set(once)   # a text taken out of the faults may drop again
            return Faults(entry, lambda text: self._take_once(once, text))

    def _take_once(self, patterns, text):
        """The first request (of any connection) whose SQL holds a pattern drops; once each."""
        with self.lock:
            for p in patterns:
                if p not in self.dropped_once and Faults._matches(p, text):
                    self.dropped_once.add(p)
                    return True
            return False


class StatementLog:
    """JSON lines, one per login, batch and RPC, flushed as written."""

    def __init__(self, path):
        self.lock = threading.Lock()
        self.file = open(path, "a", encoding="utf-8") if path else None

    def write(self, **entry):
        if self.file is None:
            return
        entry = dict({"time": datetime.datetime.now().isoformat(timespec="milliseconds")}, **entry)
        line = json.dumps(entry, ensure_ascii=False, default=_jsonable)
        with self.lock:
            self.file.write(line + "\n")
            self.file.flush()


def _jsonable(value):
    if isinstance(value, (bytes, bytearray)):
        return value.hex()
    return str(value)
