// velmora-ctl recommended: asks the web service for the recommended settings of a stored device
// (or of an identity typed as in the window's search mode) and prints the ranking with the
// window's own request, answer check and messages.
#include <cstdlib>
#include <iostream>
#include <optional>

#include "core/plist/number_text.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/store/web_sharing.h"
#include "core/system/ranking.h"
#include "pane/windows/recommended_window.h"
#include "platform/linux/file_user_defaults.h"
#include "platform/linux/sd_event_runloop.h"
#include "platform/sim/world.h"
#include "tools/common/device_names.h"
#include "tools/common/service_url.h"
#include "tools/common/suggest.h"
#include "tools/ctl/command.h"
#include "tools/ctl/store_location.h"
#include "tools/ctl/store_path.h"

namespace vl::ctl {
namespace {

const char* kHelp =
    "usage: velmora-ctl recommended --device DEVICE [--store PATH] [--json]\n"
    "       velmora-ctl recommended --search VID PID MID TRANSPORT [--json]\n\n"
    "Prints the settings other users chose most often for a device model, as the settings\n"
    "window's \"Recommend\" button shows them, from the web service (the address in\n"
    "$VELMORA_SERVICE_URL, else the user default \"quillonVelmora_service_url\", else the\n"
    "service of the simulated Mac's world, else the local reference service).\n\n"
    "  --device DEVICE  a device of the settings store, like 46d-c52b-4069-USB; it is asked\n"
    "                   for under its normalised model (a receiver's mouse counts once however\n"
    "                   it is connected)\n"
    "  --search VID PID MID TRANSPORT\n"
    "                   an identity as typed into the window's search fields: each ID decimal,\n"
    "                   or hexadecimal when it reads as 0 in decimal (c52b); TRANSPORT \"u\" is\n"
    "                   USB and \"b\" Bluetooth. Not normalised; ranks are the user counts.\n"
    "  --store PATH     the store file (default: the user's \"Device.dvsetting\")\n"
    "  --json           one JSON object with the identity asked, the outcome and the entries\n\n"
    "Exit status: 0 with a ranking or an empty one, 1 when the service cannot be reached or\n"
    "answers wrongly, 2 for a usage error or an unknown device.\n";

struct Outcome {
  std::string status;   // "listed", "empty", "wrong", "unreachable"
  std::string message;  // the window's text
  RankingAnswer answer;
  std::optional<HttpError> error;
};

Outcome ask(HttpClient& http, const RankingIdentity& identity, bool searchMode) {
  Outcome o;
  // Settings of the systems the programs run on (10.12 and later), as the window asks there.
  std::string query = rankingQuery(identity, rankingOsRange({10, 12, 0}));
  HttpResult r = http.get(kRankingPath, query, kRankingTimeoutSeconds);
  if (!r.ok()) {
    o.status = "unreachable";
    o.error = r.error;
    std::string text = recd::kConnectionFailed;
    text.replace(text.find("%@"), 2, r.error.domain);
    text.replace(text.find("%d"), 2, std::to_string(r.error.code));
    o.message = text;
    return o;
  }
  o.answer = checkRankingAnswer(r.response->body, searchMode);
  switch (o.answer.outcome) {
    case RankingOutcome::Listed:
      o.status = "listed";
      o.message = recd::kListed;
      break;
    case RankingOutcome::Empty:
      o.status = "empty";
      o.message = recd::kNotShared;
      break;
    case RankingOutcome::Wrong:
      o.status = "wrong";
      o.message = recd::kWrongData;
      break;
  }
  return o;
}

void printJson(const std::string& device, const RankingIdentity& id, const std::string& service, const Outcome& o) {
  std::cout << "{\"device\":" << (device.empty() ? "null" : jsonString(device)) << ",\"asked\":{\"vid\":" << id.vid
            << ",\"pid\":" << id.pid << ",\"mid\":" << id.mid << ",\"transport\":" << jsonString(id.transport)
            << "},\"service\":" << jsonString(service) << ",\"status\":" << jsonString(o.status)
            << ",\"message\":" << jsonString(o.message);
  if (o.error) std::cout << ",\"error\":{\"domain\":" << jsonString(o.error->domain) << ",\"code\":" << o.error->code << "}";
  if (o.answer.outcome == RankingOutcome::Wrong && !o.answer.why.empty())
    std::cout << ",\"why\":" << jsonString(o.answer.why);
  std::cout << ",\"entries\":[";
  for (size_t i = 0; i < o.answer.list.size(); ++i) {
    const RecommendedEntry& e = o.answer.list[i];
    std::cout << (i ? "," : "") << "{\"rank\":" << e.ran << ",\"tracking\":" << pl::formatG(e.accValue(), 17)
              << ",\"sensitivity\":" << pl::formatG(e.senValue(), 17) << ",\"rating\":" << e.rat << "}";
  }
  std::cout << "],\"total\":" << (o.answer.total.isNull() ? "null" : jsonString(rankingTotalText(o.answer.total)))
            << "}\n";
}

// Text that came from outside (the server's answer, a typed transport) as the terminal
// shows it: printable UTF-8 as it is; controls (escape sequences, line breaks, C1 codes),
// bytes that are not UTF-8 and the backslash itself as \-escapes, so an answer cannot move the
// cursor, recolour the terminal or forge a line of this program's output.
std::string shown(std::string_view s) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  auto escapeByte = [&](unsigned char c) {
    out += "\\x";
    out += hex[c >> 4];
    out += hex[c & 15];
  };
  for (size_t i = 0; i < s.size();) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c == '\\') {
      out += "\\\\";
      ++i;
    } else if (c == '\n') {
      out += "\\n";
      ++i;
    } else if (c == '\t') {
      out += "\\t";
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      escapeByte(c);
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else {
      size_t n = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
      uint32_t cp = n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
      bool valid = n != 0 && i + n <= s.size();
      for (size_t k = 1; valid && k < n; ++k) {
        auto cc = static_cast<unsigned char>(s[i + k]);
        valid = (cc & 0xC0) == 0x80;
        cp = (cp << 6) | (cc & 0x3F);
      }
      static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
      valid = valid && cp >= minimum[n] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) &&
              !(cp >= 0x80 && cp < 0xA0) && cp != 0x2028 && cp != 0x2029;
      if (valid) {
        out.append(s.substr(i, n));
        i += n;
      } else {
        escapeByte(c);
        ++i;
      }
    }
  }
  return out;
}

