// Property-list codecs: round trips per format, libplist agreement, device fixtures,
// OpenStep text, malformed input per reader, format detection and whole files.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>

#include "core/plist/codec.h"
#include "core/plist/file_input.h"
#include "core/plist/libplist_bridge.h"

namespace pl {
namespace {

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Equality that also tells integer from real and boolean from number, which Value's own
// equality (1 == 1.0 == true) does not.
::testing::AssertionResult sameTree(const Value& a, const Value& b) {
  if (a.type() != b.type())
    return ::testing::AssertionFailure() << typeName(a.type()) << " became " << typeName(b.type()) << ": " << a.describe();
  if (auto x = a.asArray()) {
    const Array& y = *b.asArray();
    if (x->size() != y.size()) return ::testing::AssertionFailure() << "array size " << x->size() << " vs " << y.size();
    for (size_t i = 0; i < x->size(); ++i)
      if (auto r = sameTree((*x)[i], y[i]); !r) return r;
    return ::testing::AssertionSuccess();
  }
  if (auto x = a.asDict()) {
    const Dict& y = *b.asDict();
    if (x->size() != y.size()) return ::testing::AssertionFailure() << "dictionary size " << x->size() << " vs " << y.size();
    for (const auto& [k, v] : *x) {
      auto it = y.find(k);
      if (it == y.end()) return ::testing::AssertionFailure() << "key \"" << k << "\" lost";
      if (auto r = sameTree(v, it->second); !r) return r << " (under \"" << k << "\")";
    }
    return ::testing::AssertionSuccess();
  }
  if (a != b) return ::testing::AssertionFailure() << a.describe() << " became " << b.describe();
  return ::testing::AssertionSuccess();
}

// Values every format that has the type must keep exactly (XML dates: whole seconds).
std::vector<std::pair<std::string, Value>> roundTripTable() {
  return {
      {"zero", Value(0)},
      {"minus one", Value(-1)},
      {"int64 min", Value::int64(INT64_MIN)},
      {"int64 max", Value::int64(INT64_MAX)},
      {"byte edges", Value(Array{Value(255), Value(256), Value(65535), Value(65536)})},
      {"uint32 max", Value::uint32(0xFFFFFFFFu)},
      {"uint64 max", Value::uint64(UINT64_MAX)},
      {"just above int64 max", Value::uint64(uint64_t(INT64_MAX) + 1)},
      {"whole real stays real", Value(5.0)},
      {"reals", Value(Array{Value(0.1), Value(-2.5e-310), Value(1e300), Value(1.0 / 3)})},
      {"booleans", Value(Array{Value(true), Value(false)})},
      {"empty string", Value("")},
      {"unicode", Value("h\xC3\xA9llo \xF0\x9F\x98\x80 \xE2\x82\xAC")},
      {"markup characters", Value("<a href=\"x\">&amp;</a> ]]> '")},
      {"whitespace kept", Value("  two\nlines\t ")},
      {"empty data", Value(Data{})},
      {"data", Value(Data{0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xFF, 0x7F})},
      {"date", Value(Date{600000000})},
      {"date before 2001", Value(Date{-86400 * 365.0})},
      {"date after 2038", Value(Date{1.5e9})},
      {"uid", Value(Uid{42})},
      {"empty dictionary", Value(Dict{})},
      {"empty array", Value(Array{})},
      {"nested", Value(Dict{{"a", Value(Array{Value(Dict{{"b", Value(Array{})}}), Value(Dict{})})},
                            {"", Value("empty key")},
                            {"k\xC3\xA9y", Value::uint32(7)}})},
      {"long strings", Value(Array{Value(std::string(300, 'x')), Value(std::string(70000, 'y'))})},
  };
}

class FormatRoundTrip : public ::testing::TestWithParam<Format> {};

TEST_P(FormatRoundTrip, KeepsEveryValueAndType) {
  for (const auto& [name, v] : roundTripTable()) {
    SCOPED_TRACE(name);
    Data bytes = write(v, GetParam());
    ReadResult r = read(bytes);
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.format, GetParam());
    EXPECT_TRUE(sameTree(v, *r.value));
  }
}

INSTANTIATE_TEST_SUITE_P(XmlAndBinary, FormatRoundTrip, ::testing::Values(Format::Xml, Format::Binary),
                         [](const auto& info) { return info.param == Format::Xml ? std::string("Xml") : std::string("Binary"); });

TEST(PlistNumbers, UnsignedAndLargeIntegersReadBackAsWritten) {
  for (Format f : {Format::Xml, Format::Binary}) {
    ReadResult r = read(write(Value(Dict{{"u32", Value::uint32(0xFFFFFFFFu)}, {"u64", Value::uint64(UINT64_MAX)},
                                         {"neg", Value::int64(-1)}}),
                              f));
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.value->find("u32")->unsignedLongLongValue(), 4294967295u);
    EXPECT_EQ(r.value->find("u32")->longLongValue(), 4294967295);
    EXPECT_TRUE(r.value->find("u64")->isUnsignedInteger());
    EXPECT_EQ(r.value->find("u64")->unsignedLongLongValue(), UINT64_MAX);
    EXPECT_EQ(r.value->find("neg")->longLongValue(), -1);
    EXPECT_FALSE(r.value->find("neg")->isUnsignedInteger());
    EXPECT_NE(*r.value->find("u64"), *r.value->find("neg"));
  }
}

