// The connection-string rewrite and the SQLDriverConnectW that applies it. Defined in the
// program itself, it takes the place of the driver manager's for every call the program makes;
// the driver manager's own is found behind it with dlsym(RTLD_NEXT).
#include "tests/scenario/address_map.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>

#include "runtime/gbk.h"

namespace tw::scenario {
namespace {

struct WideRoute {
  std::u16string address;
  std::u16string target;
};

std::vector<WideRoute>& Routes() {
  static std::vector<WideRoute> routes;
  return routes;
}

char16_t Lower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  return s;
}

const WideRoute* RouteFor(std::u16string_view value) {
  for (const WideRoute& r : Routes()) {
    if (SameNoCase(value, r.address)) return &r;
  }
  return nullptr;
}

}  // namespace

void SetAddressRoutes(const std::vector<AddressRoute>& routes) {
  Routes().clear();
  for (const AddressRoute& r : routes) {
    // The address reaches the driver as the tool typed it: GBK turned into UTF-16.
    Routes().push_back({GbkToUtf16(Utf8ToGbk(r.address)), GbkToUtf16(Utf8ToGbk(r.target))});
  }
}

std::u16string RouteConnectionString(std::u16string_view in) {
  std::u16string out;
  std::size_t i = 0;
  while (i < in.size()) {
    // One "key=value" part; a value in braces may hold ';' and doubles its '}'.
    const std::size_t eq = in.find(u'=', i);
    const std::size_t semi = in.find(u';', i);
    if (eq == std::u16string_view::npos || (semi != std::u16string_view::npos && semi < eq)) {
      const std::size_t end = semi == std::u16string_view::npos ? in.size() : semi + 1;
      out.append(in.substr(i, end - i));
      i = end;
      continue;
    }
    const std::u16string_view key = Trim(in.substr(i, eq - i));
    std::size_t v = eq + 1;
    std::u16string value;
    std::size_t end = v;
    if (v < in.size() && in[v] == u'{') {
      end = v + 1;
      while (end < in.size()) {
        if (in[end] == u'}') {
          if (end + 1 < in.size() && in[end + 1] == u'}') {
            value += u'}';
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        value += in[end++];
      }
      while (end < in.size() && in[end] != u';') ++end;
    } else {
      end = in.find(u';', v);
      if (end == std::u16string_view::npos) end = in.size();
      value = std::u16string(Trim(in.substr(v, end - v)));
    }
    const WideRoute* route = SameNoCase(key, u"SERVER") ? RouteFor(value) : nullptr;
    if (route != nullptr) {
      out.append(in.substr(i, v - i));
      out.append(route->target);
    } else {
      out.append(in.substr(i, end - i));
    }
    i = end;
  }
  return out;
}

}  // namespace tw::scenario

extern "C" SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC hdbc, SQLHWND hwnd, SQLWCHAR* szConnStrIn,
                                               SQLSMALLINT cbConnStrIn, SQLWCHAR* szConnStrOut,
                                               SQLSMALLINT cbConnStrOutMax,
                                               SQLSMALLINT* pcbConnStrOut,
                                               SQLUSMALLINT fDriverCompletion) {
  using Real = SQLRETURN(SQL_API*)(SQLHDBC, SQLHWND, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                                   SQLSMALLINT*, SQLUSMALLINT);
  static const Real real = [] {
    Real fn = nullptr;
    void* sym = dlsym(RTLD_NEXT, "SQLDriverConnectW");
    static_assert(sizeof fn == sizeof sym);
    std::memcpy(&fn, &sym, sizeof fn);
    return fn;
  }();
  if (real == nullptr) return SQL_ERROR;
  if (szConnStrIn == nullptr) {
    return real(hdbc, hwnd, szConnStrIn, cbConnStrIn, szConnStrOut, cbConnStrOutMax, pcbConnStrOut,
                fDriverCompletion);
  }
  static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));
  std::size_t units = 0;
  if (cbConnStrIn == SQL_NTS) {
    while (szConnStrIn[units] != 0) ++units;
  } else {
    units = cbConnStrIn < 0 ? 0 : static_cast<std::size_t>(cbConnStrIn);
  }
  std::u16string in(units, u'\0');
  std::memcpy(in.data(), szConnStrIn, units * sizeof(char16_t));
  std::u16string routed = tw::scenario::RouteConnectionString(in);
  std::vector<SQLWCHAR> buf(routed.size() + 1, 0);
  std::memcpy(buf.data(), routed.data(), routed.size() * sizeof(char16_t));
  return real(hdbc, hwnd, buf.data(), SQL_NTS, szConnStrOut, cbConnStrOutMax, pcbConnStrOut,
              fDriverCompletion);
}
