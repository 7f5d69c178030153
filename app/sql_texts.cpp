// The SQL texts with their names put in: regular identifiers as they are, anything else quoted.
#include "app/sql_texts.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "runtime/gbk.h"
#include "runtime/gbk_text.h"

namespace tw::sql {
namespace {

// 0x80 leads, as in the database object's bracket translation that every one of these texts
// passes through: stepping otherwise would double a bracket it then takes for a trail byte.
constexpr gbk::LeadBytes kLeads = gbk::LeadBytes::From0x80;

// Transact-SQL's reserved words, upper case, sorted: a database of one of these names must be
// quoted even though it looks like an identifier.
constexpr std::array<std::string_view, 184> kReserved = {"ADD",
                                                         "ALL",
                                                         "ALTER",
                                                         "AND",
                                                         "ANY",
                                                         "AS",
                                                         "ASC",
                                                         "AUTHORIZATION",
                                                         "BACKUP",
                                                         "BEGIN",
                                                         "BETWEEN",
                                                         "BREAK",
                                                         "BROWSE",
                                                         "BULK",
                                                         "BY",
                                                         "CASCADE",
                                                         "CASE",
                                                         "CHECK",
                                                         "CHECKPOINT",
                                                         "CLOSE",
                                                         "CLUSTERED",
                                                         "COALESCE",
                                                         "COLLATE",
                                                         "COLUMN",
                                                         "COMMIT",
                                                         "COMPUTE",
                                                         "CONSTRAINT",
                                                         "CONTAINS",
                                                         "CONTAINSTABLE",
                                                         "CONTINUE",
                                                         "CONVERT",
                                                         "CREATE",
                                                         "CROSS",
                                                         "CURRENT",
                                                         "CURRENT_DATE",
                                                         "CURRENT_TIME",
                                                         "CURRENT_TIMESTAMP",
                                                         "CURRENT_USER",
                                                         "CURSOR",
                                                         "DATABASE",
                                                         "DBCC",
                                                         "DEALLOCATE",
                                                         "DECLARE",
                                                         "DEFAULT",
                                                         "DELETE",
                                                         "DENY",
                                                         "DESC",
                                                         "DISK",
                                                         "DISTINCT",
                                                         "DISTRIBUTED",
                                                         "DOUBLE",
                                                         "DROP",
                                                         "DUMP",
                                                         "ELSE",
                                                         "END",
                                                         "ERRLVL",
                                                         "ESCAPE",
                                                         "EXCEPT",
                                                         "EXEC",
                                                         "EXECUTE",
                                                         "EXISTS",
                                                         "EXIT",
                                                         "EXTERNAL",
                                                         "FETCH",
                                                         "FILE",
                                                         "FILLFACTOR",
                                                         "FOR",
                                                         "FOREIGN",
                                                         "FREETEXT",
                                                         "FREETEXTTABLE",
                                                         "FROM",
                                                         "FULL",
                                                         "FUNCTION",
                                                         "GOTO",
                                                         "GRANT",
                                                         "GROUP",
                                                         "HAVING",
                                                         "HOLDLOCK",
                                                         "IDENTITY",
                                                         "IDENTITYCOL",
                                                         "IDENTITY_INSERT",
                                                         "IF",
                                                         "IN",
                                                         "INDEX",
                                                         "INNER",
                                                         "INSERT",
                                                         "INTERSECT",
                                                         "INTO",
                                                         "IS",
                                                         "JOIN",
                                                         "KEY",
                                                         "KILL",
                                                         "LEFT",
                                                         "LIKE",
                                                         "LINENO",
                                                         "LOAD",
                                                         "MERGE",
                                                         "NATIONAL",
                                                         "NOCHECK",
                                                         "NONCLUSTERED",
                                                         "NOT",
                                                         "NULL",
                                                         "NULLIF",
                                                         "OF",
                                                         "OFF",
                                                         "OFFSETS",
                                                         "ON",
                                                         "OPEN",
                                                         "OPENDATASOURCE",
                                                         "OPENQUERY",
                                                         "OPENROWSET",
                                                         "OPENXML",
                                                         "OPTION",
                                                         "OR",
                                                         "ORDER",
                                                         "OUTER",
                                                         "OVER",
                                                         "PERCENT",
                                                         "PIVOT",
                                                         "PLAN",
                                                         "PRECISION",
                                                         "PRIMARY",
                                                         "PRINT",
                                                         "PROC",
                                                         "PROCEDURE",
                                                         "PUBLIC",
                                                         "RAISERROR",
                                                         "READ",
                                                         "READTEXT",
                                                         "RECONFIGURE",
                                                         "REFERENCES",
                                                         "REPLICATION",
                                                         "RESTORE",
                                                         "RESTRICT",
                                                         "RETURN",
                                                         "REVERT",
                                                         "REVOKE",
                                                         "RIGHT",
                                                         "ROLLBACK",
                                                         "ROWCOUNT",
                                                         "ROWGUIDCOL",
                                                         "RULE",
                                                         "SAVE",
                                                         "SCHEMA",
                                                         "SECURITYAUDIT",
                                                         "SELECT",
                                                         "SEMANTICKEYPHRASETABLE",
                                                         "SEMANTICSIMILARITYDETAILSTABLE",
                                                         "SEMANTICSIMILARITYTABLE",
                                                         "SESSION_USER",
                                                         "SET",
                                                         "SETUSER",
                                                         "SHUTDOWN",
                                                         "SOME",
                                                         "STATISTICS",
                                                         "SYSTEM_USER",
                                                         "TABLE",
                                                         "TABLESAMPLE",
                                                         "TEXTSIZE",
                                                         "THEN",
                                                         "TO",
                                                         "TOP",
                                                         "TRAN",
                                                         "TRANSACTION",
                                                         "TRIGGER",
                                                         "TRUNCATE",
                                                         "TRY_CONVERT",
                                                         "TSEQUAL",
                                                         "UNION",
                                                         "UNIQUE",
                                                         "UNPIVOT",
                                                         "UPDATE",
                                                         "UPDATETEXT",
                                                         "USE",
                                                         "USER",
                                                         "VALUES",
                                                         "VARYING",
                                                         "VIEW",
                                                         "WAITFOR",
                                                         "WHEN",
                                                         "WHERE",
                                                         "WHILE",
                                                         "WITH",
                                                         "WRITETEXT"};

bool IsAsciiLetter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsIdeograph(char16_t c) {
  return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
         (c >= 0xF900 && c <= 0xFAFF);
}

bool IsReserved(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::binary_search(kReserved.begin(), kReserved.end(), std::string_view(upper));
}

Text Doubled(std::string_view text, char c) {
  Text out;
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    // The second byte of a double-byte character is never one of ours, whatever its value.
    if (gbk::CharLength(text, i, kLeads) == 2) {
      out.append(text.substr(i, 2));
      ++i;
      continue;
    }
    out += text[i];
    if (text[i] == c) out += c;
  }
  return out;
}

}  // namespace