TEST(PlistBinary, KeepsDateFractionsAndFloatReals) {
  ReadResult r = readBinary(writeBinary(Value(Date{12.345678})));
  ASSERT_TRUE(r);
  EXPECT_EQ(r.value->asDate()->seconds, 12.345678);
  // A 4-byte real (as other writers produce): marker 0x22.
  Data single = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x22, 0x3F, 0xC0, 0x00, 0x00, 8};
  Data trailer(32, 0);
  trailer[6] = 1, trailer[7] = 1, trailer[15] = 1, trailer[31] = 13;
  single.insert(single.end(), trailer.begin(), trailer.end());
  ReadResult f = readBinary(single);
  ASSERT_TRUE(f) << f.error;
  EXPECT_EQ(f.value->doubleValue(), 1.5);
}

TEST(PlistBinary, WritesEqualStringsOnce) {
  Array many;
  for (int i = 0; i < 50; ++i) many.push_back(Value(Dict{{"SharedKeyName", Value("shared value text")}}));
  Data once = writeBinary(Value(many));
  // 50 dictionaries of two refs each, but the two strings appear once.
  EXPECT_LT(once.size(), 50u * 6 + 200);
  EXPECT_TRUE(readBinary(once));
}

// libplist, an independent implementation, reads what we write and we read what it writes.
TEST(PlistBinary, AgreesWithLibplist) {
  for (const auto& [name, v] : roundTripTable()) {
    SCOPED_TRACE(name);
    Data ours = writeBinary(v);
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(ours.data()), static_cast<uint32_t>(ours.size()), &node);
    PlistPtr owned(node);
    ASSERT_NE(node, nullptr);
    std::string error;
    auto back = fromPlist(node, &error);
    ASSERT_TRUE(back) << error;
    if (v.isDate()) {  // libplist keeps microseconds only
      EXPECT_NEAR(back->asDate()->seconds, v.asDate()->seconds, 1e-6);
    } else {
      EXPECT_TRUE(sameTree(v, *back));
    }

    char* theirs = nullptr;
    uint32_t n = 0;
    PlistPtr tree = toPlist(v);
    plist_to_bin(tree.get(), &theirs, &n);
    ASSERT_NE(theirs, nullptr);
    ReadResult r = readBinary({reinterpret_cast<const uint8_t*>(theirs), n});
    plist_to_bin_free(theirs);
    ASSERT_TRUE(r) << r.error;
    // libplist 2.2 writes 8-byte integers signed whatever the node, so UINT64_MAX comes
    // back as -1 from its bytes; everything else must match.
    if (!(v.isUnsignedInteger() && v.unsignedLongLongValue() > uint64_t(INT64_MAX)) && !v.isDate()) {
      EXPECT_TRUE(sameTree(v, *r.value));
    }
  }
}

