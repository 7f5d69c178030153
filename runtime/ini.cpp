// Finding and editing keys in the bytes of a settings file; the format is described in ini.h.
#include "runtime/ini.h"

#include <vector>

#include "runtime/gbk_text.h"

namespace tw::ini {
namespace {

struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;   // before the line break
  std::size_t next = 0;  // after the line break (== end on a last line without one)
};

std::vector<Line> SplitLines(std::string_view c) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < c.size()) {
    const std::size_t nl = c.find('\n', pos);
    Line l;
    l.begin = pos;
    if (nl == std::string_view::npos) {
      l.end = l.next = c.size();
    } else {
      l.end = (nl > pos && c[nl - 1] == '\r') ? nl - 1 : nl;
      l.next = nl + 1;
    }
    lines.push_back(l);
    pos = l.next;
  }
  return lines;
}

// Names in a GBK file are stepped as the platform's functions step them, in code page 936; a
// UTF-8 file is compared byte by byte, so no byte leads there.
gbk::LeadBytes NameLeads(Charset cs) {
  return cs == Charset::Gbk ? gbk::LeadBytes::From0x81 : gbk::LeadBytes::None;
}

// A value read is cut where the value commands it goes to would see a character end.
gbk::LeadBytes ValueLeads(Charset cs) {
  return cs == Charset::Gbk ? gbk::LeadBytes::From0x80 : gbk::LeadBytes::None;
}

std::size_t CharLen(std::string_view s, std::size_t i, Charset cs) {
  return gbk::CharLength(s, i, NameLeads(cs));
}

// A character reduced to one number with letter case removed.
unsigned Fold(std::string_view s, std::size_t i, std::size_t len) {
  auto b1 = static_cast<unsigned char>(s[i]);
  if (len == 1) return (b1 >= 'A' && b1 <= 'Z') ? b1 + 0x20u : b1;
  auto b2 = static_cast<unsigned char>(s[i + 1]);
  if (b1 == 0xA3 && b2 >= 0xC1 && b2 <= 0xDA) b2 += 0x20;  // full-width Latin
  if (b1 == 0xA6 && b2 >= 0xA1 && b2 <= 0xB8) b2 += 0x20;  // Greek
  if (b1 == 0xA7 && b2 >= 0xA1 && b2 <= 0xC1) b2 += 0x30;  // Cyrillic
  return 0x10000u + (static_cast<unsigned>(b1) << 8) + b2;
}

// True when `text` begins with `name`, compared character by character without case.
bool StartsWithName(std::string_view text, std::string_view name, Charset cs) {
  if (text.size() < name.size()) return false;
  std::size_t i = 0;
  while (i < name.size()) {
    const std::size_t ln = CharLen(name, i, cs);
    if (CharLen(text, i, cs) != ln || Fold(text, i, ln) != Fold(name, i, ln)) return false;
    i += ln;
  }
  return true;
}

