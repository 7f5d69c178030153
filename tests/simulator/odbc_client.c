/* A small ODBC 2 client for the simulator's tests: it logs in through the
 * driver manager and runs statements the way Tidewell's database object does
 * (static read-only cursor with SQLPrepare/SQLExecute and SQLExtendedFetch,
 * forward-only SQLPrepare/SQLExecute, SQLExecDirect), printing what the
 * driver returns as lines a test can parse.
 *
 * usage: odbc_client [-w] [-t QUERY_TIMEOUT] [-l LOGIN_TIMEOUT] -c CONNSTR CMD...
 *   -w        use the wide (UTF-16) entry points; text arguments are GBK and
 *             text output is GBK, converted with iconv
 *   CMD       open:SQL   static cursor: fetch NEXT to the end, then FIRST
 *             prep:SQL   forward-only SQLPrepare + SQLExecute, drain results
 *             exec:SQL   SQLExecDirect, drain results
 *             twice:SQL  SQLPrepare, describe, then SQLExecute twice
 *             bind:TEXT  a text parameter for the next prep/exec
 *             sleep:MS   pause
 *             tran:WHAT  off / on: SQL_AUTOCOMMIT; commit / rollback: SQLTransact
 *             reconnect  disconnect and connect again
 * output:   DIAG <state> <native> <text> (before the CONNECT or END line
 *           they belong to), CONNECT OK|FAIL, COL <i> <name>
 *           <sqltype> <size>, ROW <v>\t<v>..., FIRST <row>, ROWCOUNT <n>,
 *           RESULT, END <command> <rc>. Bytes outside printable ASCII are
 *           written as \xHH; NULL as \N.
 */
#include <iconv.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int wide;
static SQLHENV env;
static SQLHDBC dbc;
static long query_timeout = -1;
static long login_timeout = 15;
static const char *conn_str;
static const char *param;

static void put_escaped(const char *s, size_t n) {
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)s[i];
        if (c < 0x20 || c >= 0x7f || c == '\\')
            printf("\\x%02x", c);
        else
            putchar(c);
    }
}

/* GBK <-> UTF-16LE; returns the output length in bytes. */
static size_t convert(const char *from, const char *to, const char *in, size_t n, char *out,
                      size_t cap) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) { perror("iconv_open"); exit(2); }
    char *ip = (char *)in, *op = out;
    size_t il = n, ol = cap;
    iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    return cap - ol;
}

static SQLWCHAR *to_wide(const char *s, SQLINTEGER *chars) {
    size_t cap = strlen(s) * 4 + 4;
    char *buf = calloc(1, cap);
    size_t n = convert("GBK", "UTF-16LE", s, strlen(s), buf, cap - 2);
    *chars = (SQLINTEGER)(n / 2);
    return (SQLWCHAR *)buf;
}

static void put_wide(const SQLWCHAR *w, size_t bytes) {
    char out[8192];
    size_t n = convert("UTF-16LE", "GBK", (const char *)w, bytes, out, sizeof out);
    put_escaped(out, n);
}

static void diag(SQLHSTMT stmt) {
    for (int i = 0; i < 20; i++) {
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLRETURN rc;
        printf("DIAG ");
        if (wide) {
            SQLWCHAR state[6], msg[1024];
            rc = SQLErrorW(env, dbc, stmt, state, &native, msg, 1024, &len);
            if (!SQL_SUCCEEDED(rc)) { printf("-\n"); break; }
            put_wide(state, 10);
            printf(" %ld ", (long)native);
            put_wide(msg, (size_t)len * 2);
        } else {
            SQLCHAR state[6], msg[1024];
            rc = SQLError(env, dbc, stmt, state, &native, msg, sizeof msg, &len);
            if (!SQL_SUCCEEDED(rc)) { printf("-\n"); break; }
            printf("%s %ld ", (char *)state, (long)native);
            put_escaped((char *)msg, (size_t)len);
        }
        printf("\n");
    }
}

static int do_connect(void) {
    SQLAllocConnect(env, &dbc);
    SQLSetConnectOption(dbc, SQL_LOGIN_TIMEOUT, (SQLULEN)login_timeout);
    SQLRETURN rc;
    if (wide) {
        SQLINTEGER n;
        SQLWCHAR *w = to_wide(conn_str, &n), out[1024];
        SQLSMALLINT outlen;
        rc = SQLDriverConnectW(dbc, NULL, w, (SQLSMALLINT)n, out, 1024, &outlen,
                               SQL_DRIVER_NOPROMPT);
        free(w);
    } else {
        SQLCHAR out[1024];
        SQLSMALLINT outlen;
        rc = SQLDriverConnect(dbc, NULL, (SQLCHAR *)conn_str, SQL_NTS, out, sizeof out, &outlen,
                              SQL_DRIVER_NOPROMPT);
    }
    if (rc != SQL_SUCCESS) diag(SQL_NULL_HSTMT);
    printf("CONNECT %s\n", SQL_SUCCEEDED(rc) ? "OK" : "FAIL");
    return SQL_SUCCEEDED(rc);
}

