// velmora-service: the reference web service for shared settings, recommended settings and the
// version list, on libmicrohttpd with SQLite (or PostgreSQL) storage.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/plist/codec.h"
#include "tools/service/http_server.h"
#include "tools/service/options.h"

namespace {

const char* kHelp =
    "usage: velmora-service [--listen HOST:PORT] [--storage URL] [--catalogue FILE] [--world DIR]\n"
    "                       [--address-file FILE] [--threads N] [--public]\n"
    "                       [--tls-cert FILE --tls-key FILE] [--help]\n\n"
    "The web service of shared cursor speeds: stores uploads (/velmora/xml/setting.php), answers\n"
    "the recommended-settings ranking (/velmora/xml/setting_rank.php) and the versions on offer\n"
    "(/velmora/xml/file.php). It speaks HTTPS with --tls-cert and --tls-key, else plain HTTP\n"
    "(the clients speak plain HTTP only to this machine).\n\n"
    "  --listen HOST:PORT   where to listen (default 127.0.0.1:47810; port 0: any free port)\n"
    "  --public             allow a HOST that is not a loopback address\n"
    "  --storage URL        sqlite:PATH (or a bare path) or postgresql://USER@HOST/DB (default:\n"
    "                       <world>/service/service.sqlite with a world, else\n"
    "                       $XDG_DATA_HOME/velmora/service.sqlite)\n"
    "  --catalogue FILE     the version catalogue: lines \"APP FILE [MIN_OSV]\" (default: the\n"
    "                       shipped service-catalogue.txt)\n"
    "  --world DIR          the simulated Mac it serves (default: $VELMORA_WORLD); sets the\n"
    "                       storage and address-file defaults inside it\n"
    "  --address-file FILE  written once listening: the base URL, such as http://127.0.0.1:47810\n"
    "                       (default with a world: <world>/service/url); removed at exit\n"
    "  --threads N          worker threads, 1 to 64 (default 4)\n"
    "  --tls-cert FILE      PEM certificate (chain) to serve HTTPS with; needs --tls-key\n"
    "  --tls-key FILE       PEM private key of that certificate\n"
    "  --help\n\n"
    "One line per request goes to standard error: time, peer, method, path, status, bytes and\n"
    "handling time (never the query, which holds the machine identifier). SIGTERM or SIGINT end\n"
    "it. Exit status: 0 after a normal stop, 1 when it cannot start, 2 for usage errors.\n";

int64_t wallMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = svc::parseServiceOptions(std::vector<std::string>(argv + 1, argv + argc),
                                          svc::ServiceEnvironment::fromProcess(VELMORA_SOURCE_RESOURCES));
  if (!options) {
    std::cerr << "velmora-service: " << options.status().detail() << "\n";
    return 2;
  }
  if (options->help) {
    std::cout << kHelp;
    return 0;
  }
  auto catalogue = svc::Catalogue::load(options->catalogue);
  if (!catalogue) {
    std::cerr << "velmora-service: catalogue " << catalogue.status().detail() << "\n";
    return 1;
  }
  auto opened = svc::openStorage(options->storage);
  if (!opened) {
    std::cerr << "velmora-service: storage " << options->storage << ": " << opened.status().detail() << "\n";
    return 1;
  }
  std::unique_ptr<svc::Storage> storage = std::move(opened).value();

  // Room for the connection limit (1,024 clients) beside the database's own files.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < 4096 && files.rlim_max > files.rlim_cur) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // Signals are taken by this thread alone (sigwait below); every thread made from here on
  // inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::mutex logMutex;
  svc::Service service(*storage, std::move(*catalogue), wallMillis);
  svc::HttpServerOptions serverOptions;
  serverOptions.host = options->host;
  serverOptions.port = options->port;
  serverOptions.threads = options->threads;
  serverOptions.log = [&logMutex](const std::string& line) {
    std::lock_guard lock(logMutex);
    std::fprintf(stderr, "%s\n", line.c_str());
  };
  if (!options->tlsCert.empty()) {
    serverOptions.tlsCertPem = readWholeFile(options->tlsCert);
    serverOptions.tlsKeyPem = readWholeFile(options->tlsKey);
    if (serverOptions.tlsCertPem.empty() || serverOptions.tlsKeyPem.empty()) {
      std::cerr << "velmora-service: cannot read " << (serverOptions.tlsCertPem.empty() ? options->tlsCert : options->tlsKey)
                << "\n";
      return 1;
    }
  }
  svc::HttpServer server(service, serverOptions);
  if (vl::Status bound = server.bind(); !bound) {
    std::cerr << "velmora-service: " << bound.detail() << "\n";
    return 1;
  }
  if (vl::Status started = server.start(); !started) {
    std::cerr << "velmora-service: " << started.detail() << "\n";
    return 1;
  }
  std::string url = server.baseUrl();
  if (!options->addressFile.empty()) {
    std::error_code ec;
    auto parent = std::filesystem::path(options->addressFile).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    if (!pl::writeFileAtomic(options->addressFile,
                             std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(url.data()), url.size()),
                             &error)) {
      std::cerr << "velmora-service: cannot write the address file: " << error << "\n";
      return 1;
    }
  }
  std::fprintf(stderr, "velmora-service: listening on %s, storage %s\n", url.c_str(), storage->describe().c_str());

  bool served = true;
  std::thread worker([&] {
    served = server.run();
    kill(getpid(), SIGUSR1);  // tells the waiting main thread that serving ended by itself
  });
  int received = 0;
  sigwait(&signals, &received);
  server.stop();
  worker.join();
  // Only our own address: a newer service on the same world may have replaced the file.
  if (!options->addressFile.empty() && readSmallFile(options->addressFile) == url) {
    std::filesystem::remove(options->addressFile);
  }
  if (received == SIGUSR1 && !served) {
    std::cerr << "velmora-service: serving stopped unexpectedly\n";
    return 1;
  }
  std::fprintf(stderr, "velmora-service: stopped\n");
  return 0;
}