// The section name of a header line, or nullopt when the line is no header.
std::optional<std::string_view> HeaderName(std::string_view line, Charset cs) {
  const std::string_view t = SkipLeadingBlanks(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  std::size_t close = std::string_view::npos;
  for (std::size_t i = 1; i < t.size(); i += CharLen(t, i, cs)) {
    if (t[i] == ']') close = i;
  }
  if (close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(t.substr(1, close - 1));
}

// Offset of the value within `line` when the line holds `key` (already trimmed).
std::optional<std::size_t> KeyValueStart(std::string_view line, std::string_view key, Charset cs) {
  if (HeaderName(line, cs)) return std::nullopt;
  const std::size_t start = line.size() - SkipLeadingBlanks(line).size();
  if (!StartsWithName(line.substr(start), key, cs)) return std::nullopt;
  std::size_t j = start + key.size();
  while (j < line.size() && IsBlank(static_cast<unsigned char>(line[j]))) ++j;
  if (j >= line.size() || line[j] != '=') return std::nullopt;
  return j + 1;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

EditResult Refused() {
  return {EditStatus::Refused, {}};
}

bool IsBlankLine(std::string_view line) {
  return SkipLeadingBlanks(line).empty();
}

// A line as the platform's functions read it: as a C string, so a NUL byte ends it.
std::string_view LineText(std::string_view c, const Line& l) {
  const std::string_view line = c.substr(l.begin, l.end - l.begin);
  return line.substr(0, line.find('\0'));
}

// A section: its header line and the lines [first, last) of its body.
struct Range {
  std::size_t header = 0;
  std::size_t first = 0;
  std::size_t last = 0;
};

std::optional<Range> FindSection(std::string_view c, const std::vector<Line>& lines,
                                 std::string_view section, Charset cs, std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i) {
    const auto name = HeaderName(LineText(c, lines[i]), cs);
    if (!name || !NamesEqual(*name, section, cs)) continue;
    Range r{i, i + 1, i + 1};
    while (r.last < lines.size() && !HeaderName(LineText(c, lines[r.last]), cs)) ++r.last;
    return r;
  }
  return std::nullopt;
}

// A line that holds a key: where it is, where its value starts, and whether the key is surely
// the whole key of the line. "a=b=1" holds the key "a" (value "b=1") but may as well be the
// line of the key "a=b", so for "a" it is only a fallback; "a=2" is a's own line.
struct KeyLine {
  std::size_t index = 0;
  std::size_t at = 0;
  bool exact = false;
};

std::optional<KeyLine> FindKeyLine(std::string_view c, const std::vector<Line>& lines,
                                   const Range& r, std::string_view key, Charset cs) {
  std::optional<KeyLine> fallback;
  for (std::size_t i = r.first; i < r.last; ++i) {
    const std::string_view line = LineText(c, lines[i]);
    const auto at = KeyValueStart(line, key, cs);
    if (!at) continue;
    const KeyLine found{i, *at, line.find('=', *at) == std::string_view::npos};
    if (found.exact) return found;
    if (!fallback) fallback = found;
  }
  return fallback;
}

// The key's line in the first section of the name, as FindKeyLine chooses it.
struct Lookup {
  std::string_view value;
  bool exact = false;
};
std::optional<Lookup> LookUp(std::string_view c, std::string_view section, std::string_view key,
                             Charset cs) {
  const auto lines = SplitLines(c);
  const auto r = FindSection(c, lines, section, cs);
  if (!r) return std::nullopt;
  const auto kl = FindKeyLine(c, lines, *r, key, cs);
  if (!kl) return std::nullopt;
  return Lookup{LineText(c, lines[kl->index]).substr(kl->at), kl->exact};
}

EditResult RemoveSections(std::string_view c, const std::vector<Line>& lines,
                          std::string_view section, Charset cs) {
  std::vector<bool> drop(lines.size(), false);
  bool any = false;
  for (auto r = FindSection(c, lines, section, cs); r;
       r = FindSection(c, lines, section, cs, r->last)) {
    for (std::size_t i = r->header; i < r->last; ++i) drop[i] = true;
    any = true;
  }
  if (!any) return {EditStatus::Unchanged, {}};
  EditResult out{EditStatus::Changed, {}};
  out.content.reserve(c.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!drop[i]) out.content.append(c.substr(lines[i].begin, lines[i].next - lines[i].begin));
  }
  return out;
}

// Removes every line of the key. When the key has lines of its own, lines that may belong to
// a longer key ("a=b=1" when "a" goes) stay.
EditResult RemoveKey(std::string_view c, const std::vector<Line>& lines, const Range& r,
                     std::string_view key, Charset cs) {
  const auto chosen = FindKeyLine(c, lines, r, key, cs);
  if (!chosen) return {EditStatus::Unchanged, {}};
  EditResult out{EditStatus::Unchanged, {}};
  std::size_t copied = 0;
  for (std::size_t i = r.first; i < r.last; ++i) {
    const std::string_view line = LineText(c, lines[i]);
    const auto at = KeyValueStart(line, key, cs);
    if (!at) continue;
    if (chosen->exact && line.find('=', *at) != std::string_view::npos) continue;
    out.content.append(c.substr(copied, lines[i].begin - copied));
    copied = lines[i].next;
    out.status = EditStatus::Changed;
  }
  if (out.status == EditStatus::Changed) out.content.append(c.substr(copied));
  return out;
}

// A value holding '=' makes the key's line one that may belong to a longer key, and such a line
// answers only when the key has no line of its own and no such line comes before it. So the
// first line that answers for the key takes the value when it is one of the key's own (a new
// line goes in front of it otherwise, keeping the longer key's line), and the key's other own
// lines go: they are copies the platform's functions never read either.
EditResult SetOverOwnLines(std::string_view c, const std::vector<Line>& lines, const Range& r,
                           std::string_view key, std::string_view value, Charset cs) {
  EditResult out{EditStatus::Changed, {}};
  std::size_t copied = 0;
  bool placed = false;
  for (std::size_t i = r.first; i < r.last; ++i) {
    const std::string_view line = LineText(c, lines[i]);
    const auto at = KeyValueStart(line, key, cs);
    if (!at) continue;
    const bool own = line.find('=', *at) == std::string_view::npos;
    if (!placed && own) {
      out.content.append(c.substr(copied, lines[i].begin + *at - copied)).append(value);
      copied = lines[i].end;
    } else if (!placed) {
      out.content.append(c.substr(copied, lines[i].begin - copied));
      out.content.append(key).append("=").append(value).append("\r\n");
      copied = lines[i].begin;
    } else if (own) {
      out.content.append(c.substr(copied, lines[i].begin - copied));
      copied = lines[i].next;
    }
    placed = true;
  }
  out.content.append(c.substr(copied));
  return out;
}

EditResult SetKey(std::string_view c, const std::vector<Line>& lines, const std::optional<Range>& r,
                  std::string_view section, std::string_view key, std::string_view value,
                  Charset cs) {
  EditResult out{EditStatus::Changed, {}};
  if (!r) {
    out.content.assign(c);
    if (!c.empty() && c.back() != '\n') out.content.append("\r\n");
    out.content.append("[").append(section).append("]\r\n");
    out.content.append(key).append("=").append(value).append("\r\n");
    return out;
  }
  // The key's own line is changed in place. A line that may belong to a longer key is changed
  // only when a new line could not win over it (a value holding '=' is never exact): a new
  // line keeps "a=b=1" for the key "a=b" when "a" is written.
  const bool ownLine = value.find('=') == std::string_view::npos;
  const auto kl = FindKeyLine(c, lines, *r, key, cs);
  if (kl && kl->exact && !ownLine) return SetOverOwnLines(c, lines, *r, key, value, cs);
  if (kl && (kl->exact || !ownLine)) {
    const Line& l = lines[kl->index];
    const std::size_t from = l.begin + kl->at;
    if (c.substr(from, l.end - from) == value) return {EditStatus::Unchanged, {}};
    out.content.assign(c.substr(0, from)).append(value).append(c.substr(l.end));
    return out;
  }
  // A new key goes after the section's last non-blank line, so blank lines that separate it
  // from the next section stay where they are.
  std::size_t after = r->header;
  for (std::size_t i = r->first; i < r->last; ++i) {
    if (!IsBlankLine(LineText(c, lines[i]))) after = i;
  }
  const Line& l = lines[after];
  out.content.assign(c.substr(0, l.next));
  if (l.next == l.end) out.content.append("\r\n");
  out.content.append(key).append("=").append(value).append("\r\n");
  out.content.append(c.substr(l.next));
  return out;
}

}  // namespace

