"""Whether a session may open or act on a database: its state and the login's
rights, refused with SQL Server's messages."""
from .lexer import SqlError

ALTER_FAILED = (5069, 16, 1, "ALTER DATABASE statement failed.")


def no_alter(name):
    return (5011, 14, 5, "User does not have permission to alter database '%s', the database "
            "does not exist, or the database is not in a state that allows access checks." % name)


def open_check(session, db, name):
    """The database exists and is online."""
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


def access_check(session, db):
    """The login has a user in the database (its own, or the guest user)."""
    if session.login.user_in(db) is None:
        raise SqlError((916, 14, 1, 'The server principal "%s" is not able to access the '
                        'database "%s" under the current security context.'
                        % (session.login.name, db.name)), abort_batch=True)


def denied(action, db):
    return (262, 14, 1, "%s permission denied in database '%s'." % (action, db.name))


def in_transaction(session, msg, *more):
    if session.trancount:
        raise SqlError(msg, *more)