void printText(const std::string& device, const RankingIdentity& id, const std::string& service, const Outcome& o) {
  std::cout << "recommended settings";
  if (!device.empty()) std::cout << " for " << device;
  std::cout << " (asked as VID " << id.vid << " PID " << id.pid << " MID " << id.mid << " " << shown(id.transport)
            << ") from " << shown(service) << "\n";
  std::cout << o.message << "\n";
  if (o.answer.outcome == RankingOutcome::Wrong && !o.answer.why.empty()) std::cout << "why: " << shown(o.answer.why) << "\n";
  if (o.answer.list.empty()) return;
  std::cout << "rank  tracking  sensitivity  rating\n";
  for (const RecommendedEntry& e : o.answer.list) {
    std::string ran = std::to_string(e.ran), acc = rankingNumberText(e.acc), sen = rankingNumberText(e.sen);
    std::cout << ran << std::string(ran.size() < 6 ? 6 - ran.size() : 1, ' ') << acc
              << std::string(acc.size() < 10 ? 10 - acc.size() : 1, ' ') << sen
              << std::string(sen.size() < 13 ? 13 - sen.size() : 1, ' ') << std::string(static_cast<size_t>(e.rat), '*')
              << std::string(static_cast<size_t>(5 - e.rat), '.') << "\n";
  }
  if (!o.answer.total.isNull()) std::cout << "total: " << shown(rankingTotalText(o.answer.total)) << "\n";
}