std::vector<std::string> fixturePaths() {
  std::vector<std::string> out;
  std::string dir = std::string(VELMORA_SOURCE_RESOURCES) + "/devices";
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.size() > 6 && n.compare(n.size() - 6, 6, ".plist") == 0) out.push_back(dir + "/" + n);
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PlistFixtures, AllReadAndSurviveXmlBinaryXml) {
  auto paths = fixturePaths();
  ASSERT_GE(paths.size(), 10u);
  for (const auto& p : paths) {
    SCOPED_TRACE(p);
    ReadResult r = readFile(p);
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.format, Format::Xml);
    ASSERT_TRUE(r.value->isDict());
    EXPECT_TRUE(r.value->find("tree"));

    ReadResult bin = readBinary(writeBinary(*r.value));
    ASSERT_TRUE(bin) << bin.error;
    std::string xml = writeXml(*bin.value);
    ReadResult again = readXml(bytesOf(xml));
    ASSERT_TRUE(again) << again.error;
    EXPECT_TRUE(sameTree(*r.value, *again.value));

    // Our XML reader and libplist's agree on the fixture.
    std::ifstream in(p, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t node = nullptr;
    plist_from_xml(text.data(), static_cast<uint32_t>(text.size()), &node);
    PlistPtr owned(node);
    std::string error;
    auto theirs = fromPlist(node, &error);
    ASSERT_TRUE(theirs) << error;
    EXPECT_TRUE(sameTree(*r.value, *theirs));
  }
}

TEST(PlistXml, ReadsTheUsualDocumentShapes) {
  struct Case {
    const char* name;
    std::string text;
    Value expected;
  };
  const Case cases[] = {
      {"prolog, doctype and comments",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c -->\n"
       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
       "<plist version=\"1.0\"><dict><!-- inside --><key>a</key><integer> 12 </integer></dict></plist>\n",
       Value(Dict{{"a", Value(12)}})},
      {"bare root without plist element", "<array><true/><false/></array>", Value(Array{Value(true), Value(false)})},
      {"entities and CDATA", "<plist><string>&lt;&amp;&#65;&#x1F600;<![CDATA[<raw>&amp;]]></string></plist>",
       Value("<&A\xF0\x9F\x98\x80<raw>&amp;")},
      {"self-closing scalars", "<plist><array><string/><data/><dict/><array/></array></plist>",
       Value(Array{Value(""), Value(Data{}), Value(Dict{}), Value(Array{})})},
      {"hex integer and special reals",
       "<plist><array><integer>0x10</integer><integer>-0x10</integer><real>-inf</real><real>1E3</real></array></plist>",
       Value(Array{Value(16), Value(-16), Value(-HUGE_VAL), Value(1000.0)})},
      {"base64 across lines", "<plist><data>\n\tAAEC\n\tAw==\n</data></plist>", Value(Data{0, 1, 2, 3})},
      {"CF$UID dictionary is a UID", "<plist><dict><key>CF$UID</key><integer>9</integer></dict></plist>", Value(Uid{9})},
      {"date with fraction", "<plist><date>2001-01-01T00:00:01.5Z</date></plist>", Value(Date{1.5})},
      {"doctype subset declarations are ignored",
       "<!DOCTYPE plist [ <!ENTITY a \"x]>\"> ]><plist><string>ok</string></plist>", Value("ok")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReadResult r = readXml(bytesOf(c.text));
    ASSERT_TRUE(r) << r.error;
    EXPECT_TRUE(sameTree(c.expected, *r.value));
  }
}

std::string nested(const std::string& open, const std::string& close, int depth, const std::string& inner) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += open;
  s += inner;
  for (int i = 0; i < depth; ++i) s += close;
  return s;
}

struct Malformed {
  const char* name;
  std::string input;
  const char* error;  // a part of the expected message
};

void expectRejected(const Malformed& m, ReadResult (*reader)(const std::string&)) {
  SCOPED_TRACE(m.name);
  ReadResult r = reader(m.input);
  EXPECT_FALSE(r);
  EXPECT_NE(r.error.find(m.error), std::string::npos) << r.error;
  EXPECT_EQ(r.error.find('\n'), std::string::npos) << "error spans lines: " << r.error;
}

