"""SELECT over the catalogue views: name resolution, typing, filtering,
COUNT aggregates, ORDER BY and TOP, and the few built-in functions a
maintenance tool reaches for (DB_ID, DB_NAME, FILEPROPERTY, ...)."""
import re

from . import views
from .catalog import fold
from .lexer import SqlError
from .parser import Node
from . import sqltypes
from .sqltypes import BIGINT, INT, SMALLINT, SYSNAME, FloatType, IntType, NVarChar, VarChar

AGGREGATES = ("COUNT", "COUNT_BIG")


def _err(number, cls, text):
    return SqlError((number, cls, 1, text), abort_batch=True)


class Scope:
    def __init__(self, session, view, alias):
        self.session = session
        self.cat = session.cat
        self.view = view
        self.alias = alias

    def column(self, parts):
        name = parts[-1]
        if self.view is None:
            raise _err(207, 16, "Invalid column name '%s'." % name)
        if len(parts) > 1:
            qual = fold(parts[-2])
            ok = qual == fold(self.alias) if self.alias else qual == fold(self.view.name[-1])
            if not ok:
                raise _err(4104, 16, 'The multi-part identifier "%s" could not be bound.'
                           % ".".join(parts))
        for col in self.view.columns:
            if fold(col.name) == fold(name):
                return col
        raise _err(207, 16, "Invalid column name '%s'." % name)


# ---- typing ---------------------------------------------------------------

def type_of(node, scope):
    k = node.kind
    if k == "lit":
        v = node.value
        if isinstance(v, float):
            return FloatType(8)
        if v is None or isinstance(v, int):
            return INT if v is None or -2**31 <= v < 2**31 else BIGINT
        return NVarChar(len(v) or 1) if node.unicode else VarChar.holding(v)
    if k == "col":
        return scope.column(node.parts).type
    if k == "var":
        return _variable(node.name, scope)[0]
    if k == "arith":
        lt, rt = type_of(node.left, scope), type_of(node.right, scope)
        if isinstance(lt, IntType) and isinstance(rt, IntType):
            return BIGINT if BIGINT in (lt, rt) else INT
        if {type(lt), type(rt)} <= {IntType, FloatType}:
            return FloatType(8)
        if node.op == "+" and isinstance(lt, (NVarChar, VarChar)) and isinstance(rt, (NVarChar, VarChar)):
            both = lt.length + rt.length
            return VarChar(both) if isinstance(lt, VarChar) and isinstance(rt, VarChar) else NVarChar(both)
        if isinstance(lt, IntType) or isinstance(rt, IntType):
            return INT
        raise _err(402, 16, "The data types %s and %s are incompatible in the %s operator."
                   % (lt.name, rt.name, {"+": "add", "-": "subtract"}.get(node.op, "arithmetic")))
    if k == "func":
        return _function_type(node, scope)
    raise _err(102, 15, "Incorrect syntax near '%s'." % {"cmp": getattr(node, "op", "=")}.get(k, "="))


def _function_type(node, scope):
    name = node.name
    for a in node.args:
        type_of(a, scope)
    if name == "COUNT":
        return INT
    if name == "COUNT_BIG":
        return BIGINT
    if name in ("DB_ID", "FILEPROPERTY", "LEN"):
        return INT
    if name in ("DB_NAME", "SUSER_SNAME", "SUSER_NAME"):
        return SYSNAME
    if name in ("UPPER", "LOWER", "ISNULL") and node.args:
        return type_of(node.args[0], scope)
    raise _err(195, 15, "'%s' is not a recognized built-in function name." % node.text)


def _variable(name, scope):
    s = scope.session
    u = name.upper()
    if u == "@@VERSION":
        return NVarChar(300), s.server.version_text
    if u == "@@SPID":
        return SMALLINT, s.spid
    if u == "@@SERVERNAME":
        return SYSNAME, scope.cat.server_name
    if u == "@@TRANCOUNT":
        return INT, s.trancount
    for p in s.params:
        if fold(p.name) == fold(name):
            return p.sqltype, p.value
    raise _err(137, 15, 'Must declare the scalar variable "%s".' % name)


