"""Where a transaction log's records sit in its file, and what truncation,
checkpoints, log backups and shrinking do to them.

A log file is circular. The records in use fill `used` pages from page
`start` (the oldest record) on, running past the end of the file back to its
first page if need be; the newest `active` of those pages are still needed
after a truncation. Truncating drops the oldest used - active pages. A
shrink can only cut inactive pages after the last page in use, so when the
part in use reaches the end of the file nothing can go (9008). A CHECKPOINT
or log backup that truncates also lets the log wrap: an active part that
reaches the end of the file starts again at its first page.
"""


def place(f, entry):
    """The start page a fixture entry describes. By default the active part
    sits at the start of the file and the older, truncatable records fill its
    end, so a log is held at its end exactly while it cannot be truncated."""
    f.size = max(f.size, 1)
    if entry.get("log_start") is not None:
        f.start = int(entry["log_start"]) % f.size
    elif entry.get("active_at_end"):
        f.start = f.size - f.used
    else:
        f.start = (f.size - (f.used - f.active)) % f.size


def end_in_use(f):
    return f.used > 0 and f.start + f.used >= f.size


def truncate(f):
    """Drops the records no longer needed; returns the pages freed."""
    freed = f.used - f.active
    if freed > 0:
        f.start = (f.start + freed) % f.size
        f.used = f.active
    return max(freed, 0)


def wrap(f):
    """After a checkpoint or log backup the next records go to the file's start."""
    if end_in_use(f):
        f.start = 0


def shrink_log(f, target):
    """Cuts the inactive tail down to target pages at most; False when the end
    of the file is in use and nothing can be released."""
    if end_in_use(f):
        return False
    f.size = min(f.size, max(f.start + f.used, f.min_size, target))
    return True


def shrink_data(f, target):
    f.size = min(f.size, max(f.used, f.min_size, target))
