"""Recursive-descent parser for the statements this server understands.

A batch is parsed whole before anything runs, as SQL Server compiles a batch
first: one syntax error means no statement of the batch executes.
"""
from .lexer import line_of, syntax_error, tokenize

RESERVED = set("""ADD ALL ALTER AND ANY AS ASC BACKUP BEGIN BETWEEN BREAK BROWSE BULK BY CASCADE
CASE CHECK CHECKPOINT CLOSE CLUSTERED COLLATE COLUMN COMMIT COMPUTE CONSTRAINT CONTINUE CONVERT
CREATE CROSS CURRENT CURSOR DATABASE DBCC DEALLOCATE DECLARE DEFAULT DELETE DENY DESC DISK
DISTINCT DISTRIBUTED DROP DUMP ELSE END ERRLVL ESCAPE EXCEPT EXEC EXECUTE EXISTS EXIT FETCH FILE
FOR FOREIGN FROM FULL FUNCTION GOTO GRANT GROUP HAVING IDENTITY IF IN INDEX INNER INSERT
INTERSECT INTO IS JOIN KEY KILL LEFT LIKE LINENO LOAD MERGE NOCHECK NONCLUSTERED NOT NULL OF OFF
OFFSETS ON OPEN OPTION OR ORDER OUTER OVER PERCENT PIVOT PLAN PRIMARY PRINT PROC PROCEDURE PUBLIC
RAISERROR READ READTEXT RECONFIGURE REFERENCES REPLICATION RESTORE RESTRICT RETURN REVERT REVOKE
RIGHT ROLLBACK ROWCOUNT RULE SAVE SCHEMA SELECT SESSION_USER SET SETUSER SHUTDOWN SOME
STATISTICS SYSTEM_USER TABLE TEXTSIZE THEN TO TOP TRAN TRANSACTION TRIGGER TRUNCATE UNION
UNIQUE UPDATE USE USER VALUES VARYING VIEW WAITFOR WHEN WHERE WHILE WITH""".split())

SET_OPTIONS = set("""NOCOUNT ANSI_NULLS QUOTED_IDENTIFIER ANSI_WARNINGS ANSI_PADDING
ANSI_NULL_DFLT_ON ANSI_NULL_DFLT_OFF CONCAT_NULL_YIELDS_NULL ARITHABORT ARITHIGNORE
IMPLICIT_TRANSACTIONS XACT_ABORT CURSOR_CLOSE_ON_COMMIT NUMERIC_ROUNDABORT FMTONLY NOEXEC
TEXTSIZE LOCK_TIMEOUT ROWCOUNT DATEFORMAT DATEFIRST LANGUAGE DEADLOCK_PRIORITY""".split())


class Node:
    def __init__(self, kind, **fields):
        self.kind = kind
        self.__dict__.update(fields)

    def __repr__(self):
        return "%s(%s)" % (self.kind, ", ".join("%s=%r" % kv for kv in self.__dict__.items()
                                                if kv[0] != "kind"))