# ---- evaluation -------------------------------------------------------------

def _comparable(a, b):
    if isinstance(a, bool):
        a = int(a)
    if isinstance(b, bool):
        b = int(b)
    if isinstance(a, str) and isinstance(b, (int, float)):
        b, a = _comparable(b, a)
        return a, b
    if isinstance(a, (int, float)) and isinstance(b, str):
        try:
            return a, int(b.strip())
        except ValueError:
            raise _err(245, 16, "Conversion failed when converting the nvarchar value '%s' "
                       "to data type int." % b)
    # varbinary converts implicitly: to nvarchar as UTF-16LE text, to int as a big-endian number.
    if isinstance(a, (bytes, bytearray)) and isinstance(b, str):
        a = bytes(a).decode("utf-16-le", errors="replace")
    elif isinstance(b, (bytes, bytearray)) and isinstance(a, str):
        b = bytes(b).decode("utf-16-le", errors="replace")
    elif isinstance(a, (bytes, bytearray)) and isinstance(b, (int, float)):
        a = int.from_bytes(bytes(a), "big")
    elif isinstance(b, (bytes, bytearray)) and isinstance(a, (int, float)):
        b = int.from_bytes(bytes(b), "big")
    if isinstance(a, str) and isinstance(b, str):
        return fold(a.rstrip(" ")), fold(b.rstrip(" "))
    return a, b


def _like(value, pattern):
    rx = ""
    i = 0
    while i < len(pattern):
        ch = pattern[i]
        if ch == "%":
            rx += ".*"
        elif ch == "_":
            rx += "."
        elif ch == "[" and "]" in pattern[i + 1:]:
            j = pattern.index("]", i + 1)
            body = pattern[i + 1:j]
            rx += "[" + ("^" + re.escape(body[1:]) if body.startswith("^") else re.escape(body)) + "]"
            i = j
        else:
            rx += re.escape(ch)
        i += 1
    flags = re.DOTALL if sqltypes.CASE_SENSITIVE else re.IGNORECASE | re.DOTALL
    return re.fullmatch(rx, value, flags) is not None


def evaluate(node, scope, row, aggs=None):
    k = node.kind
    if k == "lit":
        return node.value
    if k == "col":
        return row[scope.column(node.parts).name]
    if k == "var":
        return _variable(node.name, scope)[1]
    if k == "func":
        if node.name in AGGREGATES:
            return aggs[id(node)]
        return _call(node, scope, [evaluate(a, scope, row, aggs) for a in node.args])
    if k == "arith":
        a, b = evaluate(node.left, scope, row, aggs), evaluate(node.right, scope, row, aggs)
        if a is None or b is None:
            return None
        if isinstance(a, str) and isinstance(b, str):
            return a + b
        a, b = _comparable(a, b)
        if node.op in "/%" and b == 0:
            raise SqlError((8134, 16, 1, "Divide by zero error encountered."))
        exact = isinstance(a, int) and isinstance(b, int)
        if node.op == "/":
            return int(a / b) if exact else a / b
        if node.op == "%":
            return a - b * int(a / b)
        return {"+": a + b, "-": a - b, "*": a * b}[node.op]
    if k in ("and", "or"):
        a, b = evaluate(node.left, scope, row, aggs), evaluate(node.right, scope, row, aggs)
        if k == "and":
            return False if a is False or b is False else (None if None in (a, b) else True)
        return True if a is True or b is True else (None if None in (a, b) else False)
    if k == "not":
        v = evaluate(node.expr, scope, row, aggs)
        return None if v is None else not v
    if k == "isnull":
        return (evaluate(node.expr, scope, row, aggs) is None) != node.negate
    if k == "cmp":
        a, b = evaluate(node.left, scope, row, aggs), evaluate(node.right, scope, row, aggs)
        if a is None or b is None:
            return None
        a, b = _comparable(a, b)
        op = {"!=": "<>", "!<": ">=", "!>": "<="}.get(node.op, node.op)
        return {"=": a == b, "<>": a != b, "<": a < b, ">": a > b,
                "<=": a <= b, ">=": a >= b}[op]
    if k == "like":
        a, b = evaluate(node.left, scope, row, aggs), evaluate(node.right, scope, row, aggs)
        if a is None or b is None:
            return None
        return _like(str(a), str(b)) != node.negate
    if k == "in":
        a = evaluate(node.expr, scope, row, aggs)
        if a is None:
            return None
        hits = [_comparable(a, evaluate(v, scope, row, aggs)) for v in node.values]
        return any(x == y for x, y in hits) != node.negate
    raise _err(102, 15, "Incorrect syntax near '%s'." % k)


