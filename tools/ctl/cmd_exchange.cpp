// velmora-ctl exchange: shows what a settings exchange file holds after every check, and
// hands export and import to the store's commands.
#include <cmath>
#include <iostream>
#include <sstream>

#include "core/devices/exchange_file.h"
#include "core/plist/codec.h"
#include "core/plist/number_text.h"
#include "core/plist/text_util.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"
#include "tools/ctl/exchange_io.h"

namespace vl::ctl {

// Export and import live with the store's commands; until that file is part of the build
// these resolve to null and the subcommands say so instead of failing to link.
[[gnu::weak]] int exchangeExport(const Args& args);
[[gnu::weak]] int exchangeImport(const Args& args);

namespace {

const char kHelp[] =
    "usage: velmora-ctl exchange show FILE --type device|application [--json]\n"
    "       velmora-ctl exchange export ...\n"
    "       velmora-ctl exchange import ...\n"
    "\n"
    "Settings exchange files carry the settings of devices (.dvsetting_dev) or of\n"
    "applications (.dvsetting_app) from one machine to another, encrypted.\n"
    "\n"
    "show     decrypts FILE, checks the header and every dictionary, and prints the header\n"
    "         and the content (with --json as one JSON object). A file that fails any check\n"
    "         is rejected as a whole: one line names the first check that failed.\n"
    "export   writes devices or applications of the settings store to a file\n"
    "         (see 'velmora-ctl exchange export --help').\n"
    "import   reads such a file into the settings store\n"
    "         (see 'velmora-ctl exchange import --help').\n"
    "\n"
    "Exit status: 0 the file passed every check, 1 it was rejected or unreadable,\n"
    "2 wrong arguments.\n";

std::string json(const pl::Value& v);

std::string jsonNumber(double d) {
  if (!std::isfinite(d)) return "null";  // JSON has no NaN or infinities
  // The shortest text that reads back as the same number.
  std::string text;
  for (int precision = 15; precision <= 17; ++precision) {
    text = pl::formatG(d, precision);
    if (pl::parseDecimal(text) == d) break;
  }
  return text;
}

std::string json(const pl::Value& v) {
  switch (v.type()) {
    case pl::Type::Null: return "null";
    case pl::Type::Boolean: return v.boolValue() ? "true" : "false";
    case pl::Type::Integer:
      return v.isUnsignedInteger() ? std::to_string(v.unsignedLongLongValue()) : std::to_string(v.longLongValue());
    case pl::Type::Real: return jsonNumber(v.doubleValue());
    case pl::Type::String: return jsonString(*v.asString());
    case pl::Type::Data: {
      const pl::Data& d = *v.asData();
      return jsonString(pl::detail::base64Encode(d.data(), d.size(), 0));
    }
    case pl::Type::Date: return jsonString(pl::detail::isoDate(v.asDate()->seconds));
    case pl::Type::Uid: return "{\"$uid\":" + std::to_string(v.asUid()->index) + "}";
    case pl::Type::Array: {
      std::string out = "[";
      for (const auto& e : *v.asArray()) out += (out.size() > 1 ? "," : "") + json(e);
      return out + "]";
    }
    case pl::Type::Dict: {
      std::string out = "{";
      for (const auto& [k, e] : *v.asDict()) out += (out.size() > 1 ? "," : "") + jsonString(k) + ":" + json(e);
      return out + "}";
    }
  }
  return "null";
}

int show(Args args) {
  if (takeFlag(args, "--help") || takeFlag(args, "-h")) {
    std::cout << kHelp;
    return kExitOk;
  }
  std::string type, error;
  if (!takeOption(args, "--type", &type, &error))
    return usageError("exchange", error.empty() ? "show needs --type device|application" : error);
  std::string fileType;
  if (type == "device") fileType = kExchangeTypeDevice;
  else if (type == "application") fileType = kExchangeTypeApplication;
  else return usageError("exchange", "unknown type '" + type + "' (device or application)");
  bool asJson = takeFlag(args, "--json");
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') return usageError("exchange", "unknown option '" + a + "'");
  if (args.size() != 1) return usageError("exchange", "show needs one FILE");

  ExchangeReadResult r = readExchangeFile(args[0], fileType, exchangeNow());
  if (!r) return failure(args[0] + ": rejected: " + r.detail);

  if (asJson) {
    std::cout << "{\"type\":" << jsonString(fileType) << ",\"version\":" << jsonNumber(r.version)
              << ",\"creator\":" << jsonString(r.creator) << ",\"creatorVersion\":" << json(r.creatorVersion)
              << ",\"created\":" << jsonString(pl::detail::isoDate(r.created.seconds))
              << ",\"content\":" << json(pl::Value(*r.content)) << "}\n";
    return kExitOk;
  }
  std::cout << "Type: " << fileType << "\n"
            << "Version: " << jsonNumber(r.version) << "\n"
            << "Creator: " << r.creator
            << (r.creatorVersion.isNull() ? std::string() : " " + r.creatorVersion.describe()) << "\n"
            << "Created: " << pl::detail::isoDate(r.created.seconds) << "\n"
            << "Elements: " << r.content->size() << "\n"
            << pl::writeXml(pl::Value(*r.content));
  return kExitOk;
}

int run(const Args& args) {
  if (args.empty()) return usageError("exchange", "missing subcommand (show, export or import)");
  if (isHelp(args[0])) {
    std::cout << kHelp;
    return kExitOk;
  }
  Args rest(args.begin() + 1, args.end());
  if (args[0] == "show") return show(rest);
  if (args[0] == "export" || args[0] == "import") {
    auto* handler = args[0] == "export" ? &exchangeExport : &exchangeImport;
    if (!handler) return failure("exchange " + args[0] + " is not part of this build");
    return handler(rest);
  }
  return usageError("exchange", "unknown subcommand '" + args[0] + "'" + cli::didYouMean(args[0], {"show", "export", "import"}));
}

}  // namespace

CommandGroup exchangeCommand() {
  return {"exchange", "show, export and import settings exchange files", kHelp, run};
}

}  // namespace vl::ctl
