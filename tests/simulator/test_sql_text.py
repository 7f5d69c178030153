"""How batch text is read, checked without a network: quoting, comments,
statement boundaries and the lexical errors SQL Server reports."""
import unittest

from tdssim.lexer import SqlError
from tdssim.parser import parse_batch


def error_numbers(sql):
    try:
        parse_batch(sql)
    except SqlError as e:
        return [m[0] for m in e.msgs]
    return []


class SqlTextTest(unittest.TestCase):
    def test_quoted_names_and_literals_undouble_their_quotes(self):
        stmts = parse_batch("USE [x]]y]\nUSE \"q\"\"d\"; SELECT N'a''b', 'c' FROM [sys].[databases]")
        self.assertEqual([s.name for s in stmts[:2]], ["x]y", 'q"d'])
        items = stmts[2].items
        self.assertEqual([(i.expr.value, i.expr.unicode) for i in items], [("a'b", True), ("c", False)])
        self.assertEqual(stmts[2].table.parts, ["sys", "databases"])

    def test_statements_need_no_separator_and_comments_are_skipped(self):
        stmts = parse_batch("-- a comment\nUSE sales /* outer /* nested */ still */ "
                            "DBCC SHRINKFILE (N'sales_log' , 0, TRUNCATEONLY)\n"
                            "ALTER DATABASE CURRENT SET RECOVERY FULL;;")
        self.assertEqual([s.kind for s in stmts], ["use", "shrinkfile", "alter"])
        self.assertEqual((stmts[1].file, stmts[1].size, stmts[1].mode), ("sales_log", 0, "TRUNCATEONLY"))
        self.assertEqual((stmts[2].db, stmts[2].options), (None, [("RECOVERY", "FULL")]))

    def test_identifiers_up_to_128_characters(self):
        self.assertEqual(error_numbers("USE [%s]" % ("n" * 128)), [])
        self.assertEqual(error_numbers("USE %s" % ("n" * 129)), [103])
        self.assertEqual(error_numbers("USE 销售库"), [])

    def test_lexical_errors(self):
        self.assertEqual(error_numbers("SELECT 1 /* open"), [113])
        self.assertEqual(error_numbers("USE [open"), [105, 102])
        self.assertEqual(error_numbers("SELECT TOP 1.5 name FROM sys.databases"), [102])
        self.assertEqual(error_numbers("SELECT name FROM sys.databases WHERE name = N'x"), [105, 102])

    def test_reserved_words_need_quotes(self):
        self.assertEqual(error_numbers("USE select"), [102])
        self.assertEqual(error_numbers("USE [select]"), [])
        self.assertEqual(error_numbers("ALTER DATABASE full SET RECOVERY FULL"), [102])


class ImplicitConversionTest(unittest.TestCase):
    def test_varbinary_compares_with_text_and_numbers_without_failing(self):
        from tdssim.query import _comparable
        self.assertEqual(_comparable("ab".encode("utf-16-le"), "AB"), ("ab", "ab"))
        self.assertEqual(_comparable(7, b"\x00\x07"), (7, 7))


if __name__ == "__main__":
    unittest.main()