def _call(node, scope, args):
    cat, s, name = scope.cat, scope.session, node.name
    if name == "DB_ID":
        if not args:
            return s.current_db().id
        db = cat.find(args[0]) if args[0] is not None else None
        return db.id if db else None
    if name == "DB_NAME":
        db = s.current_db() if not args else cat.by_id(args[0]) if args[0] is not None else None
        return db.name if db else None
    if name in ("SUSER_SNAME", "SUSER_NAME"):
        return s.login.name
    if name == "FILEPROPERTY":
        f = next((f for f in s.current_db().files if args[0] is not None and fold(f.name) == fold(args[0])), None)
        return f.used if f and args[1] is not None and args[1].casefold() == "spaceused" else None
    if name == "LEN":
        return None if args[0] is None else len(str(args[0]).rstrip(" "))
    if name in ("UPPER", "LOWER"):
        return None if args[0] is None else (str(args[0]).upper() if name == "UPPER" else str(args[0]).lower())
    if name == "ISNULL":
        return args[0] if args[0] is not None else args[1]
    raise _err(195, 15, "'%s' is not a recognized built-in function name." % node.text)


def _walk(node):
    yield node
    for v in node.__dict__.values():
        for child in (v if isinstance(v, list) else [v]):
            if hasattr(child, "kind"):
                yield from _walk(child)


# ---- SELECT -------------------------------------------------------------------

class ResultSet:
    def __init__(self, columns, rows, tables, origins):
        self.columns = columns    # views.Column list
        self.rows = rows          # list of value lists
        self.tables = tables      # TABNAME parts, for cursors
        self.origins = origins    # per column: True when it comes from the table


def run_select(node, session):
    cat = session.cat
    view = views.resolve(node.table.parts, cat, session) if node.table else None
    scope = Scope(session, view, node.table.alias if node.table else None)
    items = []
    for it in node.items:
        if it.kind == "star":
            if view is None:
                raise _err(263, 16, "Must specify table to select from.")
            items += [(c.name, views.Column(c.name, c.type, c.nullable), True,
                       Node("col", parts=[c.name])) for c in view.columns]
            continue
        expr, alias = it.expr, it.alias
        if expr.kind == "cmp" and expr.op == "=" and alias is None and \
                expr.left.kind == "col" and len(expr.left.parts) == 1:
            alias, expr = expr.left.parts[0], expr.right   # alias = expression
        t = type_of(expr, scope)
        if expr.kind == "col":
            base = scope.column(expr.parts)
            col = views.Column(alias or expr.parts[-1], base.type, base.nullable)
            items.append((col.name, col, True, expr))
        else:
            items.append((alias or "", views.Column(alias or "", t, True), False, expr))
    exprs = [x[3] for x in items]
    if node.where is not None:
        for n in _walk(node.where):
            if n.kind == "func" and n.name in AGGREGATES:
                raise _err(147, 15, "An aggregate may not appear in the WHERE clause unless it "
                           "is in a subquery contained in a HAVING clause or a select list, and "
                           "the column being aggregated is an outer reference.")
            if n.kind == "col":
                scope.column(n.parts)
    where = _fold_constants(node.where, scope) if node.where is not None else None
    source = view.rows(cat, _seek_id(where, scope)) if view else [{}]
    if where is not None:
        source = [r for r in source if evaluate(where, scope, r) is True]
    aggs = [n for e in exprs for n in _walk(e) if n.kind == "func" and n.name in AGGREGATES]
    if aggs:
        _check_grouping(exprs, scope, view)
        values = {}
        for a in aggs:
            if a.star:
                values[id(a)] = len(source)
            else:
                values[id(a)] = sum(1 for r in source if evaluate(a.args[0], scope, r) is not None)
        rows = [[evaluate(e, scope, {}, values) for e in exprs]]
        pairs = [(None, r) for r in rows]
    else:
        pairs = [(r, [evaluate(e, scope, r) for e in exprs]) for r in source]
    for expr, desc in reversed(node.order):
        pairs.sort(key=lambda p: _sort_key(expr, scope, p, items), reverse=desc)
    rows = [p[1] for p in pairs]
    if node.top is not None:
        rows = rows[:node.top]
    tables = [view.name] if view else []
    return ResultSet([x[1] for x in items], rows, tables, [x[2] for x in items])