TEST(PlistXml, RejectsMalformedInputWithItsLine) {
  const Malformed cases[] = {
      {"empty", "", "no property list element"},
      {"unterminated", "<plist><array><string>a</string>", "line 1: unexpected end of input"},
      {"mismatched close", "<plist>\n<array>\n</dict></plist>", "line 3: expected </array>"},
      {"integer text", "<plist><integer>abc</integer></plist>", "malformed integer \"abc\""},
      {"integer overflow", "<plist><integer>18446744073709551616</integer></plist>", "malformed integer"},
      {"integer below int64", "<plist><integer>-9223372036854775809</integer></plist>", "malformed integer"},
      {"real text", "<plist><real>1.5x</real></plist>", "malformed real"},
      {"date text", "<plist><date>2001-02-30T00:00:00Z</date></plist>", "malformed date"},
      {"base64", "<plist><data>AA*=</data></plist>", "malformed base64"},
      {"key without value", "<plist><dict><key>a</key></dict></plist>", "key \"a\" has no value"},
      {"value without key", "<plist><dict><string>a</string></dict></plist>", "expected <key>"},
      {"unknown element", "<plist><set/></plist>", "unknown element <set>"},
      {"declared entity is not expanded",
       "<!DOCTYPE x [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;\">]><plist><string>&b;</string></plist>",
       "unknown entity &b;"},
      {"entity without ;", "<plist><string>a &amp b</string></plist>", "malformed entity reference"},
      {"character reference to NUL", "<plist><string>&#0;</string></plist>", "invalid character"},
      {"raw NUL", std::string("<plist><string>a\0b</string></plist>", 35), "NUL character"},
      {"invalid UTF-8", "<plist><string>\xC3\x28</string></plist>", "not valid UTF-8"},
      {"two roots", "<plist><true/></plist><plist/>", "content after the root"},
      {"two values in plist", "<plist><true/><true/></plist>", "expected </plist>"},
      {"unterminated comment", "<plist><!-- x </plist>", "unterminated comment"},
      {"unterminated CDATA", "<plist><string><![CDATA[x</string></plist>", "unterminated CDATA"},
      {"UTF-16", "\xFF\xFE<\0p\0", "UTF-16"},
      {"too deep", nested("<array>", "</array>", kMaxDepth + 1, ""), "nesting deeper than 256"},
  };
  for (const auto& m : cases) expectRejected(m, [](const std::string& s) { return readXml(bytesOf(s)); });
  // Exactly the limit is fine.
  EXPECT_TRUE(readXml(bytesOf(nested("<array>", "</array>", kMaxDepth, ""))));
}

// Builds "bplist00" bytes from raw objects with a consistent offset table and trailer;
// the tweak may then damage any part.
Data bplist(const std::vector<Data>& objects, uint64_t top = 0, uint8_t refSize = 1) {
  Data b = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<uint64_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(b.size());
    b.insert(b.end(), o.begin(), o.end());
  }
  uint64_t table = b.size();
  for (uint64_t o : offsets) {
    b.push_back(static_cast<uint8_t>(o >> 8));
    b.push_back(static_cast<uint8_t>(o));
  }
  Data t(32, 0);
  t[6] = 2;
  t[7] = refSize;
  for (int i = 0; i < 8; ++i) {
    t[8 + i] = static_cast<uint8_t>(uint64_t(objects.size()) >> (56 - 8 * i));
    t[16 + i] = static_cast<uint8_t>(top >> (56 - 8 * i));
    t[24 + i] = static_cast<uint8_t>(table >> (56 - 8 * i));
  }
  b.insert(b.end(), t.begin(), t.end());
  return b;
}

std::string str(const Data& d) { return std::string(d.begin(), d.end()); }

TEST(PlistBinary, ReadsHandBuiltFile) {
  // ["a", {"a": 1}] with the string shared.
  Data b = bplist({{0xA2, 1, 2}, {0x51, 'a'}, {0xD1, 1, 3}, {0x10, 1}});
  ReadResult r = readBinary(b);
  ASSERT_TRUE(r) << r.error;
  EXPECT_TRUE(sameTree(Value(Array{Value("a"), Value(Dict{{"a", Value(1)}})}), *r.value));
}