class Parser:
    def __init__(self, sql):
        self.sql = sql
        self.toks = tokenize(sql)
        self.i = 0

    # -- token helpers
    @property
    def tok(self):
        return self.toks[self.i]

    def advance(self):
        t = self.toks[self.i]
        self.i += 1
        return t

    def fail(self):
        t = self.tok
        if t.kind == "eof":  # SQL Server names the last token it saw
            t = self.toks[self.i - 1] if self.i else t
        e = syntax_error(t.value if t.kind in ("string", "qident") else t.text)
        e.line = line_of(self.sql, t.pos)
        raise e

    def op(self, text):
        if self.tok.kind == "op" and self.tok.value == text:
            return self.advance()
        return None

    def expect_op(self, text):
        if not self.op(text):
            self.fail()

    def word(self, *words):
        if self.tok.is_word(*words):
            return self.advance().value.upper()
        return None

    def expect_word(self, *words):
        w = self.word(*words)
        if w is None:
            self.fail()
        return w

    def ident(self):
        t = self.tok
        if t.kind == "qident" or (t.kind == "ident" and t.value.upper() not in RESERVED):
            self.advance()
            return t.value
        self.fail()

    # -- batch
    def batch(self):
        stmts = []
        while True:
            while self.op(";"):
                pass
            if self.tok.kind == "eof":
                return stmts
            start = self.tok.pos
            stmts.append(self.statement(first=not stmts))
            stmts[-1].line = line_of(self.sql, start)   # where its errors are reported

    def statement(self, first):
        t = self.tok
        if t.kind == "ident" and t.value.upper() not in RESERVED and first:
            return self.exec_call()
        handler = {"SELECT": self.select, "USE": self.use, "ALTER": self.alter,
                   "DBCC": self.dbcc, "SET": self.set_option, "WAITFOR": self.waitfor,
                   "PRINT": self.print_, "EXEC": self.exec_call, "EXECUTE": self.exec_call,
                   "CHECKPOINT": self.checkpoint, "BACKUP": self.backup, "DROP": self.drop,
                   "BEGIN": self.begin_tran, "COMMIT": self.end_tran, "ROLLBACK": self.end_tran,
                   "IF": self.if_}
        name = t.value.upper() if t.kind == "ident" else None
        if name not in handler:
            self.fail()
        return handler[name]()

    def exec_call(self):
        """[EXEC] proc [arg [, arg]...]: a batch that starts with a name calls it."""
        self.word("EXEC", "EXECUTE")
        name = self.ident()
        while self.op("."):
            name += "." + self.ident()
        t = self.tok
        if t.kind in ("number", "string", "var", "qident") or (
                t.kind == "ident" and t.value.upper() not in RESERVED) or t.is_word("DEFAULT", "NULL"):
            while True:
                if self.tok.kind == "var" and self.toks[self.i + 1].value == "=":
                    self.advance()
                    self.advance()
                arg = self.advance()
                if arg.kind == "op" or arg.kind == "eof":
                    self.i -= 1
                    self.fail()
                self.word("OUTPUT", "OUT")
                if not self.op(","):
                    break
        return Node("exec", name=name)

    def use(self):
        self.advance()
        return Node("use", name=self.ident())

    def checkpoint(self):
        self.advance()
        return Node("checkpoint")

    def print_(self):
        self.advance()
        return Node("print", expr=self.expr())

    def waitfor(self):
        self.advance()
        self.expect_word("DELAY")
        if self.tok.kind != "string":
            self.fail()
        return Node("waitfor", delay=self.advance().value)

    def set_option(self):
        self.advance()
        if self.word("TRANSACTION"):
            self.expect_word("ISOLATION")
            self.expect_word("LEVEL")
            if self.word("READ"):
                self.expect_word("COMMITTED", "UNCOMMITTED")
            elif self.word("REPEATABLE"):
                self.expect_word("READ")
            else:
                self.expect_word("SNAPSHOT", "SERIALIZABLE")
            return Node("set", options=["TRANSACTION ISOLATION LEVEL"], value=None)
        options = [self.expect_word(*SET_OPTIONS)]
        while self.op(","):
            options.append(self.expect_word(*SET_OPTIONS))
        t = self.tok
        if t.kind in ("number", "string") or (t.kind == "ident" and t.value.upper() not in
                                               ("SELECT", "USE", "ALTER", "DBCC", "SET")):
            self.advance()
            value = t.value.upper() if t.kind == "ident" else t.value
        else:
            self.fail()
        return Node("set", options=options, value=value)

    def alter(self):
        self.advance()
        self.expect_word("DATABASE")
        db = None if self.word("CURRENT") else self.ident()
        self.expect_word("SET")
        opts = [self.db_option()]
        while self.op(","):
            opts.append(self.db_option())
        if self.word("WITH"):
            if self.word("ROLLBACK"):
                if not self.word("IMMEDIATE"):
                    self.expect_word("AFTER")
                    if self.tok.kind != "number":
                        self.fail()
                    self.advance()
                    self.word("SECONDS")
            else:
                self.expect_word("NO_WAIT")
        return Node("alter", db=db, options=opts)

    def db_option(self):
        w = self.expect_word("RECOVERY", "OFFLINE", "ONLINE", "READ_ONLY", "READ_WRITE")
        if w == "RECOVERY":
            return (w, self.expect_word("FULL", "SIMPLE", "BULK_LOGGED"))
        return (w, None)

    def dbcc(self):
        self.advance()
        name = self.ident().upper()
        if name != "SHRINKFILE":
            depth = 0
            while self.tok.kind != "eof" and not (depth == 0 and self.tok.value == ";"):
                depth += {"(": 1, ")": -1}.get(self.tok.value, 0) if self.tok.kind == "op" else 0
                self.advance()
            return Node("dbcc", name=name)
        self.expect_op("(")
        t = self.tok
        if t.kind in ("string", "number"):
            self.advance()
            target_file = t.value
        else:
            target_file = self.ident()
        size, mode = None, None
        if self.op(","):
            if self.tok.kind == "number":
                if not isinstance(self.tok.value, int):
                    self.fail()
                size = self.advance().value
                if self.op(","):
                    mode = self.expect_word("TRUNCATEONLY", "NOTRUNCATE")
            else:
                mode = self.expect_word("TRUNCATEONLY", "NOTRUNCATE", "EMPTYFILE")
        self.expect_op(")")
        quiet = False
        if self.word("WITH"):
            self.expect_word("NO_INFOMSGS")
            quiet = True
        return Node("shrinkfile", file=target_file, size=size, mode=mode, quiet=quiet)

    def backup(self):
        """BACKUP {DATABASE | LOG} name TO DISK = 'path' [, DISK = ...] [WITH option [= value], ...]"""
        self.advance()
        kind = self.expect_word("LOG", "DATABASE")
        db = self.ident()
        self.expect_word("TO")
        while True:
            self.expect_word("DISK")
            self.expect_op("=")
            if self.tok.kind not in ("string", "var"):
                self.fail()
            self.advance()
            if not self.op(","):
                break
        options = []
        if self.word("WITH"):
            while True:
                options.append(self.ident().upper())
                if self.op("="):
                    if self.tok.kind not in ("string", "number", "var", "ident"):
                        self.fail()
                    self.advance()
                if not self.op(","):
                    break
        return Node("backup_log" if kind == "LOG" else "backup_db", db=db, options=options)

    def drop(self):
        self.advance()
        self.expect_word("DATABASE")
        if_exists = self.tok.is_word("IF") and self.toks[self.i + 1].is_word("EXISTS")
        if if_exists:
            self.i += 2
        names = [self.ident()]
        while self.op(","):
            names.append(self.ident())
        return Node("drop", names=names, if_exists=if_exists)

    def if_(self):
        """IF condition statement [ELSE statement], as drivers send around COMMIT."""
        self.advance()
        cond = self.expr()
        branches = []
        for _ in range(2):
            start = self.tok.pos
            branches.append(self.statement(first=False))
            branches[-1].line = line_of(self.sql, start)
            if branches[-1].kind == "waitfor":   # a wait runs only at the top of a batch here
                self.fail()
            if not self.word("ELSE"):
                break
        return Node("if", cond=cond, then=branches[0], otherwise=branches[1:])

    def _transaction_name(self):
        t = self.tok
        if t.kind in ("var", "qident") or (t.kind == "ident" and t.value.upper() not in RESERVED):
            self.advance()

    def begin_tran(self):
        self.advance()
        self.expect_word("TRAN", "TRANSACTION")
        self._transaction_name()
        return Node("begin_tran")

    def end_tran(self):
        kind = self.advance().value.upper()
        if self.word("TRAN", "TRANSACTION"):
            self._transaction_name()
        else:
            self.word("WORK")
        return Node("commit" if kind == "COMMIT" else "rollback")

    # -- SELECT
    def select(self):
        self.advance()
        top = None
        if self.word("TOP"):
            paren = self.op("(")
            if self.tok.kind != "number" or not isinstance(self.tok.value, int):
                self.fail()
            top = self.advance().value
            if paren:
                self.expect_op(")")
        items = [self.select_item()]
        while self.op(","):
            items.append(self.select_item())
        table = None
        if self.word("FROM"):
            table = self.table_ref()
        where = self.expr() if self.word("WHERE") else None
        order = []
        if self.word("ORDER"):
            self.expect_word("BY")
            while True:
                e = self.expr()
                desc = self.word("ASC", "DESC") == "DESC"
                order.append((e, desc))
                if not self.op(","):
                    break
        return Node("select", top=top, items=items, table=table, where=where, order=order)

    def select_item(self):
        if self.op("*"):
            return Node("star")
        e = self.expr()
        alias = None
        if self.word("AS"):
            t = self.tok
            if t.kind == "string":
                alias = self.advance().value
            else:
                alias = self.ident()
        elif self.tok.kind == "qident" or self.tok.kind == "string" or (
                self.tok.kind == "ident" and self.tok.value.upper() not in RESERVED):
            alias = self.advance().value
        return Node("item", expr=e, alias=alias)

    def table_ref(self):
        parts = [self.ident()]
        while self.op("."):
            if self.tok.kind == "op" and self.tok.value == ".":
                parts.append("")
                continue
            parts.append(self.ident())
        if len(parts) > 4 or parts[-1] == "":
            self.fail()
        alias = None
        if self.word("AS"):
            alias = self.ident()
        elif self.tok.kind == "qident" or (self.tok.kind == "ident" and
                                           self.tok.value.upper() not in RESERVED):
            alias = self.ident()
        return Node("table", parts=parts, alias=alias)

    # -- expressions
    def expr(self):
        left = self.and_expr()
        while self.word("OR"):
            left = Node("or", left=left, right=self.and_expr())
        return left

    def and_expr(self):
        left = self.not_expr()
        while self.word("AND"):
            left = Node("and", left=left, right=self.not_expr())
        return left

    def not_expr(self):
        if self.word("NOT"):
            return Node("not", expr=self.not_expr())
        return self.predicate()

    def predicate(self):
        left = self.additive()
        t = self.tok
        if t.kind == "op" and t.value in ("=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"):
            self.advance()
            return Node("cmp", op=t.value, left=left, right=self.additive())
        if self.word("IS"):
            negate = bool(self.word("NOT"))
            self.expect_word("NULL")
            return Node("isnull", expr=left, negate=negate)
        negate = bool(self.word("NOT"))
        if self.word("LIKE"):
            return Node("like", left=left, right=self.additive(), negate=negate)
        if self.word("IN"):
            self.expect_op("(")
            values = [self.expr()]
            while self.op(","):
                values.append(self.expr())
            self.expect_op(")")
            return Node("in", expr=left, values=values, negate=negate)
        if negate:
            self.fail()
        return left

    def additive(self):
        left = self.term()
        while self.tok.kind == "op" and self.tok.value in ("+", "-"):
            op = self.advance().value
            left = Node("arith", op=op, left=left, right=self.term())
        return left

    def term(self):
        left = self.unary()
        while self.tok.kind == "op" and self.tok.value in ("*", "/", "%"):
            op = self.advance().value
            left = Node("arith", op=op, left=left, right=self.unary())
        return left

    def unary(self):
        if self.op("-"):
            return Node("arith", op="-", left=Node("lit", value=0, unicode=False), right=self.unary())
        return self.primary()

    def primary(self):
        t = self.tok
        if t.kind == "number":
            self.advance()
            return Node("lit", value=t.value, unicode=False)
        if t.kind == "string":
            self.advance()
            return Node("lit", value=t.value, unicode=t.unicode)
        if t.kind == "var":
            self.advance()
            return Node("var", name=t.value)
        if self.op("("):
            e = self.expr()
            self.expect_op(")")
            return e
        if t.is_word("NULL"):
            self.advance()
            return Node("lit", value=None, unicode=False)
        if t.kind == "ident" and self.toks[self.i + 1].value == "(" and \
                self.toks[self.i + 1].kind == "op":
            name = self.advance().value
            self.advance()
            args, star = [], False
            if self.op("*"):
                star = True
            elif not (self.tok.kind == "op" and self.tok.value == ")"):
                args.append(self.expr())
                while self.op(","):
                    args.append(self.expr())
            self.expect_op(")")
            return Node("func", name=name.upper(), args=args, star=star, text=name)
        parts = [self.ident()]
        while self.op("."):
            parts.append(self.ident())
        return Node("col", parts=parts)


def parse_batch(sql):
    return Parser(sql).batch()


