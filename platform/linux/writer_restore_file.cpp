// The writers' restore file: read, remember the first original per device, forget, save atomically.
#include "platform/linux/writer_restore_file.h"

#include <sys/stat.h>

#include <filesystem>

#include "core/plist/codec.h"

namespace vl::linux_input {

namespace {
constexpr int64_t kRestoreFileError = 8700031;
}

WriterRestoreFile::WriterRestoreFile(std::string path) : path_(std::move(path)) {}

std::string WriterRestoreFile::defaultPath(const std::string& runtimeDir) {
  return runtimeDir + "/velmora/pointer-restore.plist";
}

Status WriterRestoreFile::load() {
  std::error_code ec;
  if (!std::filesystem::exists(path_, ec)) {
    root_.clear();
    return Status::success();
  }
  auto r = pl::readFile(path_);
  if (!r || !r.value->isDict()) return Status::failure(kRestoreFileError, path_ + ": " + (r ? "not a dictionary" : r.error));
  root_ = *r.value->asDict();
  return Status::success();
}

Status WriterRestoreFile::remember(const std::string& writer, const std::string& device, const pl::Dict& original) {
  auto& w = root_[writer];
  if (!w.isDict()) w = pl::Dict{};
  auto& devices = *w.asDict();
  if (devices.count(device)) return Status::success();
  devices[device] = original;
  return save();
}

Status WriterRestoreFile::forget(const std::string& writer, const std::string& device) {
  auto it = root_.find(writer);
  if (it == root_.end() || !it->second.isDict()) return Status::success();
  auto& devices = *it->second.asDict();
  if (!devices.erase(device)) return Status::success();
  if (devices.empty()) root_.erase(it);
  return save();
}

std::map<std::string, pl::Dict> WriterRestoreFile::entries(const std::string& writer) const {
  std::map<std::string, pl::Dict> out;
  auto it = root_.find(writer);
  if (it == root_.end() || !it->second.isDict()) return out;
  for (const auto& [k, v] : *it->second.asDict())
    if (v.isDict()) out[k] = *v.asDict();
  return out;
}

std::optional<pl::Dict> WriterRestoreFile::entry(const std::string& writer, const std::string& device) const {
  auto all = entries(writer);
  auto it = all.find(device);
  if (it == all.end()) return std::nullopt;
  return it->second;
}

Status WriterRestoreFile::save() {
  std::error_code ec;
  auto dir = std::filesystem::path(path_).parent_path();
  if (!dir.empty()) {
    std::filesystem::create_directories(dir, ec);
    if (ec) return Status::failure(kRestoreFileError, dir.string() + ": " + ec.message());
    ::chmod(dir.c_str(), 0700);
  }
  if (root_.empty()) {
    std::filesystem::remove(path_, ec);
    return Status::success();
  }
  std::string text = pl::writeXml(pl::Value(root_));
  std::string error;
  if (!pl::writeFileAtomic(path_, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &error))
    return Status::failure(kRestoreFileError, error);
  return Status::success();
}

}  // namespace vl::linux_input