TEST(PlistBinary, RejectsMalformedInputWithItsOffset) {
  auto withTrailerByte = [](Data b, size_t fromEnd, uint8_t v) {
    b[b.size() - fromEnd] = v;
    return b;
  };
  Data ok = bplist({{0xA1, 1}, {0x10, 7}});
  Data deep;
  {
    std::vector<Data> objs;
    for (int i = 0; i < kMaxDepth + 1; ++i) objs.push_back({0xA1, 0x00, static_cast<uint8_t>(i + 1)});
    objs.push_back({0x10, 1});
    deep = bplist(objs, 0, 2);
  }
  // A chain of arrays each holding the next one twice: 2^40 leaves from a tiny file.
  Data bomb;
  {
    std::vector<Data> objs;
    for (int i = 0; i < 40; ++i) objs.push_back({0xA2, static_cast<uint8_t>(i + 1), static_cast<uint8_t>(i + 1)});
    objs.push_back({0x5F, 0x10, 100});
    objs.back().resize(103, 'z');
    bomb = bplist(objs);
  }
  const Malformed cases[] = {
      {"too short", "bplist00", "too short"},
      {"bad magic", str(withTrailerByte(ok, ok.size(), 'x')), "missing \"bplist00\""},
      {"offset size 0", str(withTrailerByte(ok, 26, 0)), "offset size 0 is not 1 to 8"},
      {"ref size 9", str(withTrailerByte(ok, 25, 9)), "reference size 9"},
      {"huge object count", str(withTrailerByte(ok, 21, 0x7F)), "does not fit the offset table"},
      {"no objects", str(withTrailerByte(ok, 17, 0)), "no objects"},
      {"top out of range", str(withTrailerByte(ok, 9, 5)), "top object 5 out of range"},
      {"offset table beyond the end", str(withTrailerByte(ok, 1, 0xF0)), "offset table position"},
      {"offset into the trailer", str(bplist({{0xA1, 1}, {0x10, 7}})).replace(12, 2, std::string("\x00\x40", 2)),
       "outside the object area"},
      {"reference out of range", str(bplist({{0xA1, 9}, {0x10, 7}})), "reference 9 out of range"},
      {"array contains itself", str(bplist({{0xA1, 0}})), "object 0 contains itself"},
      {"cycle through two objects", str(bplist({{0xA1, 1}, {0xD1, 2, 0}, {0x51, 'k'}})), "contains itself"},
      {"dictionary key not a string", str(bplist({{0xD1, 1, 1}, {0x10, 1}})), "dictionary key of type integer"},
      {"array longer than the file", str(bplist({{0xAF, 0x13, 0x7F, 0xFF, 0xFF, 0xFF}})), "runs past the object area"},
      {"string longer than the file", str(bplist({{0x5F, 0x10, 0xF0}})), "string runs past"},
      {"length not an integer", str(bplist({{0x5F, 0x51, 'a'}})), "length is not an integer"},
      {"integer of 32 bytes", str(bplist({{0x15, 0}})), "integer of 2^5 bytes"},
      {"128-bit integer too large",
       str(bplist({{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}})), "128-bit integer out of range"},
      {"unknown marker", str(bplist({{0x70}})), "unknown marker 'p'"},
      {"truncated", str(ok).substr(0, ok.size() - 1), "offset size 0"},
      {"too deep", str(deep), "nesting deeper than 256"},
      {"shared objects expand without bound", str(bomb), "expand beyond"},
  };
  for (const auto& m : cases) expectRejected(m, [](const std::string& s) { return readBinary(bytesOf(s)); });
}

