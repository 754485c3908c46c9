// Record values and links written as table rows: which columns a row has, and what each kind of
// value becomes in its column, read back through SQL so the file's form is what is checked.
#include <gtest/gtest.h>

#include "core/plist/codec.h"
#include "core/store/row_mapping.h"

namespace vl {
namespace {

// Every attribute type, a to-many relationship between two to-one ones (which must not get a
// column, and must not shift the link columns).
const EntityDesc kEntity{EntityKind::Device,
                         "Thing",
                         {{"count", AttrType::Integer},
                          {"vid", AttrType::UInt32},
                          {"on", AttrType::Boolean},
                          {"name", AttrType::String},
                          {"changed", AttrType::Date},
                          {"info", AttrType::Dict},
                          {"bytes", AttrType::Data},
                          {"any", AttrType::Any}},
                         {{"owner", EntityKind::Device, false, "things"},
                          {"things", EntityKind::Device, true, "owner"},
                          {"group", EntityKind::Application, false, "members"}}};

class RowMapping : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(db.open(":memory:", sqlite::Database::Mode::ReadWriteCreate));
    ASSERT_TRUE(db.exec("CREATE TABLE \"Thing\" (\"_pk\" INTEGER PRIMARY KEY, \"count\", \"vid\", \"on\", \"name\", "
                        "\"changed\", \"info\", \"bytes\", \"any\", \"owner\", \"group\")"));
  }
  bool write(const std::string& sql, const std::vector<pl::Value>& values,
             const std::vector<std::optional<int64_t>>& links, std::optional<int64_t> pk = std::nullopt) {
    sqlite::Statement s = db.prepare(sql);
    if (!s.valid() || !rowmap::bindRow(s, kEntity, layout, values, links)) return false;
    if (pk && !s.bindInt(static_cast<int>(layout.columns.size() + 1), *pk)) return false;
    return s.step() == sqlite::Statement::Step::Done;
  }
  // "typeof:value" of one column of the row with that row id.
  std::string column(int64_t pk, const char* name) {
    sqlite::Statement s = db.prepare("SELECT typeof(" + sqlite::quoteIdentifier(name) + ") || ':' || coalesce(quote(" +
                                     sqlite::quoteIdentifier(name) + "), '') FROM \"Thing\" WHERE \"_pk\" = " +
                                     std::to_string(pk));
    if (!s.valid() || s.step() != sqlite::Statement::Step::Row) return "(no row)";
    return std::string(s.columnText(0));
  }
  pl::Value blobColumn(int64_t pk, const char* name) {
    sqlite::Statement s = db.prepare("SELECT " + sqlite::quoteIdentifier(name) + " FROM \"Thing\" WHERE \"_pk\" = " +
                                     std::to_string(pk));
    if (!s.valid() || s.step() != sqlite::Statement::Step::Row) return {};
    pl::ReadResult r = pl::readBinary(s.columnBlob(0));
    return r ? *r.value : pl::Value();
  }

  sqlite::Database db;
  rowmap::RowLayout layout = rowmap::rowLayout(kEntity);
};

TEST_F(RowMapping, AttributesThenToOneLinksNoToMany) {
  std::vector<std::string> names(layout.columns.begin(), layout.columns.end());
  EXPECT_EQ(names, (std::vector<std::string>{"count", "vid", "on", "name", "changed", "info", "bytes", "any", "owner",
                                             "group"}));
  EXPECT_EQ(layout.toOneRelationships, (std::vector<size_t>{0, 2}));
}

TEST_F(RowMapping, EachValueKindTakesItsColumnForm) {
  pl::Dict info;
  info["k"] = pl::Value::int32(7);
  std::vector<pl::Value> values{pl::Value::int64(-5),
                                pl::Value::uint32(0xFFFFFFFFu),  // not -1: identity values are unsigned
                                pl::Value(true),
                                pl::Value(std::string("Magic Mouse")),
                                pl::Value(pl::Date{12.5}),
                                pl::Value(info),
                                pl::Value(pl::Data{1, 2, 3}),
                                pl::Value(pl::Array{pl::Value(std::string("x"))})};
  ASSERT_TRUE(write(rowmap::insertSql(kEntity, layout), values, {42, std::nullopt}));
  int64_t pk = db.lastInsertRowid();
  struct Case {
    const char* column;
    const char* want;
  } cases[] = {
      {"count", "integer:-5"},     {"vid", "integer:4294967295"}, {"on", "integer:1"},
      {"name", "text:'Magic Mouse'"}, {"changed", "real:12.5"},   {"bytes", "blob:X'010203'"},
      {"owner", "integer:42"},     {"group", "null:NULL"},
  };
  for (const auto& c : cases) EXPECT_EQ(column(pk, c.column), c.want) << c.column;
  // Dictionaries and other property-list values are kept as binary property lists.
  EXPECT_EQ(blobColumn(pk, "info"), pl::Value(info));
  EXPECT_EQ(blobColumn(pk, "any"), values[7]);
}

TEST_F(RowMapping, NullAndWrongKindValuesBecomeNull) {
  std::vector<pl::Value> values(kEntity.attributes.size());  // all null
  values[3] = pl::Value::int32(5);                          // a number in a text column
  values[4] = pl::Value(std::string("yesterday"));          // text in a date column
  values[6] = pl::Value(std::string("abc"));                // text in a data column
  ASSERT_TRUE(write(rowmap::insertSql(kEntity, layout), values, {std::nullopt, std::nullopt}));
  int64_t pk = db.lastInsertRowid();
  for (const char* c : {"count", "vid", "on", "name", "changed", "info", "bytes", "any", "owner", "group"})
    EXPECT_EQ(column(pk, c), "null:NULL") << c;
}

TEST_F(RowMapping, UpdateRewritesEveryColumnOfThatRowOnly) {
  std::vector<pl::Value> first(kEntity.attributes.size()), second(kEntity.attributes.size());
  first[0] = pl::Value::int64(1);
  second[0] = pl::Value::int64(2);
  ASSERT_TRUE(write(rowmap::insertSql(kEntity, layout), first, {7, 8}));
  int64_t a = db.lastInsertRowid();
  ASSERT_TRUE(write(rowmap::insertSql(kEntity, layout), first, {7, 8}));
  int64_t b = db.lastInsertRowid();
  ASSERT_TRUE(write(rowmap::updateSql(kEntity, layout, "_pk"), second, {std::nullopt, 9}, b));
  EXPECT_EQ(column(a, "count"), "integer:1");
  EXPECT_EQ(column(a, "owner"), "integer:7");
  EXPECT_EQ(column(b, "count"), "integer:2");
  EXPECT_EQ(column(b, "owner"), "null:NULL");
  EXPECT_EQ(column(b, "group"), "integer:9");
}

TEST_F(RowMapping, RefusesValuesThatDoNotFitTheLayout) {
  sqlite::Statement s = db.prepare(rowmap::insertSql(kEntity, layout));
  std::vector<pl::Value> tooFew(kEntity.attributes.size() - 1);
  std::vector<pl::Value> right(kEntity.attributes.size());
  EXPECT_FALSE(rowmap::bindRow(s, kEntity, layout, tooFew, {1, 2}));
  EXPECT_FALSE(rowmap::bindRow(s, kEntity, layout, right, {1}));
  EXPECT_TRUE(rowmap::bindRow(s, kEntity, layout, right, {1, 2}));
}

}  // namespace
}  // namespace vl
