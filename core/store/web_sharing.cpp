// Sharing settings with the web service: normalised identity, salted machine identifier and
// the upload of one device's selected favourite.
#include "core/store/web_sharing.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "core/hid/registry_search.h"
#include "core/plist/number_text.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/system/versions.h"
#include "platform/api/hid.h"
#include "platform/api/paths.h"
#include "platform/api/system_info.h"

namespace vl {

namespace {

constexpr size_t kSaltBytes = 32;
constexpr const char* kSaltFileName = "Sharing Salt";

bool isOneOf(uint32_t v, std::initializer_list<uint32_t> set) {
  for (uint32_t s : set)
    if (v == s) return true;
  return false;
}

void logitechRows(WebDeviceID& id) {
  struct Row {
    uint32_t from;
    uint32_t pid, mid;
  };
  // Products that become a receiver model over "USB".
  static const Row toUsb[] = {
      {0xB012, 0xC52B, 0x4041}, {0xB017, 0xC52B, 0x4041}, {0xB013, 0xC52B, 0x404A}, {0xB015, 0xC52B, 0x405E},
      {0xB019, 0xC52B, 0x4069}, {0xB01E, 0xC52B, 0x4069}, {0xB01A, 0xC52B, 0x406A}, {0xB01D, 0xC52B, 0x406F},
      {0xB020, 0xC52B, 0x407B}, {0xC08A, 0xC52B, 0x407B}, {0xB024, 0xC539, 0x4085}, {0xB025, 0xC52B, 0x4090},
      {0xB027, 0xC52B, 0x4096},
  };
  // Products that become a receiver model, transport kept.
  static const Row keepTransport[] = {
      {0xC07C, 0xC531, 0x102A}, {0xC081, 0xC539, 0x4053}, {0xC086, 0xC539, 0x4067}, {0xC08D, 0xC539, 0x407F},
  };
  for (const Row& r : toUsb)
    if (id.pid == r.from) {
      id.pid = r.pid;
      id.mid = r.mid;
      id.transport = "USB";
      return;
    }
  for (const Row& r : keepTransport)
    if (id.pid == r.from) {
      id.pid = r.pid;
      id.mid = r.mid;
      return;
    }
  if (id.pid == 0xC52B && id.mid == 0x4060) {
    id.mid = 0x4041;
  } else if (id.pid == 0xC52B && id.mid == 0x4071) {
    id.mid = 0x4069;
  } else if (isOneOf(id.pid, {0xC52B, 0xC53A}) && isOneOf(id.mid, {0x4067, 0x407F})) {
    id.pid = 0xC539;
  }
}

std::string hex4(uint32_t v) {
  static const char* digits = "0123456789ABCDEF";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) out[static_cast<size_t>(i)] = digits[v & 0xF];
  return out;
}

std::string decimal(int64_t v) { return std::to_string(v); }  // integers: no locale involved

bool readSalt(const std::string& path, std::string* salt) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  char buf[kSaltBytes + 1];
  size_t got = 0;
  while (got < sizeof buf) {
    ssize_t n = ::read(fd, buf + got, sizeof buf - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got != kSaltBytes) return false;
  salt->assign(buf, kSaltBytes);
  return true;
}

// Makes a new salt file beside path and links it into place; when another process got there
// first, its salt wins, so every process of the user agrees. replace: a damaged file is there
// and is replaced.
bool createSalt(const std::string& path, std::string* salt, bool replace) {
  unsigned char bytes[kSaltBytes];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
    std::filesystem::create_directories(parent, ec);
    if (ec) return false;
  }
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());  // mode 0600
  if (fd < 0) return false;
  size_t put = 0;
  bool ok = true;
  while (put < sizeof bytes) {
    ssize_t n = ::write(fd, bytes + put, sizeof bytes - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    put += static_cast<size_t>(n);
  }
  ok = ok && ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && ::fsync(fd) == 0;
  ::close(fd);
  if (ok && replace) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  else if (ok && ::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) ok = false;
  ::unlink(temp.c_str());
  return ok && readSalt(path, salt);
}

}  // namespace

