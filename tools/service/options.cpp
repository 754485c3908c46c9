// Parsing and defaults of velmora-service's command line.
#include "tools/service/options.h"

#include <cstdlib>

#include "tools/common/cli_args.h"
#include "tools/common/suggest.h"

namespace svc {

ServiceEnvironment ServiceEnvironment::fromProcess(const std::string& resources) {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  return {env("VELMORA_WORLD"), env("XDG_DATA_HOME"), env("HOME"), resources};
}

vl::Status parseListen(const std::string& text, std::string* host, int* port) {
  std::string h, p;
  if (!text.empty() && text[0] == '[') {
    auto close = text.find("]:");
    if (close == std::string::npos)
      return vl::Status::failure(1, "--listen: write an IPv6 address as [ADDRESS]:PORT");
    h = text.substr(1, close - 1);
    p = text.substr(close + 2);
  } else {
    auto colon = text.rfind(':');
    if (colon == std::string::npos)
      return vl::Status::failure(1, "--listen takes HOST:PORT, such as 127.0.0.1:" + std::to_string(kDefaultPort));
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
    if (h.find(':') != std::string::npos)
      return vl::Status::failure(1, "--listen: write an IPv6 address as [ADDRESS]:PORT");
  }
  if (h.empty()) h = "127.0.0.1";
  unsigned long long value = 0;
  if (p.empty() || p.find_first_not_of("0123456789") != std::string::npos || !vl::cli::parseUnsigned(p, &value) ||
      value > 65535)
    return vl::Status::failure(1, "--listen: the port must be 0 to 65535 (0: any free port)");
  *host = h;
  *port = static_cast<int>(value);
  return vl::Status::success();
}

bool isLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

vl::Result<ServiceOptions> parseServiceOptions(std::vector<std::string> args, const ServiceEnvironment& env) {
  auto usage = [](const std::string& why) { return vl::Status::failure(2, why); };
  ServiceOptions o;
  for (const auto& a : args) {
    if (vl::cli::isHelp(a)) {
      o.help = true;
      return o;
    }
  }
  std::string listen, threads, world;
  bool haveListen = false, haveStorage = false, haveCatalogue = false, haveAddress = false, haveWorld = false,
       haveThreads = false;
  std::string error;
  haveListen = vl::cli::takeOption(args, "--listen", &listen, &error);
  if (error.empty()) haveStorage = vl::cli::takeOption(args, "--storage", &o.storage, &error);
  if (error.empty()) haveCatalogue = vl::cli::takeOption(args, "--catalogue", &o.catalogue, &error);
  if (error.empty()) haveAddress = vl::cli::takeOption(args, "--address-file", &o.addressFile, &error);
  if (error.empty()) haveWorld = vl::cli::takeOption(args, "--world", &world, &error);
  if (error.empty()) haveThreads = vl::cli::takeOption(args, "--threads", &threads, &error);
  bool haveCert = false, haveKey = false;
  if (error.empty()) haveCert = vl::cli::takeOption(args, "--tls-cert", &o.tlsCert, &error);
  if (error.empty()) haveKey = vl::cli::takeOption(args, "--tls-key", &o.tlsKey, &error);
  if (!error.empty()) return usage(error);
  o.isPublic = vl::cli::takeFlag(args, "--public");
  if (!args.empty()) {
    static const std::vector<std::string> known = {"--listen", "--storage",  "--catalogue", "--world",
                                                   "--address-file", "--threads", "--public", "--help",
                                                   "--tls-cert", "--tls-key"};
    std::string word = args.front().substr(0, args.front().find('='));
    return usage("unknown option '" + args.front() + "'" + vl::cli::didYouMean(word, known));
  }
  if (haveCert != haveKey || (haveCert && (o.tlsCert.empty() || o.tlsKey.empty())))
    return usage("--tls-cert FILE and --tls-key FILE go together (PEM certificate chain and its private key)");
  if (haveListen) {
    if (vl::Status parsed = parseListen(listen, &o.host, &o.port); !parsed) return usage(parsed.detail());
  }
  if (!isLoopback(o.host) && !o.isPublic)
    return usage("--listen " + o.host + " is not a loopback address: pass --public to listen there (with --tls-cert "
                 "and --tls-key, or behind a TLS proxy: the clients speak only HTTPS to other hosts)");
  if (haveThreads) {
    unsigned long long n = 0;
    if (!vl::cli::parseUnsigned(threads, &n) || n < 1 || n > 64) return usage("--threads must be 1 to 64");
    o.threads = static_cast<int>(n);
  }
  if (haveStorage && o.storage.empty())
    return usage("--storage needs a URL (sqlite:PATH or postgresql://...)");
  o.world = haveWorld ? world : env.world;
  if (!o.world.empty()) {
    if (!haveStorage) o.storage = "sqlite:" + o.world + "/service/service.sqlite";
    if (!haveAddress) o.addressFile = o.world + "/service/url";
  } else if (!haveStorage) {
    std::string data = !env.dataHome.empty() && env.dataHome[0] == '/' ? env.dataHome
                                                                         : (env.home.empty() ? "/tmp" : env.home) + "/.local/share";
    o.storage = "sqlite:" + data + "/velmora/service.sqlite";
  }
  if (!haveCatalogue) o.catalogue = env.resources + "/service-catalogue.txt";
  return o;
}

}  // namespace svc
