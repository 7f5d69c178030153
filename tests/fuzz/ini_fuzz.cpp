// Fuzzes the settings-file editor with arbitrary file contents and names: no crash, reads
// see what a write stored, a removed key or section is gone (but for lines of longer keys),
// and an edit only ever touches the lines it must (one line for a set, and the key's other
// copies when its value holds '='; whole lines for a removal).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/ini.h"

namespace {

using tw::ini::Charset;
using tw::ini::EditStatus;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::vector<std::string_view> Lines(std::string_view s) {
  std::vector<std::string_view> out;
  while (!s.empty()) {
    const auto nl = s.find('\n');
    const std::size_t n = nl == std::string_view::npos ? s.size() : nl + 1;
    out.push_back(s.substr(0, n));
    s.remove_prefix(n);
  }
  return out;
}

// True when `after` is `before` with some whole lines taken out.
bool RemovedWholeLines(std::string_view before, std::string_view after) {
  const auto b = Lines(before);
  const auto a = Lines(after);
  std::size_t j = 0;
  for (std::size_t i = 0; i < b.size() && j < a.size(); ++i) {
    if (b[i] == a[j]) ++j;
  }
  return j == a.size() && after.size() < before.size();
}

// True when `after` differs from `before` by one splice that removes no line break.
bool OneLineChanged(std::string_view before, std::string_view after) {
  std::size_t p = 0;
  while (p < before.size() && p < after.size() && before[p] == after[p]) ++p;
  std::size_t s = 0;
  while (s < before.size() - p && s < after.size() - p &&
         before[before.size() - 1 - s] == after[after.size() - 1 - s]) {
    ++s;
  }
  return before.substr(p, before.size() - p - s).find('\n') == std::string_view::npos;
}

// True when `after` is `before` with one line changed or put in and whole lines taken out
// after it: a value holding '=' that goes to a key with several lines of its own.
bool OneLineSetCopiesDropped(std::string_view before, std::string_view after) {
  const auto b = Lines(before);
  const auto a = Lines(after);
  std::size_t p = 0;
  while (p < b.size() && p < a.size() && a[p] == b[p]) ++p;
  if (p == a.size()) return false;
  const auto restKept = [&](std::size_t from) {
    std::size_t j = p + 1;
    for (std::size_t i = from; i < b.size() && j < a.size(); ++i) {
      if (b[i] == a[j]) ++j;
    }
    return j == a.size();
  };
  return restKept(p) || restKept(p + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Charset cs = (data[0] & 1) ? Charset::Utf8 : Charset::Gbk;
  const int op = (data[0] >> 1) % 3;
  // The rest is "content \xFF\xFF section \xFF\xFF key \xFF\xFF value".
  std::string_view in(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view parts[4];
  for (int i = 0; i < 3; ++i) {
    const auto at = in.find("\xFF\xFF");
    if (at == std::string_view::npos) break;
    parts[i] = in.substr(0, at);
    in.remove_prefix(at + 2);
  }
  parts[3] = in;
  const std::string_view content = parts[0], section = parts[1], key = parts[2], value = parts[3];

  (void)tw::ini::Find(content, section, key, cs);
  (void)tw::ini::CutValue(value, 7, cs);

  if (op == 0) {
    const auto r = tw::ini::Edit(content, section, key, value, cs);
    if (r.status == EditStatus::Changed) {
      Check(tw::ini::Find(r.content, section, key, cs) == value);
      Check(OneLineChanged(content, r.content) || (value.find('=') != std::string_view::npos &&
                                                   OneLineSetCopiesDropped(content, r.content)));
    } else if (r.status == EditStatus::Unchanged) {
      Check(tw::ini::Find(content, section, key, cs) == value);
    }
  } else if (op == 1) {
    const auto r = tw::ini::Edit(content, section, key, std::nullopt, cs);
    if (r.status == EditStatus::Changed) {
      // Only a line that may belong to a longer key ("a=b=1" once "a" is gone) still answers.
      const auto left = tw::ini::Find(r.content, section, key, cs);
      Check(!left || left->find('=') != std::string_view::npos);
      Check(RemovedWholeLines(content, r.content));
    } else if (r.status == EditStatus::Unchanged) {
      Check(!tw::ini::Find(content, section, key, cs));
    }
  } else {
    const auto r = tw::ini::Edit(content, section, std::nullopt, std::nullopt, cs);
    if (r.status == EditStatus::Changed) {
      Check(!tw::ini::Find(r.content, section, key, cs));
      Check(RemovedWholeLines(content, r.content));
    } else if (r.status == EditStatus::Unchanged) {
      Check(!tw::ini::Find(content, section, key, cs));
    }
  }
  return 0;
}
