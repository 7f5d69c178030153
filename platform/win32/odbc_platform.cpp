// Win32 side of the database object's system facts: the computer name, the user's temporary
// folder and the file data source, with GBK paths converted to UTF-16 at this edge.
#include "runtime/odbc/odbc_platform.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace tw::odbc {

Text ComputerNameForDsn() {
  // Asked with room for 22 characters and a terminator; a name that does not fit, in
  // characters or as GBK bytes, counts as unreadable.
  wchar_t buf[24] = {};
  DWORD size = 23;
  if (!GetComputerNameW(buf, &size)) return {};
  Text name = Narrow(std::wstring_view(buf, size));
  if (name.size() >= 23) return {};
  return name;
}

Text TempFolder() {
  wchar_t buf[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return {};
  return Narrow(std::wstring_view(buf, n));
}

bool WriteDsnFile(const Text& path, std::string_view bytes) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = bytes.empty() || (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()),
                                              &written, nullptr) &&
                                    written == bytes.size());
  return CloseHandle(h) && ok;
}

bool DeleteDsnFile(const Text& path) {
  return DeleteFileW(Wide(path).c_str()) != 0;
}

void* DriverDialogOwner() {
  HWND owner = GetActiveWindow();
  return owner != nullptr ? owner : GetDesktopWindow();
}

}  // namespace tw::odbc
