// Record values and links <-> the columns of a table row: the layout, the write statements and
// the parameter bindings.
#include "core/store/row_mapping.h"

#include "core/plist/codec.h"

namespace vl::rowmap {

RowLayout rowLayout(const EntityDesc& e) {
  RowLayout l;
  for (const auto& a : e.attributes) l.columns.push_back(a.name);
  for (size_t r = 0; r < e.relationships.size(); ++r)
    if (!e.relationships[r].toMany) {
      l.columns.push_back(e.relationships[r].name);
      l.toOneRelationships.push_back(r);
    }
  return l;
}

std::string insertSql(const EntityDesc& e, const RowLayout& layout) {
  std::string sql = "INSERT INTO " + sqlite::quoteIdentifier(e.name) + " (";
  std::string qs;
  for (size_t c = 0; c < layout.columns.size(); ++c) {
    sql += (c ? ", " : "") + sqlite::quoteIdentifier(layout.columns[c]);
    qs += c ? ", ?" : "?";
  }
  sql += ") VALUES (" + qs + ")";
  return sql;
}

std::string updateSql(const EntityDesc& e, const RowLayout& layout, const char* pkColumn) {
  std::string sql = "UPDATE " + sqlite::quoteIdentifier(e.name) + " SET ";
  for (size_t c = 0; c < layout.columns.size(); ++c)
    sql += (c ? ", " : "") + sqlite::quoteIdentifier(layout.columns[c]) + " = ?";
  sql += " WHERE " + sqlite::quoteIdentifier(pkColumn) + " = ?";
  return sql;
}

bool bindValue(sqlite::Statement& s, int i, AttrType t, const pl::Value& v) {
  if (v.isNull()) return s.bindNull(i);
  switch (t) {
    case AttrType::Integer: return s.bindInt(i, v.longLongValue());
    case AttrType::UInt32: return s.bindInt(i, static_cast<int64_t>(v.unsignedIntValue()));
    case AttrType::Boolean: return s.bindInt(i, v.boolValue() ? 1 : 0);
    case AttrType::String: return v.asString() ? s.bindText(i, *v.asString()) : s.bindNull(i);
    case AttrType::Date: return v.asDate() ? s.bindDouble(i, v.asDate()->seconds) : s.bindNull(i);
    case AttrType::Data: return v.asData() ? s.bindBlob(i, *v.asData()) : s.bindNull(i);
    case AttrType::Dict:
    case AttrType::Any: {
      pl::Data bytes = pl::writeBinary(v);
      return s.bindBlob(i, bytes);
    }
  }
  return s.bindNull(i);
}

bool bindRow(sqlite::Statement& s, const EntityDesc& e, const RowLayout& layout, const std::vector<pl::Value>& values,
             const std::vector<std::optional<int64_t>>& links) {
  if (values.size() != e.attributes.size() || links.size() != layout.toOneRelationships.size()) return false;
  int i = 1;
  for (size_t a = 0; a < e.attributes.size(); ++a, ++i)
    if (!bindValue(s, i, e.attributes[a].type, values[a])) return false;
  for (const auto& id : links) {
    if (!(id ? s.bindInt(i, *id) : s.bindNull(i))) return false;
    ++i;
  }
  return true;
}

}  // namespace vl::rowmap