TEST(PlistOpenStep, ReadsTheGrammar) {
  struct Case {
    const char* name;
    std::string text;
    Value expected;
  };
  const Case cases[] = {
      {"dictionary with trailing ;", "{ a = b; c = \"d e\"; }", Value(Dict{{"a", Value("b")}, {"c", Value("d e")}})},
      {"last ; left out", "{ a = b; c = d }", Value(Dict{{"a", Value("b")}, {"c", Value("d")}})},
      {"array with trailing comma", "( a, \"b\", )", Value(Array{Value("a"), Value("b")})},
      {"empty containers", "{ x = (); y = {}; }", Value(Dict{{"x", Value(Array{})}, {"y", Value(Dict{})}})},
      {"bare string characters", "$bare_1:/path.-+x", Value("$bare_1:/path.-+x")},
      {"escapes", R"("a\nb\tc\"d\\e\101\U00e9\U20AC")", Value("a\nb\tc\"d\\eA\xC3\xA9\xE2\x82\xAC")},
      {"surrogate pair escape", R"("\UD83D\UDE00")", Value("\xF0\x9F\x98\x80")},
      {"single quotes", R"('it\'s "x"')", Value("it's \"x\"")},
      {"data with spaces", "<0011aabb ccdd\n ee>", Value(Data{0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE})},
      {"empty data", "<>", Value(Data{})},
      {"comments", "// head\n{ /* a */ a /* b */ = // c\n b; }", Value(Dict{{"a", Value("b")}})},
      {"strings table", "/* t */\n\"OK\" = \"Okay\";\n\"Cancel\" = \"Abbrechen\";\n",
       Value(Dict{{"OK", Value("Okay")}, {"Cancel", Value("Abbrechen")}})},
      {"strings table, last ; left out, bare key", "a = \"b\"", Value(Dict{{"a", Value("b")}})},
      {"strings table key alone", "\"Same\";", Value(Dict{{"Same", Value("Same")}})},
      {"empty text is an empty table", " // nothing\n", Value(Dict{})},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF{a=b;}", Value(Dict{{"a", Value("b")}})},
      {"UTF-16 strings table", std::string("\xFF\xFE\"\0k\0\"\0=\0\"\0\xE9\0\"\0;\0", 18), Value(Dict{{"k", Value("\xC3\xA9")}})},
      {"raw UTF-8 in quotes", "\"\xE2\x82\xAC\"", Value("\xE2\x82\xAC")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReadResult r = readOpenStep(c.text);
    ASSERT_TRUE(r) << r.error;
    EXPECT_TRUE(sameTree(c.expected, *r.value));
  }
}

TEST(PlistOpenStep, RejectsMalformedInputWithItsLine) {
  const Malformed cases[] = {
      {"unterminated string", "{ a = \"b; }", "line 1: unterminated string"},
      {"missing =", "{\n a b; }", "line 2: expected '=' after key \"a\""},
      {"missing ; between entries", "{ a = b c = d; }", "expected ';' after a dictionary entry"},
      {"key with a line break stays one line", "{ \"a\nb\" c }", "after key \"a?b\""},
      {"unterminated dictionary", "{ a = b;", "unterminated dictionary"},
      {"unterminated array", "( a, b", "unterminated array"},
      {"missing comma", "( a b )", "expected ',' or ')'"},
      {"odd hex digits", "<001>", "odd number of hex digits"},
      {"bad data byte", "<00zz>", "unexpected 'z' in data"},
      {"unterminated data", "<0011", "unterminated data"},
      {"unterminated comment", "{ a = b; /* x", "unterminated comment"},
      {"content after root", "( a ) ( b )", "content after the root value"},
      {"bad key", "{ = b; }", "expected a key"},
      {"missing value", "{ a = ; }", "expected a value"},
      {"\\U without digits", R"("\Uzz")", "\\U without hex digits"},
      {"invalid UTF-8", "\"\xC3\x28\"", "not valid UTF-8"},
      {"strings table without ;", "\"a\" = \"b\" \"c\" = \"d\";", "expected ';'"},
      {"odd UTF-16", std::string("\xFF\xFE\"", 3), "odd number of bytes"},
      {"too deep", nested("(", ")", kMaxDepth + 1, ""), "nesting deeper than 256"},
  };
  for (const auto& m : cases) expectRejected(m, [](const std::string& s) { return readOpenStep(s); });
  EXPECT_TRUE(readOpenStep(nested("(", ")", kMaxDepth, "")));
}

