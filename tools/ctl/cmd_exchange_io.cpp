// velmora-ctl exchange export / import: devices of a settings store written to an exchange
// file, and an exchange file read back into a store.
#include <iostream>
#include <set>

#include "core/devices/exchange_file.h"
#include "core/plist/codec.h"
#include "core/system/file_output.h"
#include "core/store/records.h"
#include "tools/common/device_names.h"
#include "tools/ctl/command.h"
#include "tools/ctl/store_location.h"
#include "tools/ctl/store_path.h"
#include "core/store/defined_device.h"
#include "tools/ctl/exchange_io.h"

namespace vl::ctl {
namespace {

constexpr const char* kCreator = "Velmora";

const char kExportHelp[] =
    "usage: velmora-ctl exchange export [--store PATH] (--all | --index DEVICE-INDEX...) -o FILE\n\n"
    "Writes the settings of devices of the store at PATH (default: the user's store; opened\n"
    "read-only) to the device\n"
    "exchange file FILE: every device with --all, else the devices named by their index\n"
    "(\"vid-pid-mid-transport\" in hex, as 'velmora-ctl store show' prints it). A device\n"
    "without a default application gets the one the settings pane would make, so that the\n"
    "file passes the reader's checks; the file is written only after it passed them.\n";

const char kImportHelp[] =
    "usage: velmora-ctl exchange import FILE [--store PATH]\n\n"
    "Reads the device exchange file FILE and applies it to the store at PATH (default: the\n"
    "user's store): a device the\n"
    "store has takes the file's settings but keeps its identity, names, native resolution\n"
    "and date; a new device is made from the file. A file that fails any check changes\n"
    "nothing. While another program (the settings pane) has the store open for writing the\n"
    "import is refused, so that neither overwrites the other.\n";

std::string describe(const ErrorInfo& err, const std::string& fallback) {
  auto it = err.userInfo.find(kDescriptionKey);
  return it != err.userInfo.end() && it->second.isString() ? *it->second.asString() : fallback;
}

// The device's dictionary as written to a file, with a default application when it has none.
pl::Dict exportDictionary(DeviceDefinitionCache& definitions, DeviceRecord* d) {
  pl::Dict dic = d->devDic();
  pl::Array apps;
  if (const pl::Value* a = devdic::applications(dic); a && a->isArray()) apps = *a->asArray();
  bool hasDefault = false;
  for (const pl::Value& a : apps)
    if (a.isDict() && appdic::isDefault(*a.asDict())) hasDefault = true;
  if (!hasDefault) {
    // The context is read-only: the record made here never reaches the store.
    AppRecord* def = d->insertDefApplication();
    apps.insert(apps.begin(), pl::Value(def ? QS812managedObjectToDictionary(def) : pl::Dict{}));
    sortAppDics(apps);
  }
  devdic::setApplications(dic, std::move(apps));
  // This product never records a button count or a vertical zoom, but a file needs both: take
  // the count from the device's definition (a plain three-button mouse without one) and the
  // graph's own default zoom, as the reader on the other side would show them.
  if (devdic::buttonCount(dic) < 1) {
    VL714searchAndApplyDeviceDefinition(definitions, d);
    std::optional<int64_t> count;
    if (d->deviceDefinition()) count = d->deviceDefinition()->buttonCount();
    dic["buttonCount"] = pl::Value(static_cast<long long>(count && *count >= 1 && *count <= 32 ? *count : 3));
  }
  // A device recorded without seeing its service has no native resolution: the HID default.
  if (!(devdic::pointerResolution(dic) > 0)) dic["pointerResolution"] = "400";
  if (!(devdic::viewScaleX(dic) > 0)) dic["viewScaleX"] = "3.0";
  if (!(devdic::viewScaleY(dic) > 0)) dic["viewScaleY"] = "1.0";
  return dic;
}

int doExport(Args args) {
  ErrorStack errors;  // this run's failures
  std::string store, out, error;
  bool hasStore = takeOption(args, "--store", &store, &error);
  if (!error.empty()) return usageError("exchange", error);
  bool hasOut = takeOption(args, "-o", &out, &error) || takeOption(args, "--output", &out, &error);
  if (!error.empty()) return usageError("exchange", error);
  bool all = takeFlag(args, "--all");
  std::vector<std::string> indexes;
  for (size_t i = 0; i < args.size();) {
    if (args[i] != "--index") {
      ++i;
      continue;
    }
    args.erase(args.begin() + static_cast<long>(i));
    size_t before = indexes.size();
    while (i < args.size() && !args[i].empty() && args[i][0] != '-') {
      indexes.push_back(args[i]);
      args.erase(args.begin() + static_cast<long>(i));
    }
    if (indexes.size() == before) return usageError("exchange", "--index needs at least one DEVICE-INDEX");
  }
  if (!args.empty()) return usageError("exchange", "unexpected argument '" + args.front() + "'");
  if (!hasOut) return usageError("exchange", "export needs -o FILE");
  if (all == !indexes.empty()) return usageError("exchange", "export needs either --all or --index");
  if (hasStore && store.empty()) return usageError("exchange", "--store needs a path");
  if (auto where = storePathOrDefault(store)) store = *where;
  else return failure(where.status().detail());
  // Any of the forms the tools print names a device; the store's own form is looked up.
  for (std::string& index : indexes)
    if (auto d = cli::parseDeviceName(index)) index = cli::deviceNameText(d->vid, d->pid, d->mid, d->transport);

  if (auto problem = storePathProblem(store)) return failure(*problem);
  // The records need no ports here: the store is named and nothing is applied to a device.
  const Platform platform;
  DeviceDefinitionCache definitions(platform);
  StoreContextRef ctx;
  ErrorInfo err;
  if (createStoreContext(platform, errors, store, nullptr, true, &ctx, &err, recordSettings()) != 0)
    return failure(store + ": " + describe(err, "cannot be opened"));
  // Exporting from a damaged file would hand on a silently shortened copy of the settings.
  if (Status integrity = ctx->checkIntegrity(); !integrity.ok()) return failure(store + ": " + integrity.detail());

  std::vector<DeviceRecord*> devices = allDevices(ctx.get());
  std::vector<DeviceRecord*> chosen;
  if (all) {
    chosen = devices;
  } else {
    for (const std::string& index : indexes) {
      DeviceRecord* found = nullptr;
      for (DeviceRecord* d : devices)
        if (d->isEqualToIndex(index)) found = d;  // the last of equal ones, as fetches do
      if (!found) return failure("the store has no device " + index);
      if (std::find(chosen.begin(), chosen.end(), found) == chosen.end()) chosen.push_back(found);
    }
  }
  if (chosen.empty()) return failure(store + " holds no devices");
  if (chosen.size() > kMaxExchangeContent)
    return failure("a file holds at most " + std::to_string(kMaxExchangeContent) + " devices; " +
                   std::to_string(chosen.size()) + " chosen");
  if (ctx->isDamaged()) return failure(store + ": part of the store could not be read");

  pl::Array dics;
  for (DeviceRecord* d : chosen) {
    pl::Value dic(exportDictionary(definitions, d));
    // Name the device whose settings a reader would turn away, and why.
    std::string why;
    if (!deviceValidate(dic, &why)) return failure("device " + d->index() + " cannot be exported: " + why);
    dics.push_back(std::move(dic));
  }
  std::optional<pl::Data> bytes = QS813devSettingDataWithDevDics(kCreator, pl::Value(VELMORA_VERSION_TEXT), dics);
  if (!bytes) return failure("the exchange file could not be made");
  // Never hand out a file this program's own reader would turn away.
  ExchangeReadResult check = readExchangeData(*bytes, kExchangeTypeDevice, exchangeNow());
  if (!check) return failure("the devices do not make a valid exchange file: " + check.detail);
  if (vl::Status written = pl::writeUserFile(out, *bytes); !written) return failure(written.detail());
  std::cout << "exported " << chosen.size() << " device" << (chosen.size() == 1 ? "" : "s") << " to " << out << "\n";
  return kExitOk;
}

int doImport(Args args) {
  ErrorStack errors;  // this run's failures
  std::string store, error;
  bool hasStore = takeOption(args, "--store", &store, &error);
  if (!error.empty()) return usageError("exchange", error);
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') return usageError("exchange", "unknown option '" + a + "'");
  if (args.size() != 1) return usageError("exchange", "import needs FILE");
  if (hasStore && store.empty()) return usageError("exchange", "--store needs a path");
  if (auto where = storePathOrDefault(store)) store = *where;
  else return failure(where.status().detail());
  const std::string file = args[0];

  ExchangeReadResult r = readExchangeFile(file, kExchangeTypeDevice, exchangeNow());
  if (!r) return failure(file + ": rejected: " + r.detail);

  const Platform platform;
  StoreContextRef ctx;
  ErrorInfo err;
  if (createStoreContext(platform, errors, store, nullptr, false, &ctx, &err, recordSettings()) != 0) {
    if (err.code == kPersistentStoreInUseError)
      return failure(store + " is open for writing in another program (the settings pane?); nothing was imported. "
                             "Close it and try again.");
    return failure(store + ": " + describe(err, "cannot be opened"));
  }
  size_t updated = 0, created = 0;
  for (const pl::Value& v : *r.content) {
    const pl::Dict& dic = *v.asDict();  // validated: every element is a device dictionary
    const pl::Value* t = devdic::transport(dic);
    std::string transport = t && t->isString() ? *t->asString() : std::string();
    DeviceRecord* d = fetchDevice(errors, devdic::vid(dic), devdic::pid(dic), devdic::mid(dic), transport, ctx.get());
    bool ok;
    if (d) {
      ok = d->importFromDevDic(dic) != nullptr;
      ++updated;
    } else {
      d = insertDevice(errors, ctx.get());
      ok = d && d->initWithDevDic(dic) != nullptr;
      ++created;
    }
    if (!ok) return failure(file + ": device " + devdic::deviceIndex(dic) + " could not be applied; nothing was saved");
  }
  if (ctx->isDamaged()) return failure(store + ": part of the store could not be read; nothing was saved");
  if (saveStoreContext(ctx.get(), &err) != 0) return failure(store + ": " + describe(err, "cannot be saved"));
  std::cout << "imported " << r.content->size() << " device" << (r.content->size() == 1 ? "" : "s") << " ("
            << updated << " updated, " << created << " new) into " << store << "\n";
  return kExitOk;
}

bool wantsHelp(const Args& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace

int exchangeExport(const Args& args) {
  if (wantsHelp(args)) {
    std::cout << kExportHelp;
    return kExitOk;
  }
  return doExport(args);
}

int exchangeImport(const Args& args) {
  if (wantsHelp(args)) {
    std::cout << kImportHelp;
    return kExitOk;
  }
  return doImport(args);
}

}  // namespace vl::ctl
