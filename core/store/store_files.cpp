// The store file's place and migration from the older folder, opening, saving and checking it.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "core/errors/error_stack.h"
#include "core/plist/ascii_text.h"
#include "core/store/sqlite_db.h"
#include "core/store/store.h"
#include "platform/api/paths.h"
#include "platform/api/platform.h"

namespace vl {

namespace fs = std::filesystem;

namespace {

std::string extensionOf(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

bool isDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Regular files of a folder that a user may have put there: no hidden files, folders or aliases
// (links), sorted by name ignoring case.
std::vector<std::string> candidateFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code e2;
    if (it->is_symlink(e2) || !it->is_regular_file(e2)) continue;
    names.push_back(name);
  }
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    std::string la = pl::asciiLower(a), lb = pl::asciiLower(b);
    return la != lb ? la < lb : a < b;
  });
  return names;
}

}  // namespace

std::string settingsFolderPath(Paths* paths, bool joint, bool* exists) {
  if (!paths) {
    if (exists) *exists = false;
    return {};
  }
  std::string folder = paths->applicationSupport() + "/" + (joint ? kJointSettingsFolder : kOlderSettingsFolder);
  if (exists) *exists = isDirectory(folder);
  return folder;
}

std::optional<std::string> QS814prefsFileURL(const Platform& p, ErrorStack& errors, bool* exists) {
  bool jointExists = false;
  std::string joint = QS814prefsFolderURL(p, true, &jointExists);
  if (joint.empty()) {
    QS810stackError(errors, nullptr, 8140051);
    return std::nullopt;
  }
  std::string searched = joint;
  if (!jointExists) {
    std::error_code ec;
    fs::create_directories(joint, ec);
    if (ec || !isDirectory(joint)) {
      QS810stackError(errors, nullptr, 8140051);
      return std::nullopt;
    }
    bool olderExists = false;
    std::string older = QS814prefsFolderURL(p, false, &olderExists);
    if (olderExists) searched = older;
  }
  const bool inJoint = fs::path(searched).filename() == fs::path(joint).filename();
  const std::string wanted = inJoint ? kJointStoreExtension : kOlderStoreExtension;

  std::string result = joint + "/" + kDefaultStoreFileName;
  for (const std::string& name : candidateFiles(searched)) {
    if (name[0] == '~' || extensionOf(name) != wanted) continue;
    std::string found = searched + "/" + name;
    if (wanted == kOlderStoreExtension) {
      // The older store is copied, never moved: earlier versions may still read it.
      std::error_code ec;
      fs::copy_file(found, result, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        QS810stackError(errors, nullptr, 8140095);
        return std::nullopt;
      }
      // Saves not yet merged into the file live in its write-ahead log.
      std::error_code e2;
      if (fs::exists(found + "-wal", e2)) fs::copy_file(found + "-wal", result + "-wal", fs::copy_options::overwrite_existing, e2);
    } else {
      result = found;
    }
    break;
  }
  if (exists) {
    std::error_code ec;
    *exists = fs::exists(result, ec);
  }
  return result;
}

int32_t QS814createMOC(const Platform& p, ErrorStack& errors, const std::optional<std::string>& url, const StoreModel* model, bool readOnly,
                       StoreContextRef* outContext, ErrorInfo* outError, const RecordSettings& records) {
  if (!url || url->empty() || !outContext) return 8140121;
  if (outError) *outError = ErrorInfo{};
  if (model && model->entities.size() != static_cast<size_t>(kEntityCount)) return 8140130;
  ManagedObjectContext::Options options;
  options.readOnly = readOnly;
  options.model = model;
  options.ports = recordPortsOf(p);
  options.runLoop = p.runLoop;
  options.errors = &errors;
  options.records = records;
  ErrorInfo error;
  StoreContextRef ctx = ManagedObjectContext::open(*url, options, &error);
  if (!ctx) {
    if (outError) *outError = std::move(error);
    return 8140153;
  }
  *outContext = std::move(ctx);
  return 0;
}

int32_t QS814openMOC(const Platform& p, ErrorStack& errors, const StoreModel* model, bool readOnly, StoreContextRef* outContext,
                     ErrorInfo* outError, const RecordSettings& records) {
  int32_t err = QS814createMOC(p, errors, QS814prefsFileURL(p, errors), model, readOnly, outContext, outError, records);
  if (err != 0) {
    QS810stackError(errors, nullptr, err);
    return 8140177;
  }
  return 0;
}

int32_t QS814saveMOC(ManagedObjectContext* ctx, ErrorInfo* outError) {
  if (!ctx) return 8140341;
  ctx->processPendingChanges();
  if (!ctx->hasChanges()) return 0;
  return ctx->save(outError) ? 0 : 8140349;
}

std::string QS814urlForMOC(const ManagedObjectContext* ctx) { return ctx ? ctx->url() : std::string(); }

StoreFileState storeFileState(const std::string& path, const StoreModel* model) {
  const StoreModel& m = model ? *model : StoreModel::current();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return StoreFileState::Missing;
  if (!S_ISREG(st.st_mode)) return StoreFileState::Unreadable;
  if (st.st_size == 0) return StoreFileState::Missing;
  sqlite::Database db;
  if (!db.open(path, sqlite::Database::Mode::ReadOnly)) return StoreFileState::Unreadable;
  db.setBusyTimeout(1000);
  auto app = db.queryInt("PRAGMA application_id");
  auto ver = db.queryInt("PRAGMA user_version");
  auto entries = db.queryInt("SELECT count(*) FROM sqlite_master");
  if (!app || !ver || !entries) return StoreFileState::Unreadable;
  if (static_cast<int32_t>(*app) != kStoreApplicationID)
    return *entries == 0 ? StoreFileState::Missing : StoreFileState::Unreadable;
  if (*ver > m.version) return StoreFileState::Newer;
  if (*ver < 1) return StoreFileState::Unreadable;
  return *ver < m.version ? StoreFileState::Older : StoreFileState::Current;
}

bool QS814isPrefsFileCompatible(const std::optional<std::string>& url, const StoreModel* model) {
  if (!url) return true;
  return storeFileState(*url, model) != StoreFileState::Newer;
}

const char* VL714prefsFileCompatibleError(const std::optional<std::string>& url, const StoreModel* model) {
  return QS814isPrefsFileCompatible(url, model) ? nullptr : kSettingsFormatChangedMessage;
}

}  // namespace vl
