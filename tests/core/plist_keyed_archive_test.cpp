// Keyed archive: the archiver's layout, round trips through binary bytes, the mutable class
// names, and the archives the unarchiver must refuse.
#include <gtest/gtest.h>

#include <climits>

#include "core/plist/codec.h"
#include "core/plist/keyed_archive.h"

namespace pl {
namespace {

const Array& objectsOf(const Value& a) { return *a.arrayFor("$objects"); }

const Value& deref(const Value& a, const Value& uid) { return objectsOf(a).at(uid.asUid()->index); }

TEST(KeyedArchive, WritesThePlatformLayout) {
  Value root(Dict{{"Version", Value(1.1)},
                  {"Type", Value("Device")},
                  {"Content", Value(Array{Value(Dict{{"Type", Value("x")}}), Value(Dict{})})},
                  {"Creation Date", Value(Date{86400.5})},
                  {"Flag", Value(true)},
                  {"Blob", Value(Data{1, 2})}});
  Value a = archive(root);
  EXPECT_EQ(*a.find("$version"), Value(100000));
  EXPECT_EQ(*a.find("$archiver"), Value("NSKeyedArchiver"));
  EXPECT_EQ(*a.dictFor("$top")->at("root").asUid(), Uid{1});
  const Array& objs = objectsOf(a);
  EXPECT_EQ(objs[0], Value("$null"));

  const Value& top = objs[1];
  auto cls = [&](const Value& o) { return deref(a, *o.find("$class")).stringFor("$classname").value_or("?"); };
  EXPECT_EQ(cls(top), "NSDictionary");
  EXPECT_EQ(*deref(a, *top.find("$class")).find("$classes"), Value(Array{Value("NSDictionary"), Value("NSObject")}));
  const Array& keys = *top.arrayFor("NS.keys");
  const Array& vals = *top.arrayFor("NS.objects");
  ASSERT_EQ(keys.size(), 6u);
  ASSERT_EQ(vals.size(), 6u);
  int classObjects = 0, typeStrings = 0;
  for (const auto& o : objs) {
    if (o.find("$classname")) ++classObjects;
    if (o == Value("Type")) ++typeStrings;
  }
  EXPECT_EQ(classObjects, 3);  // NSDictionary, NSArray, NSDate: each written once
  EXPECT_EQ(typeStrings, 1);   // the key "Type" of both dictionaries is one object

  for (size_t i = 0; i < keys.size(); ++i) {
    const Value& k = deref(a, keys[i]);
    const Value& v = deref(a, vals[i]);
    if (k == Value("Version")) {
      EXPECT_TRUE(v.isReal() && v.doubleValue() == 1.1);  // inline
    }
    if (k == Value("Flag")) {
      EXPECT_TRUE(v.isBool());
    }
    if (k == Value("Blob")) {
      EXPECT_EQ(v, Value(Data{1, 2}));
    }
    if (k == Value("Creation Date")) {
      EXPECT_EQ(cls(v), "NSDate");
      EXPECT_EQ(*v.find("NS.time"), Value(86400.5));
    }
    if (k == Value("Content")) {
      EXPECT_EQ(cls(v), "NSArray");
      EXPECT_EQ(v.arrayFor("NS.objects")->size(), 2u);
    }
  }
}

TEST(KeyedArchive, RoundTripsThroughBinaryBytes) {
  const Value cases[] = {
      Value(Dict{{"Version", Value(1.1)},
                 {"Type", Value("Device")},
                 {"Content", Value(Array{Value(Dict{{"vid", Value::uint32(0xFFFFFFFFu)}, {"name", Value("M\xC3\xA9")}})})},
                 {"Creation Date", Value(Date{-3.25})}}),
      Value("root string"),
      Value(Array{}),
      Value(Dict{}),
      Value(Array{Value(Array{Value(Array{Value(1), Value(Data{})})}), Value::uint64(UINT64_MAX), Value::int64(INT64_MIN)}),
      Value(Array{Value("same"), Value("same"), Value(false)}),
      Value(Array{Value(), Value(1)}),  // $null inside a container
      Value(),
  };
  for (const auto& v : cases) {
    SCOPED_TRACE(v.describe());
    Data bytes = archivedData(v);
    ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "bplist00");
    std::string error;
    auto back = unarchiveData(bytes, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, v);
    EXPECT_EQ(back->type(), v.type());
  }
}

// Hand-built archive: $objects given, root UID 1.
Value archiveOf(Array objects, Value version = Value(100000), Value archiver = Value("NSKeyedArchiver")) {
  return Value(Dict{{"$version", std::move(version)},
                    {"$archiver", std::move(archiver)},
                    {"$top", Value(Dict{{"root", Value(Uid{1})}})},
                    {"$objects", Value(std::move(objects))}});
}

Value classObject(const char* name) {
  return Value(Dict{{"$classname", Value(name)}, {"$classes", Value(Array{Value(name), Value("NSObject")})}});
}

Value uid(uint64_t i) { return Value(Uid{i}); }

TEST(KeyedArchive, AcceptsTheMutableClasses) {
  Value a = archiveOf({
      Value("$null"),
      Value(Dict{{"NS.keys", Value(Array{uid(2), uid(3)})}, {"NS.objects", Value(Array{uid(4), uid(6)})}, {"$class", uid(9)}}),
      Value("list"),
      Value("text"),
      Value(Dict{{"NS.objects", Value(Array{uid(5), uid(7)})}, {"$class", uid(10)}}),
      Value(Dict{{"NS.data", Value(Data{7})}, {"$class", uid(11)}}),
      Value(Dict{{"NS.string", Value("mutable")}, {"$class", uid(8)}}),
      Value(Dict{{"NS.time", Value(10)}, {"$class", uid(12)}}),
      classObject("NSMutableString"),
      classObject("NSMutableDictionary"),
      classObject("NSMutableArray"),
      classObject("NSMutableData"),
      classObject("NSDate"),
  });
  std::string error;
  auto v = unarchive(a, &error);
  ASSERT_TRUE(v) << error;
  EXPECT_EQ(*v, Value(Dict{{"list", Value(Array{Value(Data{7}), Value(Date{10})})}, {"text", Value("mutable")}}));
}

TEST(KeyedArchive, RefusesBrokenArchives) {
  auto dict = [](Array keys, Array vals, uint64_t cls) {
    return Value(Dict{{"NS.keys", Value(std::move(keys))}, {"NS.objects", Value(std::move(vals))}, {"$class", uid(cls)}});
  };
  auto array = [](Array vals, uint64_t cls) { return Value(Dict{{"NS.objects", Value(std::move(vals))}, {"$class", uid(cls)}}); };
  // 300 arrays, each holding the next.
  Array deep{Value("$null")};
  for (int i = 1; i <= 300; ++i) deep.push_back(array({uid(static_cast<uint64_t>(i + 1))}, 302));
  deep.push_back(Value(1));
  deep.push_back(classObject("NSArray"));
  // 40 arrays each holding the next twice: 2^40 leaves.
  Array bomb{Value("$null")};
  for (int i = 1; i <= 40; ++i) bomb.push_back(array({uid(static_cast<uint64_t>(i + 1)), uid(static_cast<uint64_t>(i + 1))}, 42));
  bomb.push_back(Value(std::string(1000, 'z')));
  bomb.push_back(classObject("NSArray"));

  struct Case {
    const char* name;
    Value archive;
    const char* error;
  };
  const Case cases[] = {
      {"not a dictionary", Value(Array{}), "not a dictionary"},
      {"wrong archiver", archiveOf({Value("$null"), Value(1)}, Value(100000), Value("Other")), "$archiver"},
      {"wrong version", archiveOf({Value("$null"), Value(1)}, Value(99)), "$version is not 100000"},
      {"no $null first", archiveOf({Value("x"), Value(1)}), "does not begin with \"$null\""},
      {"root out of range", archiveOf({Value("$null")}), "UID 1 out of range (1 objects)"},
      {"member out of range", archiveOf({Value("$null"), array({uid(7)}, 2), classObject("NSArray")}), "UID 7 out of range"},
      {"array contains itself", archiveOf({Value("$null"), array({uid(1)}, 2), classObject("NSArray")}), "object 1 contains itself"},
      {"cycle through a dictionary",
       archiveOf({Value("$null"), array({uid(2)}, 3), dict({uid(4)}, {uid(1)}, 5), classObject("NSArray"), Value("k"),
                  classObject("NSDictionary")}),
       "contains itself"},
      {"too deep", archiveOf(deep), "nesting deeper than 256"},
      {"unknown class", archiveOf({Value("$null"), array({}, 2), classObject("NSURL")}), "(NSURL): unknown class"},
      {"no $class", archiveOf({Value("$null"), Value(Dict{{"NS.objects", Value(Array{})}})}), "has no $class"},
      {"class without name", archiveOf({Value("$null"), array({}, 2), Value(Dict{})}), "has no $classname"},
      {"NS.keys not an array",
       archiveOf({Value("$null"), Value(Dict{{"NS.keys", Value(1)}, {"NS.objects", Value(Array{})}, {"$class", uid(2)}}),
                  classObject("NSDictionary")}),
       "lacks the array NS.keys"},
      {"keys and objects differ in count",
       archiveOf({Value("$null"), dict({uid(3)}, {}, 2), classObject("NSDictionary"), Value("k")}), "1 keys but 0 objects"},
      {"key not a string",
       archiveOf({Value("$null"), dict({uid(3)}, {uid(3)}, 2), classObject("NSDictionary"), Value(5)}), "key of type integer"},
      {"member not a UID", archiveOf({Value("$null"), array({Value(3)}, 2), classObject("NSArray")}), "expected a UID"},
      {"bare array object", archiveOf({Value("$null"), Value(Array{})}), "object 1 is a bare array"},
      {"NSString without text",
       archiveOf({Value("$null"), Value(Dict{{"$class", uid(2)}}), classObject("NSMutableString")}), "no string NS.string"},
      {"NSDate with a string time",
       archiveOf({Value("$null"), Value(Dict{{"NS.time", Value("x")}, {"$class", uid(2)}}), classObject("NSDate")}),
       "no number NS.time"},
      {"shared objects expand without bound", archiveOf(bomb), "expand beyond"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(unarchive(c.archive, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(error.rfind("keyed archive: ", 0), 0u) << error;
  }
}

TEST(KeyedArchive, UnarchiveDataReportsBinaryErrors) {
  std::string error;
  Data junk = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2, 3};
  EXPECT_FALSE(unarchiveData(junk, &error));
  EXPECT_NE(error.find("binary property list"), std::string::npos) << error;
}

}  // namespace
}  // namespace pl