WebDeviceID QS836normaliseIdentity(const WebDeviceID& raw) {
  WebDeviceID id = raw;
  switch (id.vid) {
    case kVendorAppleBluetooth:
    case kVendorApple:
      if (id.pid == 0x265) {
        id.vid = kVendorAppleBluetooth;
        id.transport = "Bluetooth";
      }
      break;
    case kVendorLogitech:
      if (id.transport == "Unifying") {
        id.pid = 0xC52B;
        id.mid = 0xC52B;
        id.transport = "USB";
      }
      logitechRows(id);
      break;
    case kVendorKensington:
      if (isOneOf(id.pid, {0x131, 0x133})) {
        id.pid = 0x132;
        id.transport = "USB";
      } else if (id.pid == 0x8019) {
        id.pid = 0x8018;
        id.transport = "USB";
      }
      break;
    case kVendorElecom:
      if (isOneOf(id.pid, {0x131, 0x133})) {
        id.pid = 0x132;
        id.transport = "USB";
      }
      break;
    default:
      break;
  }
  if (isOneOf(id.vid, {kVendorKensington, kVendorElecom, kVendorRazer}) && isOneOf(id.pid, {0x8F, 0x92})) {
    id.pid = 0x90;
    id.transport = "USB";
  }
  return id;
}

uint32_t QS836pidForAppleInternalTrackpad(const Platform& p, const QS802DeviceClass* device) {
  return QS836pidForAppleInternalTrackpad(p.registry, p.system, device);
}

uint32_t QS836pidForAppleInternalTrackpad(IoRegistry* registry, SystemInfo* system, const QS802DeviceClass* device) {
  if (!device) return 0;
  const uint32_t pid = device->pid();
  if (!registry) return pid;
  auto found = registry->matchingServices(pl::Dict{{kIONameMatchKey, "AppleEmbeddedKeyboard"}});
  if (found.status != kIOReturnSuccess) return pid;
  uint32_t result = pid;
  for (RegistryId entry : found.entries) {
    auto product = registry->property(entry, "ProductID");
    if (!product || !product->isInteger() || product->unsignedLongLongValue() != pid) continue;
    int64_t handler = -1;
    if (auto h = registry->property(entry, "alt_handler_id"); h && h->isInteger()) handler = h->longLongValue();
    uint32_t layout = system ? system->keyboardLayoutType(static_cast<int16_t>(handler)) : kKeyboardUnknown;
    switch (layout & 0xFFFF) {
      case kKeyboardISO & 0xFFFF: result = pid - 1; break;
      case kKeyboardJIS & 0xFFFF: result = pid - 2; break;
      default: result = pid; break;
    }
  }
  return result;
}

WebDeviceID QS836deviceIDForWebTotaling(const Platform& p, const QS802DeviceClass* device) {
  return QS836deviceIDForWebTotaling(p.registry, p.system, device);
}

WebDeviceID QS836deviceIDForWebTotaling(IoRegistry* registry, SystemInfo* system, const QS802DeviceClass* device) {
  if (!device) return {};
  WebDeviceID raw{device->vid(), device->pid(), device->mid(), device->transport().value_or("")};
  if (QS822isAppleInternalTrackpad(raw.vid, raw.pid)) {
    raw.pid = QS836pidForAppleInternalTrackpad(registry, system, device);
    return raw;
  }
  return QS836normaliseIdentity(raw);
}

void QS836deviceIDForWebTotaling(const Platform& p, const QS802DeviceClass* device, uint32_t* vid, uint32_t* pid,
                                 uint32_t* mid, std::string* transport) {
  WebDeviceID id = QS836deviceIDForWebTotaling(p, device);
  if (vid) *vid = id.vid;
  if (pid) *pid = id.pid;
  if (mid) *mid = id.mid;
  if (transport) *transport = id.transport;
}

std::string QS836prefixCharacters(const std::string& text, size_t maxCharacters) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte: part of the current character
    if (characters == maxCharacters) return text.substr(0, i);
    ++characters;
  }
  return text;
}

std::string QS836digestIdentifier(const std::string& identifier, const std::string& salt) {
  std::string input = salt + identifier;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(input.data(), input.size(), md, &len, EVP_sha256(), nullptr) != 1) return {};
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(len * 2);
  for (unsigned int i = 0; i < len; ++i) {
    out += digits[md[i] >> 4];
    out += digits[md[i] & 0xF];
  }
  return out;
}

