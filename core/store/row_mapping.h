// How a record's attribute values and to-one links map onto the columns of its entity's table
// row, and the statements that write such rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/plist/value.h"
#include "core/store/sqlite_db.h"
#include "core/store/store_model.h"

namespace vl::rowmap {

// The columns a row is written with: every attribute in model order, then one column per to-one
// relationship holding the row id of the record it points to (to-many ones have no column: the
// other side's to-one column says it).
struct RowLayout {
  std::vector<const char*> columns;
  std::vector<size_t> toOneRelationships;  // relationship indexes, in column order
};

RowLayout rowLayout(const EntityDesc& e);

// "INSERT INTO entity (columns...) VALUES (?, ...)".
std::string insertSql(const EntityDesc& e, const RowLayout& layout);
// "UPDATE entity SET column = ?, ... WHERE pkColumn = ?": the row id is the last parameter.
std::string updateSql(const EntityDesc& e, const RowLayout& layout, const char* pkColumn);

// Binds one value as parameter i in the column form of attribute type t; null binds NULL, and so
// does a value of the wrong kind for a text, date or data column.
bool bindValue(sqlite::Statement& s, int i, AttrType t, const pl::Value& v);

// Binds a record's values and link row ids (none: the link is unset or its record has no row)
// as parameters 1...layout.columns.size(). values holds one per attribute; links one per
// entry of layout.toOneRelationships.
bool bindRow(sqlite::Statement& s, const EntityDesc& e, const RowLayout& layout, const std::vector<pl::Value>& values,
             const std::vector<std::optional<int64_t>>& links);

}  // namespace vl::rowmap