bool IsRegularIdentifier(std::string_view name) {
  const std::u16string wide = GbkToUtf16(name);
  if (wide.empty() || wide.size() > 128) return false;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    const bool letter = IsAsciiLetter(c) || IsIdeograph(c) || c == u'_';
    const bool later = (c >= u'0' && c <= u'9') || c == u'@' || c == u'#' || c == u'$';
    if (!(letter || (i > 0 && later))) return false;
  }
  return !IsReserved(name);
}

Text Identifier(std::string_view name) {
  if (IsRegularIdentifier(name)) return Text(name);
  return "[" + Doubled(name, ']') + "]";
}

Text LiteralBody(std::string_view name) {
  return Doubled(name, '\'');
}

Text FilesQuery(std::string_view database) {
  return "select database_id,name,physical_name AS CurrentLocation,state_desc,size from "
         "sys.master_files where database_id=db_id(N'" +
         LiteralBody(database) + "');";
}

Text RecoveryModelQuery(std::string_view database) {
  return "select recovery_model_desc from sys.databases where name=N'" + LiteralBody(database) +
         "'";
}

Text SetRecoverySimple(std::string_view database) {
  return "ALTER DATABASE " + Identifier(database) + " SET RECOVERY SIMPLE ";
}

Text Use(std::string_view database) {
  return "USE " + Identifier(database);
}

Text ShrinkLog(std::string_view logicalLogName) {
  return "DBCC SHRINKFILE (N'" + LiteralBody(logicalLogName) + "' , 0, TRUNCATEONLY)";
}

Text SetRecovery(std::string_view database, std::string_view model) {
  return "ALTER DATABASE " + Identifier(database) + " SET RECOVERY " + Text(model);
}

Text ForBracketTranslation(std::string_view sql) {
  // The walk is the database object's own: double-byte characters are stepped over whole, two
  // quotes in a row leave the literal state as it was, one quote toggles it.
  Text out;
  out.reserve(sql.size());
  bool inLiteral = false;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (gbk::CharLength(sql, i, kLeads) == 2) {
      out.append(sql.substr(i, 2));
      ++i;
      continue;
    }
    if (c == '\'') {
      if (i + 1 < sql.size() && sql[i + 1] == '\'') {
        out.append("''");
        ++i;
      } else {
        inLiteral = !inLiteral;
        out += c;
      }
      continue;
    }
    out += c;
    if (!inLiteral && (c == '[' || c == ']')) out += c;
  }
  return out;
}

}  // namespace tw::sql