static SQLRETURN prepare_or_exec(SQLHSTMT st, const char *sql, int direct) {
    if (!wide)
        return direct ? SQLExecDirect(st, (SQLCHAR *)sql, SQL_NTS)
                      : SQLPrepare(st, (SQLCHAR *)sql, SQL_NTS);
    SQLINTEGER n;
    SQLWCHAR *w = to_wide(sql, &n);
    SQLRETURN rc = direct ? SQLExecDirectW(st, w, n) : SQLPrepareW(st, w, n);
    free(w);
    return rc;
}

static SQLSMALLINT describe(SQLHSTMT st) {
    SQLSMALLINT ncols = 0;
    SQLNumResultCols(st, &ncols);
    for (SQLSMALLINT i = 1; i <= ncols; i++) {
        SQLSMALLINT type, digits, nullable, namelen;
        SQLULEN size;
        printf("COL %d ", i);
        if (wide) {
            SQLWCHAR name[256];
            SQLDescribeColW(st, i, name, 256, &namelen, &type, &size, &digits, &nullable);
            put_wide(name, (size_t)namelen * 2);
        } else {
            SQLCHAR name[256];
            SQLDescribeCol(st, i, name, sizeof name, &namelen, &type, &size, &digits, &nullable);
            put_escaped((char *)name, (size_t)namelen);
        }
        printf(" %d %lu\n", type, (unsigned long)size);
    }
    return ncols;
}

static void put_cell(const char *buf, SQLLEN ind) {
    if (ind == SQL_NULL_DATA)
        printf("\\N");
    else if (wide)
        put_wide((const SQLWCHAR *)buf, (size_t)ind);
    else
        put_escaped(buf, (size_t)ind);
}

/* Drains every result of a forward-only statement with SQLFetch + SQLGetData. */
static void drain(SQLHSTMT st) {
    SQLRETURN rc;
    do {
        SQLSMALLINT ncols = describe(st);
        SQLLEN count = -1;
        SQLRowCount(st, &count);
        printf("RESULT %ld\n", (long)count);
        while (ncols > 0 && SQL_SUCCEEDED(rc = SQLFetch(st))) {
            if (rc == SQL_SUCCESS_WITH_INFO) diag(st);
            printf("ROW ");
            for (SQLSMALLINT i = 1; i <= ncols; i++) {
                char buf[2048];
                SQLLEN ind = 0;
                SQLGetData(st, i, wide ? SQL_C_WCHAR : SQL_C_CHAR, buf, sizeof buf, &ind);
                if (i > 1) putchar('\t');
                put_cell(buf, ind);
            }
            printf("\n");
        }
        if (ncols > 0 && rc != SQL_NO_DATA) diag(st);
        rc = SQLMoreResults(st);
        if (rc == SQL_ERROR || rc == SQL_SUCCESS_WITH_INFO) diag(st);
    } while (SQL_SUCCEEDED(rc));
}

static SQLHSTMT new_stmt(void) {
    SQLHSTMT st;
    SQLAllocStmt(dbc, &st);
    if (query_timeout >= 0) SQLSetStmtOption(st, SQL_QUERY_TIMEOUT, (SQLULEN)query_timeout);
    return st;
}

static void bind_param(SQLHSTMT st) {
    static SQLLEN nts = SQL_NTS;
    if (param)
        SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, strlen(param), 0,
                         (SQLPOINTER)param, (SQLLEN)strlen(param), &nts);
}

/* prepared: 0 direct, 1 prepare + execute, 2 prepare, describe, execute twice. */
static int run_direct(const char *sql, int prepared) {
    SQLHSTMT st = new_stmt();
    bind_param(st);
    SQLRETURN rc = prepare_or_exec(st, sql, !prepared);
    if (prepared == 2 && SQL_SUCCEEDED(rc)) describe(st);
    for (int round = 0; round < (prepared == 2 ? 2 : 1); round++) {
        if (prepared && SQL_SUCCEEDED(rc)) rc = SQLExecute(st);
        if (rc != SQL_SUCCESS) diag(st);
        if (!SQL_SUCCEEDED(rc)) break;
        drain(st);
    }
    if (!SQL_SUCCEEDED(rc)) SQLCancel(st);
    SQLFreeStmt(st, SQL_DROP);
    param = NULL;
    return rc;
}

