// Reading a column's value from the driver in pieces: byte data and wide text, read on until
// the driver says the value is complete, but never past kMaxLongValueBytes (or the room a
// result has left). The length a
// driver reports for the rest of a value comes from the server; it is not trusted for an
// allocation, so a broken or hostile server cannot make the object reserve gigabytes. A piece
// the driver does not give ends the value; like every read of a field, it records no failure.
#include <algorithm>

#include "runtime/odbc/database.h"

namespace tw::odbc {
namespace {

bool IsHighSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}

}  // namespace

bool ReadBytesInPieces(const GetDataCall& get, bool whole, std::size_t size, Bytes* out,
                       std::size_t cap) {
  cap = std::clamp<std::size_t>(cap, 1, kMaxLongValueBytes);
  std::size_t want = whole ? 1 : std::min(size, cap);
  Bytes acc;
  for (bool first = true; want > 0; first = false) {
    // The piece is read straight into the value; what the driver did not fill is cut off.
    const std::size_t before = acc.size();
    acc.resize(before + want);
    SQLLEN indicator = SQL_NULL_DATA;
    const SQLRETURN rc = get(acc.data() + before, static_cast<SQLLEN>(want), &indicator);
    if (first && !Taken(rc, indicator)) return false;
    if (!first && (!Returned(rc) || indicator == SQL_NULL_DATA)) {
      acc.resize(before);
      break;
    }
    const std::size_t got = (indicator == SQL_NO_TOTAL || indicator < 0)
                                ? want
                                : std::min(want, static_cast<std::size_t>(indicator));
    acc.resize(before + got);
    if (!whole || rc != SQL_SUCCESS_WITH_INFO) break;
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) <= got) break;
    const std::size_t rest =
        indicator == SQL_NO_TOTAL ? 65536 : static_cast<std::size_t>(indicator) - got;
    want = std::min(rest, cap - acc.size());
  }
  acc.shrink_to_fit();
  *out = std::move(acc);
  return true;
}

bool ReadWideInPieces(const GetDataCall& get, bool whole, std::size_t units, std::u16string* out,
                      std::size_t cap) {
  const std::size_t limit =
      std::clamp<std::size_t>(cap, 2 * sizeof(SQLWCHAR), kMaxLongValueBytes) / sizeof(SQLWCHAR);
  units = std::clamp<std::size_t>(units, 2, limit);
  std::vector<SQLWCHAR> buf(units);
  std::u16string acc;
  for (bool first = true;; first = false) {
    SQLLEN indicator = SQL_NULL_DATA;
    const SQLRETURN rc = get(buf.data(), static_cast<SQLLEN>(units * sizeof(SQLWCHAR)), &indicator);
    if (first && !Taken(rc, indicator)) return false;
    if (!first && (!Returned(rc) || indicator == SQL_NULL_DATA)) break;
    const std::size_t got = std::min(UnitsDelivered(indicator, units), limit - acc.size());
    acc.append(reinterpret_cast<const char16_t*>(buf.data()), got);
    const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                      (indicator == SQL_NO_TOTAL || got < static_cast<std::size_t>(indicator) / 2);
    if (!whole || !more) break;
    if (acc.size() >= limit) {
      // Cut between characters: half a surrogate pair would convert to nothing sensible.
      if (IsHighSurrogate(acc.back())) acc.pop_back();
      break;
    }
  }
  *out = std::move(acc);
  return true;
}

}  // namespace tw::odbc
