// velmora-ctl definitions: which device definition a device identity would get, from given
// definition folders, for a given system version and language.
#include <climits>
#include <filesystem>
#include <iostream>

#include "core/devices/device_definition.h"
#include "core/plist/file_input.h"
#include "platform/api/platform.h"
#include "platform/api/system_info.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"

namespace vl::ctl {

namespace {

const char kHelp[] =
    "usage: velmora-ctl definitions match --vid V [--pid P] [--mid M] [--transport T]\n"
    "                                     [--user-folder DIR] [--folder DIR]...\n"
    "                                     [--os-version X.Y[.Z]] [--language LL] [--json]\n"
    "\n"
    "Picks the device definition that a device with the given identity gets: the one whose\n"
    "personality scores highest (vendor 1000, product 1100, plus 10 for the model id and 1\n"
    "for the transport); on equal scores a definition of the user's folder wins, then the\n"
    "newer one. Prints its path, score and name.\n"
    "\n"
    "  --vid, --pid, --mid   vendor, product and model id, decimal or 0x-hex (pid, mid: 0)\n"
    "  --transport T         transport as the system reports it (\"USB\", \"Bluetooth\")\n"
    "  --user-folder DIR     the user's own definitions; they win ties\n"
    "  --folder DIR          shipped definitions; may be given several times, read in order\n"
    "                        (without any folder: the definitions that ship with Velmora)\n"
    "  --os-version X.Y.Z    leave out definitions made for a newer system\n"
    "                        (without it every definition is considered)\n"
    "  --language LL         prefer names in this language (\"ja\" reads name_ja)\n"
    "  --json                print {\"path\", \"score\", \"name\", \"inUserFolder\"}\n"
    "\n"
    "Exit status: 0 a definition matched, 1 none matched (nothing is printed), 2 wrong\n"
    "arguments.\n";

// The system facts the lookup asks for: only the language matters here.
class LanguageOnly : public SystemInfo {
 public:
  explicit LanguageOnly(std::string lang) : lang_(std::move(lang)) {}
  OsVersion osVersion() const override { return {}; }
  std::vector<std::string> preferredLanguages() const override { return {lang_}; }
  std::string hardwareModel() const override { return {}; }
  std::string marketingNameForModel(const std::string&) const override { return {}; }
  uint32_t userID() const override { return 0; }
  uint32_t groupID() const override { return 0; }
  std::string userName() const override { return {}; }
  std::string processName() const override { return "velmora-ctl"; }
  int32_t processID() const override { return 0; }
  std::optional<std::string> kernelExtensionPath(const std::string&) const override { return std::nullopt; }
  uint32_t keyboardLayoutType(int16_t) const override { return kKeyboardUnknown; }