TEST(PlistOpenStep, WritesScalarsAsStringsAndQuotesWhenNeeded) {
  Value v(Dict{{"yes", Value(true)},
               {"no", Value(false)},
               {"n", Value(-12)},
               {"u", Value::uint64(UINT64_MAX)},
               {"r", Value(0.5)},
               {"d", Value(Date{0})},
               {"s", Value("two words")},
               {"bare", Value("a.b/c")},
               {"comment-like", Value("a//b")},
               {"e", Value("")},
               {"ctl", Value(std::string("\x01\n\"\\", 4))},
               {"data", Value(Data{1, 2, 3, 4, 5})}});
  std::string text = writeOpenStep(v);
  EXPECT_NE(text.find("yes = YES;"), std::string::npos) << text;
  EXPECT_NE(text.find("no = NO;"), std::string::npos);
  EXPECT_NE(text.find("u = 18446744073709551615;"), std::string::npos);
  EXPECT_NE(text.find("d = \"2001-01-01 00:00:00 +0000\";"), std::string::npos);
  EXPECT_NE(text.find("data = <01020304 05>;"), std::string::npos);
  EXPECT_NE(text.find("bare = a.b/c;"), std::string::npos);
  EXPECT_NE(text.find("comment-like = \"a//b\";"), std::string::npos) << text;
  ReadResult r = readOpenStep(text);
  ASSERT_TRUE(r) << r.error;
  EXPECT_EQ(*r.value->find("yes"), Value("YES"));
  EXPECT_EQ(*r.value->find("n"), Value("-12"));
  EXPECT_EQ(*r.value->find("r"), Value("0.5"));
  EXPECT_EQ(*r.value->find("e"), Value(""));
  EXPECT_EQ(*r.value->find("ctl"), Value(std::string("\x01\n\"\\", 4)));
  EXPECT_EQ(*r.value->find("s"), Value("two words"));
  EXPECT_EQ(*r.value->find("data"), Value(Data{1, 2, 3, 4, 5}));
}

TEST(PlistOpenStep, RoundTripsStringTrees) {
  Value v(Dict{{"list", Value(Array{Value("a"), Value(Array{}), Value(Dict{{"k", Value("\xE2\x82\xAC x")}})})},
               {"data", Value(Data{})},
               {"key with space", Value("v")}});
  ReadResult r = readOpenStep(writeOpenStep(v));
  ASSERT_TRUE(r) << r.error;
  EXPECT_TRUE(sameTree(v, *r.value));
}

TEST(PlistRead, DetectsTheFormatByContent) {
  EXPECT_EQ(read(writeBinary(Value(1))).format, Format::Binary);
  EXPECT_EQ(read(std::string_view("  <?xml version=\"1.0\"?><plist><true/></plist>")).format, Format::Xml);
  EXPECT_EQ(read(std::string_view("<dict/>")).format, Format::Xml);
  ReadResult data = read(std::string_view("<0011 aabb>"));
  ASSERT_TRUE(data) << data.error;
  EXPECT_EQ(data.format, Format::OpenStep);
  EXPECT_EQ(*data.value, Value(Data{0x00, 0x11, 0xAA, 0xBB}));
  EXPECT_EQ(read(std::string_view("{ a = b; }")).format, Format::OpenStep);
  // A root string that starts like the binary magic is quoted, so it reads back as text.
  ReadResult s = read(writeOpenStep(Value("bplist00")));
  ASSERT_TRUE(s) << s.error;
  EXPECT_EQ(*s.value, Value("bplist00"));
}

TEST(PlistRead, RefusesInputOverTheSizeLimit) {
  std::string big(kMaxInputBytes + 1, ' ');
  for (ReadResult r : {readXml(bytesOf(big)), readBinary(bytesOf(big)), readOpenStep(big)}) {
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find("larger than"), std::string::npos) << r.error;
  }
}

class PlistFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/plist_files_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    for (const auto& e : entries()) unlink((dir_ + "/" + e).c_str());
    rmdir(dir_.c_str());
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    DIR* d = opendir(dir_.c_str());
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) out.push_back(e->d_name);
    closedir(d);
    return out;
  }
  std::string dir_;
};

TEST_F(PlistFiles, WriteReplacesAtomicallyAndKeepsTheMode) {
  std::string path = dir_ + "/settings.plist";
  std::string error;
  ASSERT_TRUE(writeFileAtomic(path, writeBinary(Value(1)), &error)) << error;
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(writeFileAtomic(path, writeBinary(Value("second")), &error)) << error;
  ReadResult r = readFile(path);
  ASSERT_TRUE(r) << r.error;
  EXPECT_EQ(*r.value, Value("second"));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(entries(), std::vector<std::string>{"settings.plist"});  // no temporary left
}