int run(const Args& all) {
  ErrorStack errors;  // this run's failures
  Args args = all;
  std::string error, device, store;
  bool hasDevice = takeOption(args, "--device", &device, &error);
  if (error.empty()) takeOption(args, "--store", &store, &error);
  if (!error.empty()) return usageError("recommended", error);
  bool json = takeFlag(args, "--json");
  std::optional<std::vector<std::string>> search;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--search") continue;
    if (i + 4 >= args.size())
      return usageError("recommended", "--search needs VID PID MID TRANSPORT");
    search = std::vector<std::string>(args.begin() + static_cast<long>(i) + 1, args.begin() + static_cast<long>(i) + 5);
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 5);
    break;
  }
  if (!args.empty()) {
    std::vector<std::string> options = {"--device", "--search", "--store", "--json"};
    return usageError("recommended", "unexpected argument '" + args[0] + "'" + cli::didYouMean(args[0], options));
  }
  if (hasDevice == search.has_value())
    return usageError("recommended", "give either --device DEVICE or --search VID PID MID TRANSPORT");

  RankingIdentity identity;
  std::string deviceText;
  if (search) {
    identity = {searchFieldValue((*search)[0]), searchFieldValue((*search)[1]), searchFieldValue((*search)[2]),
                searchTransport((*search)[3])};
  } else {
    auto name = cli::parseDeviceName(device);
    if (!name) return usageError("recommended", "'" + device + "' is not " + cli::kDeviceNameForms);
    deviceText = cli::deviceNameText(name->vid, name->pid, name->mid, name->transport);
    Result<std::string> where = storePathOrDefault(store);
    if (!where) return failure(where.status().detail());
    if (auto problem = storePathProblem(*where)) return failure(*problem);
    const Platform platform;
    StoreContextRef ctx;
    ErrorInfo err;
    if (createStoreContext(platform, errors, *where, nullptr, true, &ctx, &err, recordSettings()) != 0)
      return failure(*where + ": cannot be opened");
    DeviceRecord* rec = fetchDevice(errors, name->vid, name->pid, name->mid, name->transport, ctx.get());
    if (!rec) {
      std::vector<std::string> stored;
      for (DeviceRecord* d : allDevices(ctx.get()))
        stored.push_back(cli::deviceNameText(d->vid(), d->pid(), d->mid(), d->transport().value_or("")));
      return usageError("recommended", "the store has no device " + deviceText + cli::didYouMean(deviceText, stored));
    }
    WebDeviceID web = QS836deviceIDForWebTotaling(platform, rec);
    identity = {web.vid, web.pid, web.mid, web.transport};
  }

  // The web client as the programs make it at their entry.
  auto created = linux_::SdEventRunLoop::create();
  if (!created) return failure(created.status().detail());
  std::unique_ptr<linux_::SdEventRunLoop> loop = std::move(created).value();
  std::string world = sim::worldFolderFor("");
  linux_::FileUserDefaults defaults(world + "/" + sim::kWorldDefaultsFolder);
  cli::ServiceURLSources sources;
  if (const char* env = std::getenv(cli::kServiceURLEnvironment)) sources.environment = env;
  sources.defaults = &defaults;
  sources.worldFolder = world;
  std::string service = cli::resolveServiceURL(sources);
  std::unique_ptr<HttpClient> http = cli::makeServiceClient(sources, loop.get());

  Outcome o = ask(*http, identity, search.has_value());
  if (json)
    printJson(deviceText, identity, service, o);
  else
    printText(deviceText, identity, service, o);
  return o.status == "listed" || o.status == "empty" ? kExitOk : kExitFailure;
}

}  // namespace

CommandGroup recommendedCommand() {
  return {"recommended", "the settings other users chose for a device model", kHelp, run};
}

}  // namespace vl::ctl
