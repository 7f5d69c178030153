// The settings-file format on byte buffers: what a read finds in files written by Windows or
// by hand, and that an edit changes exactly one key and keeps every other byte.
#include "runtime/ini.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tw::ini {
namespace {

using namespace std::string_view_literals;

std::string Set(std::string_view content, std::string_view section, std::string_view key,
                std::string_view value) {
  const EditResult r = Edit(content, section, key, value);
  EXPECT_NE(r.status, EditStatus::Refused);
  return r.status == EditStatus::Changed ? r.content : std::string(content);
}

TEST(IniFind, ReadsWhatWindowsWrites) {
  const std::string file = "[config]\r\nip=10.0.0.1\r\nuser=sa\r\n[sched]\r\nmode=2\r\n";
  EXPECT_EQ(Find(file, "config", "ip"), "10.0.0.1");
  EXPECT_EQ(Find(file, "config", "user"), "sa");
  EXPECT_EQ(Find(file, "sched", "mode"), "2");
  EXPECT_EQ(Find(file, "sched", "ip"), std::nullopt);
  EXPECT_EQ(Find(file, "other", "ip"), std::nullopt);
  EXPECT_EQ(Find("", "config", "ip"), std::nullopt);
}

TEST(IniFind, NamesIgnoreCaseAndSurroundingBlanks) {
  const std::string file = "  [ Config ]  \nIP\t = 1\n  User=sa\n";
  EXPECT_EQ(Find(file, "config", "ip"), " 1");  // the value keeps its blank
  EXPECT_EQ(Find(file, "CONFIG", "user"), "sa");
  EXPECT_EQ(Find(file, " config ", " user "), "sa");
  // Full-width, Greek and Cyrillic letters fold like ASCII ones.
  const std::string gbk = "[\xA3\xC1\xA6\xA1\xA7\xA1]\r\nk=v\r\n";
  EXPECT_EQ(Find(gbk, "\xA3\xE1\xA6\xC1\xA7\xD1", "K"), "v");
}

TEST(IniFind, SecondBytesOfDoubleByteCharactersAreNeverFoldedOrSplit) {
  // 0x81 0x41 and 0x81 0x61 are two different characters, not one in two cases.
  const std::string file = "[s]\r\n\x81\x41=upper\r\n";
  EXPECT_EQ(Find(file, "s", "\x81\x41"), "upper");
  EXPECT_EQ(Find(file, "s", "\x81\x61"), std::nullopt);
  // A section name whose last character ends in the byte of ']' is still closed by the ']'.
  const std::string tricky = "[\x81\x5D]\r\nk=1\r\n";
  EXPECT_EQ(Find(tricky, "\x81\x5D", "k"), "1");
}

TEST(IniFind, ValuesComeBackExactlyAsStored) {
  const std::string file = "[s]\r\na=\xCA\xC7 \r\nb=\"quoted\"\r\nc=\r\nd=x=y\r\n";
  EXPECT_EQ(Find(file, "s", "a"), "\xCA\xC7 ");  // "是 " is not "是"
  EXPECT_EQ(Find(file, "s", "b"), "\"quoted\"");
  EXPECT_EQ(Find(file, "s", "c"), "");
  EXPECT_EQ(Find(file, "s", "d"), "x=y");
}

TEST(IniFind, FirstSectionAndFirstKeyWin) {
  const std::string file = "k=orphan\n[s]\nk=1\nk=2\n[s]\nk=3\nj=4\n";
  EXPECT_EQ(Find(file, "s", "k"), "1");
  EXPECT_EQ(Find(file, "s", "j"), std::nullopt);  // only the first [s] is searched
}

TEST(IniFind, OddLinesAreNotKeys) {
  const std::string file = "[s] ; comment\r\n;k=commented\r\nnoequals\r\n[broken=1\r\n\r\nk=v";
  EXPECT_EQ(Find(file, "s", "k"), "v");  // the last line needs no line break
  EXPECT_EQ(Find(file, "s", "noequals"), std::nullopt);
  EXPECT_EQ(Find(file, "s", "[broken"), "1");  // '[' without ']' is an ordinary key
  EXPECT_EQ(Find(file, "s", ";k"), "commented");
}

TEST(IniFind, ReadsAsThePlatformDoesWhereControlBytesAndNulAppear) {
  // Only space and tab are blanks before a line's text; a NUL ends a stored value.
  const std::string file =
      std::string("[s]\r\n\x1Fk=v\r\n \tt=w\r\n\x0Bu=x\r\nn=a") + '\0' + "b\r\n";
  EXPECT_EQ(Find(file, "s", "k"), std::nullopt);
  EXPECT_EQ(Find(file, "s", "\x1Fk"), "v");
  EXPECT_EQ(Find(file, "s", "t"), "w");
  EXPECT_EQ(Find(file, "s", "u"), std::nullopt);
  EXPECT_EQ(Find(file, "s", "n"), "a");
}

TEST(IniFind, KeysHoldingEqualsSignsAreFoundWhole) {
  const std::string file = "[s]\r\na=b=1\r\n";
  EXPECT_EQ(Find(file, "s", "a=b"), "1");
  EXPECT_EQ(Find(file, "s", "a"), "b=1");
  EXPECT_EQ(Find(file, "s", "a=c"), std::nullopt);
}

TEST(IniFind, AKeysOwnLineWinsOverALongerKeysLine) {
  // The databases "a" and "a=b" both ticked, in either order.
  for (const std::string file : {"[s]\r\na=b=1\r\na=0\r\n", "[s]\r\na=0\r\na=b=1\r\n"}) {
    EXPECT_EQ(Find(file, "s", "a"), "0") << file;
    EXPECT_EQ(Find(file, "s", "A"), "0") << file;
    EXPECT_EQ(Find(file, "s", "a=b"), "1") << file;
  }
  // The longer key's line still answers when nothing else does, as Windows reads it.
  EXPECT_EQ(Find("[s]\r\na=b=1\r\n", "s", "a"), "b=1");
  // Keys with '=' on both sides: "a=b" prefers its own line over the one of "a=b=c".
  EXPECT_EQ(Find("[s]\r\na=b=c=1\r\na=b=2\r\n", "s", "a=b"), "2");
  EXPECT_EQ(Find("[s]\r\na=b=c=1\r\na=b=2\r\n", "s", "a=b=c"), "1");
}

TEST(IniFind, BlankNamesFindNothing) {
  const std::string file = "[ ]\r\n =1\r\n";
  EXPECT_EQ(Find(file, " ", "k"), std::nullopt);
  EXPECT_EQ(Find(file, "s", "  "), std::nullopt);
}

TEST(IniCut, CutsAtTheLimitWithoutHalvingACharacter) {
  const std::string exact(kMaxValueBytes, 'x');
  EXPECT_EQ(CutValue(exact).size(), kMaxValueBytes);
  EXPECT_EQ(CutValue(exact + "y"), exact);
  // A double-byte character across the limit goes whole.
  const std::string straddle = std::string(kMaxValueBytes - 1, 'x') + "\xCA\xC7";
  EXPECT_EQ(CutValue(straddle), std::string(kMaxValueBytes - 1, 'x'));
  EXPECT_EQ(CutValue("\xCA\xC7\xCA\xC7", 3), "\xCA\xC7");
  EXPECT_EQ(CutValue("\xCA\xC7\xCA\xC7", 3, Charset::Utf8), "\xCA\xC7\xCA");
}

TEST(IniEdit, ReplacesAValueInPlaceKeepingEverythingElse) {
  const std::string file =
      "; settings\r\n[a]\r\nx=1\r\n  Key = old value\r\nz=3\n\r\n[b]\r\nkey=other\r\n";
  const EditResult r = Edit(file, "A", "KEY", "new");
  ASSERT_EQ(r.status, EditStatus::Changed);
  EXPECT_EQ(r.content, "; settings\r\n[a]\r\nx=1\r\n  Key =new\r\nz=3\n\r\n[b]\r\nkey=other\r\n");
  EXPECT_EQ(Edit(r.content, "a", "key", "new").status, EditStatus::Unchanged);
}

TEST(IniEdit, AddsKeysAndSections) {
  std::string file;
  file = Set(file, "\xC5\xE4\xD6\xC3", "ip", "1.2.3.4");  // the first write makes the file
  EXPECT_EQ(file, "[\xC5\xE4\xD6\xC3]\r\nip=1.2.3.4\r\n");
  file = Set(file, "sched", "h", "2");
  file = Set(file, "\xC5\xE4\xD6\xC3", "user", "sa");
  EXPECT_EQ(file, "[\xC5\xE4\xD6\xC3]\r\nip=1.2.3.4\r\nuser=sa\r\n[sched]\r\nh=2\r\n");
  // A new key goes after the section's last entry, before the blank lines that follow it;
  // a file without a final line break gets one before anything is appended.
  EXPECT_EQ(Set("[a]\nx=1\n\n[b]\n", "a", "y", "2"), "[a]\nx=1\ny=2\r\n\n[b]\n");
  EXPECT_EQ(Set("[a]\nx=1", "a", "y", "2"), "[a]\nx=1\r\ny=2\r\n");
  EXPECT_EQ(Set("[a]", "a", "y", "2"), "[a]\r\ny=2\r\n");
  EXPECT_EQ(Set("junk", "a", "y", "2"), "junk\r\n[a]\r\ny=2\r\n");
  // Names are written without the blanks around them.
  EXPECT_EQ(Set("", " s ", " k ", " v "), "[s]\r\nk= v \r\n");
}

TEST(IniEdit, RemovesKeysAndSections) {
  const std::string file = "[a]\r\nk=1\r\nj=2\r\nK=3\r\n[b]\r\nk=4\r\n[A]\r\nk=5\r\n";
  EditResult r = Edit(file, "a", "k", std::nullopt);
  ASSERT_EQ(r.status, EditStatus::Changed);
  EXPECT_EQ(r.content, "[a]\r\nj=2\r\n[b]\r\nk=4\r\n[A]\r\nk=5\r\n");
  EXPECT_EQ(Find(r.content, "a", "k"), std::nullopt);

  r = Edit(file, "A", std::nullopt, std::nullopt);
  ASSERT_EQ(r.status, EditStatus::Changed);
  EXPECT_EQ(r.content, "[b]\r\nk=4\r\n");  // every section of the name goes

  EXPECT_EQ(Edit(file, "c", std::nullopt, std::nullopt).status, EditStatus::Unchanged);
  EXPECT_EQ(Edit(file, "a", "missing", std::nullopt).status, EditStatus::Unchanged);
  EXPECT_EQ(Edit("", "a", "k", std::nullopt).status, EditStatus::Unchanged);
}

TEST(IniEdit, RefusesWhatTheFormatCannotHold) {
  const std::string file = "[s]\r\nk=1\r\n";
  for (const auto bad : {"a\r\n[x]\r\ny=1"sv, "a\nb"sv, "a\rb"sv, "a\0b"sv}) {
    EXPECT_EQ(Edit(file, "s", "k", bad).status, EditStatus::Refused);
    EXPECT_EQ(Edit(file, "s", bad, "v").status, EditStatus::Refused);
    EXPECT_EQ(Edit(file, bad, "k", "v").status, EditStatus::Refused);
  }
  EXPECT_EQ(Edit(file, " \t", "k", "v").status, EditStatus::Refused);
  EXPECT_EQ(Edit(file, "s", "  ", "v").status, EditStatus::Refused);
  EXPECT_EQ(Edit(file, "s", "", std::nullopt).status, EditStatus::Refused);
  // A key that would read back as a section header, or half a character before '='.
  EXPECT_EQ(Edit(file, "s", "[x]", "v").status, EditStatus::Refused);
  EXPECT_EQ(Edit(file, "s", "[x", "]").status, EditStatus::Refused);
  EXPECT_EQ(Edit(file, "s", "k\x81", "v").status, EditStatus::Refused);
  EXPECT_EQ(Edit(file, "s\x81", "k", "v").status, EditStatus::Refused);
}

TEST(IniEdit, OddNamesRoundTrip) {
  std::string file = Set("", "s", "db=1", "1");
  EXPECT_EQ(Find(file, "s", "db=1"), "1");
  file = Set(file, "s", "db=1", "0");  // found and changed, not appended again
  EXPECT_EQ(file, "[s]\r\ndb=1=0\r\n");
  file = Set(file, "a]b", "k", "v");
  EXPECT_EQ(Find(file, "a]b", "k"), "v");
  file = Set(file, "s", "[x", "v");
  EXPECT_EQ(Find(file, "s", "[x"), "v");
}

TEST(IniEdit, WritingAKeyLeavesTheLineOfALongerKeyAlone) {
  // Ticking "a" after "a=b" adds a's own line; a later change goes to that line.
  std::string file = Set("", "s", "a=b", "1");
  file = Set(file, "s", "a", "0");
  EXPECT_EQ(file, "[s]\r\na=b=1\r\na=0\r\n");
  EXPECT_EQ(Set(file, "s", "a", "1"), "[s]\r\na=b=1\r\na=1\r\n");
  EXPECT_EQ(Set(file, "s", "a=b", "0"), "[s]\r\na=b=0\r\na=0\r\n");
  EXPECT_EQ(Set("[s]\r\na=0\r\na=b=1\r\n", "s", "A", "1"), "[s]\r\na=1\r\na=b=1\r\n");
  // A value with '=' can only go in place: a new line would not be the one that reads back.
  EXPECT_EQ(Set("[s]\r\npw=p=q\r\n", "s", "pw", "r=s"), "[s]\r\npw=r=s\r\n");
  // Removing "a" removes a's own lines only; alone, the longer line goes as Windows' "a".
  EditResult r = Edit("[s]\r\na=b=1\r\na=0\r\na=2\r\n", "s", "a", std::nullopt);
  ASSERT_EQ(r.status, EditStatus::Changed);
  EXPECT_EQ(r.content, "[s]\r\na=b=1\r\n");
  EXPECT_EQ(Find(r.content, "s", "a=b"), "1");
  r = Edit("[s]\r\na=b=1\r\nx=1\r\n", "s", "a", std::nullopt);
  ASSERT_EQ(r.status, EditStatus::Changed);
  EXPECT_EQ(r.content, "[s]\r\nx=1\r\n");
}

// Settings that once did not read back as written, each checked against the platform's own
// functions (code page 936): the write, the file it leaves, what the written name reads and
// what another name reads afterwards.
struct Reproduction {
  std::string_view before, section, key, value, after, otherSection, otherKey;
  std::optional<std::string_view> other;
};

TEST(IniEdit, ReadsBackWhatItWroteAsThePlatformDoes) {
  const Reproduction cases[] = {
      // A control byte that is not a space belongs to the name, when read and when written.
      {"[s]\r\nk=1\r\n", "s", "\x01k", "2", "[s]\r\nk=1\r\n\x01k=2\r\n", "s", "k", "1"},
      {"[s]\r\nk=1\r\n", "\x01s", "k", "2", "[s]\r\nk=1\r\n[\x01s]\r\nk=2\r\n", "s", "\x01k",
       std::nullopt},
      // The platform's spaces around a name go on both sides, line breaks among them.
      {"[s]\r\nk=1\r\n", "\x0Bs\x1A", "\r\nk\x0C", "2", "[s]\r\nk=2\r\n", " s\t", "k\n", "2"},
      // A value holding '=' for a key written twice: the first copy takes it, the other goes;
      // a new line goes in front of a longer key's line that would answer first.
      {"[s]\r\nk=1\r\nk=2\r\n", "s", "k", "a=b", "[s]\r\nk=a=b\r\n", "s", "k=a", "b"},
      {"[s]\r\nk=x=1\r\nk=2\r\n", "s", "k", "a=b", "[s]\r\nk=a=b\r\nk=x=1\r\n", "s", "k=x", "1"},
      // 0x80 and 0xFF are characters of one byte: they swallow no ']' or '='.
      {"[s\x80]\r\nk\x80=1\r\n", "s\x80", "k\x80", "v", "[s\x80]\r\nk\x80=v\r\n", "s\x80", "k",
       std::nullopt},
      {"[s\xFF]\r\nk=1\r\n", "s\xFF", "k\xFF", "v", "[s\xFF]\r\nk=1\r\nk\xFF=v\r\n", "S\xFF", "K",
       "1"},
  };
  for (const Reproduction& t : cases) {
    const EditResult r = Edit(t.before, t.section, t.key, t.value);
    ASSERT_EQ(r.status, EditStatus::Changed) << t.after;
    EXPECT_EQ(r.content, t.after);
    EXPECT_EQ(Find(r.content, t.section, t.key), t.value) << t.after;
    EXPECT_EQ(Find(r.content, t.otherSection, t.otherKey), t.other) << t.after;
  }
  EXPECT_EQ(Find("[s]\r\nk=1\r\n", "s", "\x01k"), std::nullopt);
  EXPECT_EQ(Find("[s\x80]\r\nk\xFF=1\r\n", "s\x80", "k\xFF"), "1");
}

TEST(IniEdit, Utf8FilesFoldAsciiOnly) {
  const std::string file = "[\xE9\x85\x8D]\nK=1\n";
  EXPECT_EQ(Find(file, "\xE9\x85\x8D", "k", Charset::Utf8), "1");
  EXPECT_EQ(Set("", "s", "k", "1"), Edit("", "s", "k", "1", Charset::Utf8).content);
}

}  // namespace
}  // namespace tw::ini
