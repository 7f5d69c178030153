#!/bin/sh
# Registers FreeTDS's ODBC driver as "SQL Server" in a private odbcinst.ini,
# so tests (native or under Wine, whose odbc32 loads unixODBC) reach it
# without touching /etc.
#
#   . tests/simulator/odbc-env.sh [--dir DIR]            # sourced: exports here
#   tests/simulator/odbc-env.sh [--dir DIR] cmd args...  # runs cmd in it
#
# DIR, else $TW_ODBC_DIR, else ${TMPDIR:-/tmp}/tidewell-odbc-UID receives
# odbcinst.ini and an empty odbc.ini. Exports TW_ODBC_DIR, ODBCSYSINI,
# ODBCINSTINI, ODBCINI and TDSVER (7.4 unless already set: FreeTDS's "auto"
# can hang on a silent server). $TW_TDSODBC overrides the driver path.

tw_find_tdsodbc() {
    for p in "$TW_TDSODBC" /usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so \
             /usr/lib/*/odbc/libtdsodbc.so /usr/lib/odbc/libtdsodbc.so \
             /usr/local/lib/libtdsodbc.so; do
        if [ -n "$p" ] && [ -f "$p" ]; then echo "$p"; return 0; fi
    done
    return 1
}

tw_odbc_setup() {
    : "${TW_ODBC_DIR:=${TMPDIR:-/tmp}/tidewell-odbc-$(id -u)}"
    tw_driver=$(tw_find_tdsodbc) || {
        echo "odbc-env.sh: libtdsodbc.so not found (Debian package tdsodbc)" >&2
        return 1
    }
    mkdir -p "$TW_ODBC_DIR" || return 1
    # Written aside and renamed: a client reading it meanwhile sees the old or the new file.
    cat > "$TW_ODBC_DIR/odbcinst.ini.$$" <<INI
[SQL Server]
Description=FreeTDS registered as the SQL Server driver
Driver=$tw_driver
Setup=$tw_driver
UsageCount=1
INI
    mv -f "$TW_ODBC_DIR/odbcinst.ini.$$" "$TW_ODBC_DIR/odbcinst.ini" || return 1
    [ -f "$TW_ODBC_DIR/odbc.ini" ] || : > "$TW_ODBC_DIR/odbc.ini"
    ODBCSYSINI=$TW_ODBC_DIR
    ODBCINSTINI=odbcinst.ini
    ODBCINI=$TW_ODBC_DIR/odbc.ini
    TDSVER=${TDSVER:-7.4}
    export TW_ODBC_DIR ODBCSYSINI ODBCINSTINI ODBCINI TDSVER
}

if [ "$1" = "--dir" ]; then
    TW_ODBC_DIR=$2
    shift 2
fi
tw_odbc_setup || { return 1 2>/dev/null || exit 1; }

# Executed (not sourced) with a command: run it in this environment.
case "$0" in
    *odbc-env.sh) if [ $# -gt 0 ]; then exec "$@"; fi ;;
esac