/* The static-cursor path: every column bound as text, one row per fetch. */
static int run_cursor(const char *sql) {
    SQLHSTMT st = new_stmt();
    SQLSetStmtOption(st, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC);
    SQLSetStmtOption(st, SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY);
    SQLSetStmtOption(st, SQL_ROWSET_SIZE, 1);
    bind_param(st);
    param = NULL;
    SQLRETURN rc = prepare_or_exec(st, sql, 0);
    if (SQL_SUCCEEDED(rc)) rc = SQLExecute(st);
    if (rc != SQL_SUCCESS) diag(st);
    if (!SQL_SUCCEEDED(rc)) {
        SQLFreeStmt(st, SQL_DROP);
        return rc;
    }
    SQLSMALLINT ncols = describe(st);
    enum { MAXC = 32, W = 1026 };
    static char bufs[MAXC][W];
    static SQLLEN inds[MAXC];
    if (ncols > MAXC) ncols = MAXC;
    for (SQLSMALLINT i = 0; i < ncols; i++)
        SQLBindCol(st, i + 1, wide ? SQL_C_WCHAR : SQL_C_CHAR, bufs[i], W, &inds[i]);
    SQLULEN crow;
    SQLUSMALLINT status[1];
    long rows = 0;
    for (int guard = 0; guard < 100000; guard++) {
        rc = SQLExtendedFetch(st, SQL_FETCH_NEXT, 0, &crow, status);
        if (!SQL_SUCCEEDED(rc)) break;
        rows++;
        printf("ROW ");
        for (SQLSMALLINT i = 0; i < ncols; i++) {
            if (i) putchar('\t');
            put_cell(bufs[i], inds[i]);
        }
        printf("\n");
    }
    if (rc != SQL_NO_DATA) diag(st);
    printf("ROWCOUNT %ld\n", rows);
    if (rows > 0) {
        rc = SQLExtendedFetch(st, SQL_FETCH_FIRST, 0, &crow, status);
        if (SQL_SUCCEEDED(rc)) {
            printf("FIRST ");
            for (SQLSMALLINT i = 0; i < ncols; i++) {
                if (i) putchar('\t');
                put_cell(bufs[i], inds[i]);
            }
            printf("\n");
        } else {
            printf("FIRST FAILED\n");
            diag(st);
        }
    }
    SQLFreeStmt(st, SQL_DROP);
    return SQL_SUCCESS;
}

static int run_tran(const char *what) {
    SQLRETURN rc;
    if (!strcmp(what, "off") || !strcmp(what, "on"))
        rc = SQLSetConnectOption(dbc, SQL_AUTOCOMMIT, !strcmp(what, "on"));
    else
        rc = SQLTransact(env, dbc, !strcmp(what, "commit") ? SQL_COMMIT : SQL_ROLLBACK);
    if (rc != SQL_SUCCESS) diag(SQL_NULL_HSTMT);
    return rc;
}

int main(int argc, char **argv) {
    int opt;
    while ((opt = getopt(argc, argv, "wt:l:c:")) != -1) {
        switch (opt) {
        case 'w': wide = 1; break;
        case 't': query_timeout = atol(optarg); break;
        case 'l': login_timeout = atol(optarg); break;
        case 'c': conn_str = optarg; break;
        default: fprintf(stderr, "usage: see the comment at the top of odbc_client.c\n"); return 2;
        }
    }
    if (!conn_str) { fprintf(stderr, "-c CONNSTR is required\n"); return 2; }
    setvbuf(stdout, NULL, _IOLBF, 0);
    SQLAllocEnv(&env);
    if (!do_connect()) return 1;
    for (int i = optind; i < argc; i++) {
        const char *a = argv[i];
        int rc = 0;
        if (!strncmp(a, "open:", 5)) rc = run_cursor(a + 5);
        else if (!strncmp(a, "prep:", 5)) rc = run_direct(a + 5, 1);
        else if (!strncmp(a, "exec:", 5)) rc = run_direct(a + 5, 0);
        else if (!strncmp(a, "twice:", 6)) rc = run_direct(a + 6, 2);
        else if (!strncmp(a, "bind:", 5)) param = a + 5;
        else if (!strncmp(a, "tran:", 5)) rc = run_tran(a + 5);
        else if (!strncmp(a, "sleep:", 6)) usleep((useconds_t)atol(a + 6) * 1000);
        else if (!strcmp(a, "reconnect")) {
            SQLDisconnect(dbc);
            SQLFreeConnect(dbc);
            if (!do_connect()) return 1;
        } else { fprintf(stderr, "unknown command %s\n", a); return 2; }
        printf("END %.*s %d\n", (int)(strchr(a, ':') ? strchr(a, ':') - a : (long)strlen(a)), a, rc);
    }
    SQLDisconnect(dbc);
    SQLFreeConnect(dbc);
    SQLFreeEnv(env);
    return 0;
}