std::string_view SkipLeadingBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

std::string_view TrimName(std::string_view name) {
  std::size_t b = 0;
  std::size_t e = name.size();
  while (b < e && IsNameSpace(static_cast<unsigned char>(name[b]))) ++b;
  while (e > b && IsNameSpace(static_cast<unsigned char>(name[e - 1]))) --e;
  return name.substr(b, e - b);
}

std::string_view TrimBlanks(std::string_view s) {
  s = SkipLeadingBlanks(s);
  std::size_t n = s.size();
  while (n > 0 && IsBlank(static_cast<unsigned char>(s[n - 1]))) --n;
  return s.substr(0, n);
}

bool NamesEqual(std::string_view a, std::string_view b, Charset cs) {
  return a.size() == b.size() && StartsWithName(a, b, cs);
}

std::optional<std::string_view> Find(std::string_view content, std::string_view section,
                                     std::string_view key, Charset cs) {
  section = TrimName(section);
  key = TrimName(key);
  if (section.empty() || key.empty()) return std::nullopt;
  const auto found = LookUp(content, section, key, cs);
  if (!found) return std::nullopt;
  return found->value;
}

std::string_view CutValue(std::string_view value, std::size_t limit, Charset cs) {
  return value.substr(0, gbk::FitBytes(value, limit, ValueLeads(cs)));
}

EditResult Edit(std::string_view content, std::string_view section,
                std::optional<std::string_view> key, std::optional<std::string_view> value,
                Charset cs) {
  // Line breaks around a name are dropped with the spaces; within it, or in a value, they would
  // split the line.
  section = TrimName(section);
  const std::string_view k = key ? TrimName(*key) : std::string_view();
  if (HasLineBreakOrNul(section) || HasLineBreakOrNul(k) || (value && HasLineBreakOrNul(*value))) {
    return Refused();
  }
  if (section.empty()) return Refused();
  const auto lines = SplitLines(content);
  if (!key) {
    return RemoveSections(content, lines, section, cs);
  }
  if (k.empty()) return Refused();
  const auto r = FindSection(content, lines, section, cs);
  EditResult out;
  if (!value) {
    if (!r) return {EditStatus::Unchanged, {}};
    out = RemoveKey(content, lines, *r, k, cs);
  } else {
    out = SetKey(content, lines, r, section, k, *value, cs);
  }
  // Names that the format cannot hold (a key that reads as a section header, half a
  // double-byte character before '=' or ']') would leave the file saying something else than
  // was asked: such an edit is refused rather than written.
  // After a removal only a line that may belong to a longer key may still answer for it.
  if (out.status == EditStatus::Changed) {
    const auto now = LookUp(out.content, section, k, cs);
    const bool kept = value ? (now && now->value == *value) : (!now || !now->exact);
    if (!kept) return Refused();
  }
  return out;
}

}  // namespace tw::ini
