"""T-SQL tokenizer: identifiers (plain, [bracketed], "quoted"), N'...' and
'...' literals with doubled quotes, numbers, @variables, comments.

Lexical faults become SQL Server's own errors (105 unclosed quotation mark,
103 identifier too long, 113 missing end comment) raised as SqlError.
"""


class SqlError(Exception):
    """An error SQL Server would report; a list of (number, class, state, text)."""

    def __init__(self, *msgs, abort_batch=False):
        super().__init__(msgs[0][3])
        self.msgs = list(msgs)
        self.abort_batch = abort_batch
        self.line = 1   # of the batch, where the statement (or the syntax error) is


def syntax_error(near):
    return SqlError((102, 15, 1, "Incorrect syntax near '%s'." % near), abort_batch=True)


class Token:
    __slots__ = ("kind", "text", "value", "pos", "unicode")

    def __init__(self, kind, text, value, pos, unicode=False):
        self.kind = kind      # ident, qident, string, number, var, op, eof
        self.text = text      # as written, for error messages
        self.value = value    # identifier name, string content, int, operator
        self.pos = pos
        self.unicode = unicode

    def is_word(self, *words):
        return self.kind == "ident" and self.value.upper() in words

    def __repr__(self):
        return "Token(%s,%r)" % (self.kind, self.value)


OPERATORS = ["<>", "!=", "<=", ">=", "!<", "!>", "(", ")", ",", ".", ";", "=", "<", ">",
             "*", "+", "-", "/", "%"]


def _ident_start(ch):
    return ch.isalpha() or ch in "_@#"


def _ident_char(ch):
    return ch.isalnum() or ch in "_@#$"


def _check_length(name):
    if len(name) > 128:
        raise SqlError((103, 15, 4, "The identifier that starts with '%s' is too long. "
                        "Maximum length is 128." % name[:128]), abort_batch=True)


def _quoted(sql, i, close):
    """Content of a quoted run starting after the opening quote; doubled close
    characters stand for one. Returns (content, index after the close) or
    (rest, None) when the text ends first."""
    out = []
    n = len(sql)
    while i < n:
        ch = sql[i]
        if ch == close:
            if i + 1 < n and sql[i + 1] == close:
                out.append(close)
                i += 2
                continue
            return "".join(out), i + 1
        out.append(ch)
        i += 1
    return "".join(out), None


def _unclosed(rest):
    # The parser's complaint about the same token follows the lexer's.
    return SqlError((105, 15, 1, "Unclosed quotation mark after the character string '%s'." % rest),
                    (102, 15, 1, "Incorrect syntax near '%s'." % rest), abort_batch=True)


def line_of(sql, pos):
    return sql.count("\n", 0, pos) + 1


def tokenize(sql):
    """The batch's tokens; an error names the line of the token it stopped at."""
    at = [0]
    try:
        return _scan(sql, at)
    except SqlError as e:
        e.line = line_of(sql, at[0])
        raise


def _scan(sql, at):
    tokens = []
    i, n = 0, len(sql)
    while i < n:
        at[0] = i
        ch = sql[i]
        if ch.isspace():
            i += 1
            continue
        if sql.startswith("--", i):
            j = sql.find("\n", i)
            i = n if j < 0 else j + 1
            continue
        if sql.startswith("/*", i):
            depth, j = 0, i
            while j < n:
                if sql.startswith("/*", j):
                    depth, j = depth + 1, j + 2
                elif sql.startswith("*/", j):
                    depth, j = depth - 1, j + 2
                    if depth == 0:
                        break
                else:
                    j += 1
            if depth:
                raise SqlError((113, 15, 1, "Missing end comment mark '*/'."), abort_batch=True)
            i = j
            continue
        start = i
        if ch in "Nn" and i + 1 < n and sql[i + 1] == "'":
            text, end = _quoted(sql, i + 2, "'")
            if end is None:
                raise _unclosed(sql[i + 2:])
            tokens.append(Token("string", sql[start:end], text, start, unicode=True))
            i = end
            continue
        if ch == "'":
            text, end = _quoted(sql, i + 1, "'")
            if end is None:
                raise _unclosed(sql[i + 1:])
            tokens.append(Token("string", sql[start:end], text, start))
            i = end
            continue
        if ch in "[\"":
            text, end = _quoted(sql, i + 1, "]" if ch == "[" else '"')
            if end is None:
                raise _unclosed(sql[i + 1:])
            _check_length(text)
            tokens.append(Token("qident", sql[start:end], text, start))
            i = end
            continue
        if ch.isdigit() or (ch == "." and i + 1 < n and sql[i + 1].isdigit()):
            j = i
            while j < n and sql[j].isdigit():
                j += 1
            if j < n and sql[j] == ".":
                j += 1
                while j < n and sql[j].isdigit():
                    j += 1
                tokens.append(Token("number", sql[i:j], float(sql[i:j]), start))
            else:
                tokens.append(Token("number", sql[i:j], int(sql[i:j]), start))
            i = j
            continue
        if ch == "@":
            j = i + 1
            while j < n and _ident_char(sql[j]):
                j += 1
            tokens.append(Token("var", sql[i:j], sql[i:j], start))
            i = j
            continue
        if _ident_start(ch):
            j = i + 1
            while j < n and _ident_char(sql[j]):
                j += 1
            _check_length(sql[i:j])
            tokens.append(Token("ident", sql[i:j], sql[i:j], start))
            i = j
            continue
        op = next((o for o in OPERATORS if sql.startswith(o, i)), None)
        if op is None:
            raise syntax_error(ch)
        tokens.append(Token("op", op, op, start))
        i += len(op)
    tokens.append(Token("eof", "", None, n))
    return tokens