 private:
  std::string lang_;
};

bool takeIdentity(Args& args, const std::string& name, bool required, uint32_t* out, std::string* error) {
  std::string text;
  *out = 0;
  if (!takeOption(args, name, &text, error)) {
    if (error->empty() && required) *error = "match needs " + name;
    return error->empty();
  }
  unsigned long long v = 0;
  if (!parseUnsigned(text, &v) || v > UINT32_MAX) {
    *error = name + " takes an unsigned 32-bit number, decimal or 0x-hex, not '" + text + "'";
    return false;
  }
  *out = static_cast<uint32_t>(v);
  return true;
}

std::optional<OsVersion> parseOsVersion(const std::string& text) {
  if (!isVersionText(text)) return std::nullopt;
  OsVersion v;
  unsigned* parts[] = {&v.major, &v.minor, &v.patch};
  size_t start = 0;
  for (int i = 0; i < 3 && start <= text.size(); ++i) {
    size_t dot = text.find('.', start);
    *parts[i] = static_cast<unsigned>(std::stoul(text.substr(start, dot - start)));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return v;
}

int match(Args args) {
  if (takeFlag(args, "--help") || takeFlag(args, "-h")) {
    std::cout << kHelp;
    return kExitOk;
  }
  std::string error;
  uint32_t vid, pid, mid;
  if (!takeIdentity(args, "--vid", true, &vid, &error) || !takeIdentity(args, "--pid", false, &pid, &error) ||
      !takeIdentity(args, "--mid", false, &mid, &error))
    return usageError("definitions", error);
  std::string transport, userFolder, osText, language, folder;
  takeOption(args, "--transport", &transport, &error);
  bool hasUser = takeOption(args, "--user-folder", &userFolder, &error);
  DefinitionFolders folders;
  while (error.empty() && takeOption(args, "--folder", &folder, &error)) folders.shippedFolders.push_back(folder);
  bool hasOs = error.empty() && takeOption(args, "--os-version", &osText, &error);
  bool hasLanguage = error.empty() && takeOption(args, "--language", &language, &error);
  bool asJson = takeFlag(args, "--json");
  if (!error.empty()) return usageError("definitions", error);
  if (!args.empty()) return usageError("definitions", "unexpected argument '" + args[0] + "'");

  std::optional<OsVersion> os;
  if (hasOs && !(os = parseOsVersion(osText)))
    return usageError("definitions", "--os-version takes X.Y or X.Y.Z, not '" + osText + "'");
  if (hasLanguage && (language.size() < 2 || language.size() > 16))
    return usageError("definitions", "--language takes a language code such as 'ja' or 'en-US'");
  if (hasUser) folders.userFolder = userFolder;
  if (!hasUser && folders.shippedFolders.empty())
    folders.shippedFolders.push_back(std::string(VELMORA_SOURCE_RESOURCES) + "/" + kDeviceDefinitionsFolder);
  // The loader creates a missing user folder, as the pane does; a tool should not.
  std::vector<std::string> all = folders.shippedFolders;
  if (folders.userFolder) all.push_back(*folders.userFolder);
  for (const auto& f : all) {
    std::error_code ec;
    bool folder = std::filesystem::is_directory(f, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
      return failure("cannot open folder '" + f + "': " + pl::pathErrorText(ec.value()));
    if (!folder) return usageError("definitions", "no such folder '" + f + "'");
    // A folder that cannot be listed would silently hold no definitions.
    std::filesystem::directory_iterator list(f, ec);
    if (ec) return failure("cannot list folder '" + f + "': " + pl::pathErrorText(ec.value()));
  }

  LanguageOnly languageOnly(language);
  Platform platform;
  if (hasLanguage) platform.system = &languageOnly;

  DeviceDefinitionSet set = loadDeviceDefinitions(folders, os);
  DeviceDefinitionRef chosen = QS834deviceDefFromList(set, vid, pid, mid, transport);
  if (!chosen) return kExitFailure;
  int score = chosen->personalityScoreForVID(vid, pid, mid, transport);
  auto name = chosen->nameForVID(platform, vid, pid, mid, transport);
  if (asJson) {
    std::cout << "{\"path\":" << jsonString(chosen->filePath()) << ",\"score\":" << score
              << ",\"name\":" << (name ? jsonString(*name) : "null")
              << ",\"inUserFolder\":" << (chosen->inUserFolder() ? "true" : "false") << "}\n";
  } else {
    std::cout << "path: " << chosen->filePath() << "\n"
              << "score: " << score << "\n"
              << "name: " << name.value_or("") << "\n";
  }
  return kExitOk;
}

int run(const Args& args) {
  if (args.empty()) return usageError("definitions", "missing subcommand (match)");
  if (isHelp(args[0])) {
    std::cout << kHelp;
    return kExitOk;
  }
  if (args[0] == "match") return match(Args(args.begin() + 1, args.end()));
  return usageError("definitions", "unknown subcommand '" + args[0] + "'" + cli::didYouMean(args[0], {"match"}));
}

}  // namespace

CommandGroup definitionsCommand() {
  return {"definitions", "find the device definition a device identity gets", kHelp, run};
}

}  // namespace vl::ctl