std::string QS836MachineIdentifier::plainIdentifier(const Platform& p) {
  std::string base;
  if (auto serial = machineSerialNumber(p.registry)) base = *serial;
  else base = "_noMachineID:" + (p.system ? p.system->userName() : std::string());
  uint32_t gid = p.system ? p.system->groupID() : 0;
  uint32_t uid = p.system ? p.system->userID() : 0;
  return base + ":" + hex4(gid & 0xFFFF) + ":" + hex4(uid & 0xFFFF);
}

std::string QS836MachineIdentifier::saltPath(const Platform& p) {
  std::string folder = QS814prefsFolderURL(p, true);
  return folder.empty() ? std::string() : folder + "/" + kSaltFileName;
}

const std::string& QS836MachineIdentifier::value() {
  if (value_) return *value_;
  std::string salt;
  std::string path = saltPath_;
  if (path.empty()) {
    bool exists = false;
    std::string folder = QS814prefsFolderURL(p_, true, &exists);
    // The settings folder is made by the store's own rules (which move an older folder's
    // store first) rather than here.
    if (!folder.empty() && !exists) (void)QS814prefsFileURL(p_, errors_, &exists);
    path = saltPath(p_);
  }
  std::error_code ec;
  if (!path.empty() &&
      (readSalt(path, &salt) || createSalt(path, &salt, std::filesystem::is_regular_file(path, ec))))
    value_ = QS812addingPercentEscapes(QS836digestIdentifier(plainIdentifier(p_), salt));
  else
    value_ = std::string();
  return *value_;
}

std::string QS836uploadQuery(const UploadFields& f) {
  // Escaped, unlike the name the request was first drawn with: an "&" or "=" in a name would
  // otherwise add or replace keys of the request.
  const std::string values[] = {
      decimal(f.id.vid),
      decimal(f.id.pid),
      decimal(f.id.mid),
      QS812addingPercentEscapes(f.id.transport),
      QS812addingPercentEscapes(QS836prefixCharacters(f.deviceName, kUploadDeviceNameLimit)),
      f.machine,
      decimal(f.osVersion),
      QS812addingPercentEscapes(QS836prefixCharacters(f.appName, kUploadAppNameLimit)),
      pl::formatG(f.trackingSpeed),
      pl::formatG(f.sensitivityShown),
  };
  static_assert(std::size(values) == vl::upload::kUploadFields.size(), "one value per field of the upload");
  std::string q;
  for (size_t i = 0; i < std::size(values); ++i) {
    q += (i ? "&" : "") + std::string(vl::upload::kUploadFields[i].key) + "=" + values[i];
  }
  return q;
}

std::optional<UploadFields> QS836uploadFields(const Platform& p, QS836MachineIdentifier& machine,
                                              const QS802DeviceClass* device, const std::optional<std::string>& appName) {
  if (!device) return std::nullopt;
  const QS805CursorSpeedClass* cs = device->selectedCursorSpeed();
  if (!cs) return std::nullopt;
  UploadFields f;
  f.machine = machine.value();
  f.id = QS836deviceIDForWebTotaling(p, device);
  f.deviceName = device->displayName();
  f.appName = appName.value_or("");
  f.trackingSpeed = pl::parseLeadingDecimal(cs->trackingSpeed().value_or("0"), 0);
  f.sensitivityShown = pl::parseLeadingDecimal(cs->sensitivityDisplay(), 0);
  f.osVersion = static_cast<int32_t>(pl::parseIntegerText(QS812SystemVersionString(p.system)).value_or(0));
  return f;
}

HttpClient::RequestId QS836uploadCursorSpeedFromApp(const Platform& p, QS836MachineIdentifier& machine,
                                                     const QS802DeviceClass* device,
                                                     const std::optional<std::string>& appName) {
  if (!p.http) return 0;
  auto fields = QS836uploadFields(p, machine, device, appName);
  // Without an identifier the upload would say nothing about whose setting it is.
  if (!fields || fields->machine.empty()) return 0;
  return p.http->startGet(kUploadPath, QS836uploadQuery(*fields), kUploadTimeoutSeconds, {});
}

}  // namespace vl