TEST_F(PlistFiles, ErrorsNameTheFile) {
  std::string error;
  EXPECT_FALSE(writeFileAtomic(dir_ + "/missing/x.plist", Data{1}, &error));
  EXPECT_NE(error.find(dir_ + "/missing/x.plist"), std::string::npos) << error;

  ReadResult missing = readFile(dir_ + "/nope.plist");
  EXPECT_FALSE(missing);
  EXPECT_NE(missing.error.find("nope.plist"), std::string::npos);

  std::string bad = dir_ + "/bad.plist";
  std::ofstream(bad) << "{ a = ";
  ReadResult r = readFile(bad);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.error.rfind(bad + ": OpenStep property list, line 1:", 0), 0u) << r.error;

  ReadResult folder = readFile(dir_);
  EXPECT_FALSE(folder);
  EXPECT_NE(folder.error.find("is a folder"), std::string::npos);
}

TEST_F(PlistFiles, RefusesFilesOverTheSizeLimitWithoutReadingThemWhole) {
  std::string path = dir_ + "/huge.plist";
  int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kMaxInputBytes) * 4), 0);  // sparse
  close(fd);
  ReadResult r = readFile(path);
  EXPECT_FALSE(r);
  EXPECT_NE(r.error.find("larger than"), std::string::npos) << r.error;
}

TEST_F(PlistFiles, OnlyRegularFilesAreReadAndNothingBlocks) {
  // A FIFO without a writer would block open() for good; a socket cannot be opened at all.
  std::string fifo = dir_ + "/system.plist";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ReadResult r = readFile(fifo);
  EXPECT_FALSE(r);
  EXPECT_NE(r.error.find("pipe (FIFO)"), std::string::npos) << r.error;
  std::string bytes;
  FileReadResult raw = readRegularFile(fifo, 100, &bytes);
  EXPECT_EQ(raw.status, FileReadStatus::NotRegular);

  std::string link = dir_ + "/loop";
  ASSERT_EQ(symlink(link.c_str(), link.c_str()), 0);
  raw = readRegularFile(link, 100, &bytes);
  EXPECT_EQ(raw.status, FileReadStatus::Failed);
  EXPECT_NE(raw.error.find("symbolic links"), std::string::npos) << raw.error;
  EXPECT_EQ(readRegularFile(dir_ + "/" + std::string(300, 'n'), 100, &bytes).errorNumber, ENAMETOOLONG);
  EXPECT_EQ(readRegularFile(dir_ + "/absent", 100, &bytes).status, FileReadStatus::Missing);

  // The limit is exact: at the limit the file is read, one byte more and it is refused.
  std::string small = dir_ + "/small";
  std::ofstream(small) << std::string(100, 'x');
  EXPECT_TRUE(readRegularFile(small, 100, &bytes));
  EXPECT_EQ(bytes.size(), 100u);
  raw = readRegularFile(small, 99, &bytes);
  EXPECT_EQ(raw.status, FileReadStatus::TooLarge);
  EXPECT_TRUE(bytes.empty());
}

TEST(PlistRead, CompactTextCannotBuildValuesFarBeyondItsSize) {
  // Two bytes per value: far more memory than the text; refused once past the budget.
  std::string compact = "(" + std::string(3u * 1024 * 1024, 'a');
  for (size_t i = 2; i < compact.size(); i += 2) compact[i] = ',';
  compact += ")";
  ReadResult r = readOpenStep(compact);
  EXPECT_FALSE(r);
  EXPECT_NE(r.error.find("values expand beyond"), std::string::npos) << r.error;
  // The same number of values in a text that says more per value is fine, as are dictionaries
  // of ordinary size.
  std::string words = "(";
  for (int i = 0; i < 50000; ++i) words += (i ? ",\"a longer value of text\"" : "\"a longer value of text\"");
  words += ")";
  ReadResult ok = readOpenStep(words);
  ASSERT_TRUE(ok) << ok.error;
  EXPECT_EQ(ok.value->asArray()->size(), 50000u);
  std::string table;
  for (int i = 0; i < 20000; ++i) table += "\"key " + std::to_string(i) + "\" = \"value\";\n";
  ReadResult strings = readOpenStep(table);
  ASSERT_TRUE(strings) << strings.error;
  EXPECT_EQ(strings.value->asDict()->size(), 20000u);
}

}  // namespace
}  // namespace pl
