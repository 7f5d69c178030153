#!/usr/bin/env python3
"""One login through the "SQL Server" ODBC driver, the way the tool logs in, to tell why a login
fails: the server could not be reached, or it refused the login.

usage: login-check.py ADDRESS LOGIN   (the password is read from the first line of stdin, so that
                                       it never appears on a command line)

Prints one verdict line, "ok", "unreachable" or "refused", then the driver's diagnostics, one
"[SQLSTATE] native-error text" line each. Exit code 0 for ok, 1 otherwise, 2 when no ODBC driver
manager can be loaded. Needs ODBCSYSINI/ODBCINSTINI naming an odbcinst.ini with "SQL Server".
"""
import ctypes
import ctypes.util
import sys

SQL_HANDLE_ENV, SQL_HANDLE_DBC = 1, 2
SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3 = 200, 3
SQL_ATTR_LOGIN_TIMEOUT = 103
SQL_DRIVER_NOPROMPT = 0
# Errors the server itself sends when it turns a login away: wrong login or password (18456),
# the login's default database cannot be opened (4060), the server is single-user or paused
# (18461, 17142). Anything else before a login reply means no server answered at that address.
REFUSALS = {18456, 4060, 18461, 17142, 18470, 18486, 18487, 18488}


def braced(value):
    return "{" + value.replace("}", "}}") + "}"


def diagnostics(odbc, kind, handle):
    state = ctypes.create_string_buffer(6)
    native = ctypes.c_int(0)
    text = ctypes.create_string_buffer(1024)
    length = ctypes.c_short(0)
    found = []
    record = 1
    while odbc.SQLGetDiagRec(kind, handle, record, state, ctypes.byref(native), text,
                             len(text), ctypes.byref(length)) in (0, 1):
        found.append((state.value.decode("ascii", "replace"), native.value,
                      text.value.decode("utf-8", "replace")))
        record += 1
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    address, login = sys.argv[1], sys.argv[2]
    password = sys.stdin.readline().rstrip("\r\n")
    name = ctypes.util.find_library("odbc") or "libodbc.so.2"
    try:
        odbc = ctypes.CDLL(name)
    except OSError as e:
        print("no ODBC driver manager: %s" % e, file=sys.stderr)
        return 2
    for function in ("SQLAllocHandle", "SQLSetEnvAttr", "SQLSetConnectAttr", "SQLDriverConnect",
                     "SQLGetDiagRec", "SQLDisconnect", "SQLFreeHandle"):
        getattr(odbc, function).restype = ctypes.c_short
    env, dbc = ctypes.c_void_p(), ctypes.c_void_p()
    odbc.SQLAllocHandle(SQL_HANDLE_ENV, None, ctypes.byref(env))
    odbc.SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, ctypes.c_void_p(SQL_OV_ODBC3), 0)
    odbc.SQLAllocHandle(SQL_HANDLE_DBC, env, ctypes.byref(dbc))
    # The tool's own login timeout.
    odbc.SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, ctypes.c_void_p(15), 0)
    text = "DRIVER={SQL Server};SERVER=%s;UID=%s;PWD=%s;DATABASE=master;" % (
        braced(address), braced(login), braced(password))
    conn = text.encode("utf-8")
    out = ctypes.create_string_buffer(2048)
    out_len = ctypes.c_short(0)
    rc = odbc.SQLDriverConnect(dbc, None, conn, len(conn), out, len(out), ctypes.byref(out_len),
                               SQL_DRIVER_NOPROMPT)
    found = diagnostics(odbc, SQL_HANDLE_DBC, dbc)
    if rc in (0, 1):
        verdict = "ok"
        odbc.SQLDisconnect(dbc)
    elif any(native in REFUSALS or state == "28000" for state, native, _ in found):
        verdict = "refused"
    else:
        verdict = "unreachable"
    odbc.SQLFreeHandle(SQL_HANDLE_DBC, dbc)
    odbc.SQLFreeHandle(SQL_HANDLE_ENV, env)
    print(verdict)
    for state, native, message in found:
        print("[%s] %d %s" % (state, native, message))
    return 0 if verdict == "ok" else 1


if __name__ == "__main__":
    sys.exit(main())
