// Every SQL text the tool sends, side by side, and the rules that put database names into them:
// an ordinary name goes in exactly as it is; any other is quoted, so that no name can end a
// statement early or add one of its own.
#pragma once

#include <string_view>

#include "runtime/value.h"

namespace tw::sql {

// The listing: number and names of the databases (upper-case catalogue names), and the same in
// the catalogue's own case for a server whose collation tells case apart.
inline constexpr std::string_view kListingCount = "SELECT count(NAME) FROM MASTER.DBO.SYSDATABASES";
inline constexpr std::string_view kListingNames = "SELECT NAME FROM MASTER.DBO.SYSDATABASES";
inline constexpr std::string_view kListingCountOwnCase =
    "SELECT count(name) FROM master.dbo.sysdatabases";
inline constexpr std::string_view kListingNamesOwnCase = "SELECT name FROM master.dbo.sysdatabases";

// The database combo: number and names, read by the field name "Name" (own case: "name").
inline constexpr std::string_view kComboCount = "SELECT count(name) FROM master.dbo.sysdatabases";
inline constexpr std::string_view kComboNames = "SELECT Name FROM Master..SysDatabases";
inline constexpr std::string_view kComboNamesOwnCase = "SELECT name FROM master..sysdatabases";
inline constexpr std::string_view kComboNameField = "Name";
inline constexpr std::string_view kComboNameFieldOwnCase = "name";

// The files of one database: its data file first, then its log file.
Text FilesQuery(std::string_view database);
// The recovery model of one database, as SIMPLE, FULL or BULK_LOGGED.
Text RecoveryModelQuery(std::string_view database);

// The cleanup of one database.
Text SetRecoverySimple(std::string_view database);  // keeps the trailing blank after SIMPLE
Text Use(std::string_view database);
Text ShrinkLog(std::string_view logicalLogName);
Text SetRecovery(std::string_view database, std::string_view model);  // FULL or BULK_LOGGED
inline constexpr std::string_view kCheckpoint = "CHECKPOINT";

// True for a name SQL Server takes as a regular identifier: a letter or '_' first, then
// letters, digits, '_', '@', '#' and '$', at most 128 characters, not a reserved word.
// Chinese ideographs count as letters, as they do for SQL Server.
bool IsRegularIdentifier(std::string_view name);
// The name as an identifier: unchanged when regular, else in brackets with ']' doubled.
Text Identifier(std::string_view name);
// The name inside an N'...' literal: every quote doubled.
Text LiteralBody(std::string_view name);

// The text to hand to the database object so that the server receives `sql` exactly: the
// object turns brackets outside literals into the driver's identifier quote and "[[" / "]]"
// into single brackets, so every bracket outside a literal is doubled here, following the
// literals the same way the object does. Texts without brackets stay as they are.
Text ForBracketTranslation(std::string_view sql);

}  // namespace tw::sql
