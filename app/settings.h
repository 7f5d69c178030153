// The settings file 配置文件.ini beside the program: its path, sections and keys, and the one
// read and one write the handlers use. A key is written at the moment its setting changes;
// nothing is cached and nothing is saved at exit.
#pragma once

#include <string_view>

#include "runtime/value.h"

namespace tw::settings {

// Sections and keys, as UTF-8 source texts.
inline constexpr std::string_view k配置 = "配置";
inline constexpr std::string_view k定时配置 = "定时配置";
inline constexpr std::string_view k欲清理的库 = "欲清理的库";

inline constexpr std::string_view kIp = "ip";
inline constexpr std::string_view k用户名 = "用户名";
inline constexpr std::string_view k密码 = "密码";
inline constexpr std::string_view k密码密文 = "密码密文";
inline constexpr std::string_view k指定库 = "指定库";
inline constexpr std::string_view k是否挂机 = "是否挂机";
inline constexpr std::string_view k定时清理模式 = "定时清理模式";
inline constexpr std::string_view k开机自启 = "开机自启";
inline constexpr std::string_view k模式 = "模式";
inline constexpr std::string_view k日期 = "日期";
inline constexpr std::string_view k星期 = "星期";
inline constexpr std::string_view k时 = "时";
inline constexpr std::string_view k分 = "分";
inline constexpr std::string_view k秒 = "秒";

// The program directory without its trailing separator, then "/配置文件.ini" (a forward slash,
// which Windows accepts in a mixed path). Built afresh for every access.
Text Path();

// The stored value, or the empty text for a missing file, section or key.
Text Read(std::string_view section, std::string_view key);
// A key whose name is already GBK (a database name under 欲清理的库).
Text ReadGbkKey(std::string_view section, const Text& key);
// Writes one key; the result is not looked at by the tool.
bool Write(std::string_view section, std::string_view key, const Text& value);
bool WriteGbkKey(std::string_view section, const Text& key, const Text& value);
// Removes one key.
bool Remove(std::string_view section, std::string_view key);

// The saved login's password: 配置/密码密文 (base64 of a blob only this user can unprotect)
// when it unprotects, else the plain 配置/密码 an earlier version saved, else the empty text (a
// file copied from another user or machine).
Text ReadPassword();
// Saves the password as 配置/密码密文 and removes 配置/密码; when protection is not available,
// as plain 配置/密码 (removing a 密码密文 that would otherwise win on reading), so that the
// setting is never lost.
void SavePassword(const Text& password);

}  // namespace tw::settings