def _fold_constants(node, scope):
    """A copy of node with row-independent parts (db_id(N'x'), literals) computed once."""
    if not any(n.kind == "col" for n in _walk(node)):
        return Node("lit", value=evaluate(node, scope, {}), unicode=True)
    fields = {}
    for key, value in node.__dict__.items():
        if key == "kind":
            continue
        if isinstance(value, list):
            fields[key] = [_fold_constants(v, scope) if hasattr(v, "kind") else v for v in value]
        else:
            fields[key] = _fold_constants(value, scope) if hasattr(value, "kind") else value
    return Node(node.kind, **fields)


def _seek_id(where, scope):
    """The database id an equality on the view's id column pins, if any."""
    terms, conj = [], [where] if where is not None else []
    while conj:
        n = conj.pop()
        if n.kind == "and":
            conj += [n.left, n.right]
        else:
            terms.append(n)
    for t in terms:
        if t.kind == "cmp" and t.op == "=":
            for a, b in ((t.left, t.right), (t.right, t.left)):
                if a.kind == "col" and b.kind == "lit" and \
                        fold(scope.column(a.parts).name) == fold(scope.view.key or "") and \
                        (b.value is None or isinstance(b.value, int)):
                    return b.value if b.value is not None else "none"
    return None


def _check_grouping(exprs, scope, view):
    for e in exprs:
        inside = {id(n) for a in _walk(e) if a.kind == "func" and a.name in AGGREGATES
                  for n in _walk(a)}
        for n in _walk(e):
            if n.kind == "col" and id(n) not in inside:
                col = scope.column(n.parts)
                raise _err(8120, 16, "Column '%s.%s' is invalid in the select list because it "
                           "is not contained in either an aggregate function or the GROUP BY "
                           "clause." % (".".join(view.name), col.name))


def _sort_key(expr, scope, pair, items):
    src, out = pair
    if expr.kind == "lit" and isinstance(expr.value, int):
        if not 1 <= expr.value <= len(items):
            raise _err(108, 15, "The ORDER BY position number %d is out of range of the number "
                       "of items in the select list." % expr.value)
        v = out[expr.value - 1]
    elif expr.kind == "col" and len(expr.parts) == 1 and \
            any(fold(x[0]) == fold(expr.parts[0]) and not x[2] for x in items):
        v = out[[fold(x[0]) for x in items].index(fold(expr.parts[0]))]
    else:
        v = evaluate(expr, scope, src if src is not None else {})
    if isinstance(v, str):
        # A case-sensitive collation still sorts by letter, lower case first.
        v = v.rstrip(" ")
        v = (v.casefold(), v.swapcase()) if sqltypes.CASE_SENSITIVE else fold(v)
    return (v is not None, v if v is not None else 0)
