// DbusFileManager: one ShowItems call per reveal on a short-lived bus connection, with a bounded
// wait for the answer.
#include "core/plist/ascii_text.h"
#include "platform/linux/dbus_file_manager.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <filesystem>
#include <memory>

namespace vl::linux_ {

namespace {

std::string errorText(int r) { return std::strerror(r < 0 ? -r : r); }

struct BusUnref {
  void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};

}  // namespace

std::string fileUri(const std::string& absolutePath) { return "file://" + pl::percentEscape(absolutePath, "/"); }

DbusFileManager::DbusFileManager(std::string address, double timeoutSeconds)
    : address_(std::move(address)), timeout_(timeoutSeconds > 0 ? timeoutSeconds : 0.001) {}

Status DbusFileManager::revealFile(const std::string& path) {
  lastError_.clear();
  auto fail = [this](std::string why) {
    lastError_ = why;
    return Status::failure(1, std::move(why));
  };
  if (path.empty()) return fail("no file to show");
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return fail("cannot resolve " + path + ": " + ec.message());
  // As the platform's call does: a file that is not there is not shown.
  if (!std::filesystem::exists(std::filesystem::symlink_status(absolute, ec))) return fail("no file at " + absolute.string());

  sd_bus* raw = nullptr;
  int r = 0;
  if (address_.empty()) {
    r = sd_bus_open_user(&raw);
  } else {
    r = sd_bus_new(&raw);
    if (r >= 0) r = sd_bus_set_address(raw, address_.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(raw, 1);
    if (r >= 0) r = sd_bus_start(raw);
  }
  std::unique_ptr<sd_bus, BusUnref> bus(raw);
  if (r < 0) return fail("cannot connect to the session bus: " + errorText(r));

  sd_bus_message* rawCall = nullptr;
  r = sd_bus_message_new_method_call(bus.get(), &rawCall, kFileManagerService, kFileManagerPath, kFileManagerInterface,
                                     "ShowItems");
  std::unique_ptr<sd_bus_message, MessageUnref> call(rawCall);
  if (r < 0) return fail("cannot make the request: " + errorText(r));
  // Without a startup id the file manager raises its window as it sees fit.
  r = sd_bus_message_append(call.get(), "ass", 1, fileUri(absolute.string()).c_str(), "");
  if (r < 0) return fail("cannot make the request: " + errorText(r));

  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* rawReply = nullptr;
  r = sd_bus_call(bus.get(), call.get(), static_cast<uint64_t>(timeout_ * 1e6), &error, &rawReply);
  std::unique_ptr<sd_bus_message, MessageUnref> reply(rawReply);
  if (r < 0) {
    std::string why = error.name ? std::string(error.name) + (error.message ? std::string(": ") + error.message : "")
                                 : errorText(r);
    sd_bus_error_free(&error);
    return fail("no file manager showed the file: " + why);
  }
  sd_bus_error_free(&error);
  return Status::success();
}

}  // namespace vl::linux_
