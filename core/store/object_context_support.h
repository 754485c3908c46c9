// Shared by the object context's files: error texts, path helpers and the table layout.
#pragma once

#include <optional>
#include <string>

#include "core/store/object_context.h"
#include "core/store/sqlite_db.h"
#include "core/store/store_model.h"

namespace vl::objctx {

inline constexpr const char* kNoSettingsText = "The settings file is damaged: it holds no settings.";
inline constexpr const char* kPkColumn = "_pk";

inline size_t ix(EntityKind k) { return static_cast<size_t>(k); }

ErrorInfo makeError(int64_t code, const std::string& text, const sqlite::Database* db = nullptr);
void fill(ErrorInfo* out, ErrorInfo e);
std::string folderOf(const std::string& path);
std::string baseOf(const std::string& path);
// A permission problem is told as one, with the path: calling it damage would send the user
// looking for the wrong fault.
std::optional<ErrorInfo> permissionError(const std::string& path, bool forWriting);
// The error for a store that could not be opened, read or written: a busy file and a denied
// permission are said as such; anything else is the caller's text (usually damage).
ErrorInfo storeError(const std::string& path, bool forWriting, const sqlite::Database& db, int64_t code,
                     const std::string& text);
const char* columnType(AttrType t);
std::string createTableSql(const EntityDesc& e);

}  // namespace vl::objctx
