// velmora-service-load: fills a service's storage with realistic rows and measures uploads per
// second and ranking latency over HTTP keep-alive connections from several threads.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/plist/number_text.h"
#include "tools/service/load/postgres_server.h"
#include "tools/common/cli_args.h"
#include "tools/common/suggest.h"
#include "tools/service/load/workload.h"
#include "tools/service/storage.h"

namespace {

using Clock = std::chrono::steady_clock;
using vl::cli::Args;

constexpr const char* kHelp =
    "usage: velmora-service-load [options]\n"
    "Fills a Velmora web service's storage and measures it over HTTP.\n"
    "  --storage URL       storage to fill with --seed (sqlite:PATH, postgresql://...)\n"
    "  --seed ROWS         empty the storage and store ROWS realistic rows directly\n"
    "  --url URL           the running service, e.g. http://127.0.0.1:8461\n"
    "  --uploads N         send N uploads, each from a new machine (default 0)\n"
    "  --rankings N        ask for N rankings of popular models (default 0)\n"
    "  --spread N          with --seed: also N rows of one model, each a setting of its own\n"
    "  --ranking-path WHICH  print the ranking request path of the most popular model\n"
    "                      (popular) or of the --spread model (spread), and stop\n"
    "  --threads T         client threads, one keep-alive connection each (default 2)\n"
    "  --json              print the figures as one JSON object\n"
    "  --postgres-start FILE  start a throwaway PostgreSQL server in a temporary folder, print\n"
    "                      its storage URL and record it in FILE (or why it could not start)\n"
    "  --postgres-stop FILE   stop and remove the server FILE records, and FILE\n"
    "  --help              this text\n";

struct Figures {
  int64_t count = 0;
  int64_t errors = 0;
  double seconds = 0;
  std::vector<double> latenciesMs;  // sorted
  std::map<int, int64_t> failures;   // by HTTP status; 0 when no answer came
};

double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

// Splits `total` requests over `threads` clients, each with its own keep-alive connection, and
// times every request.
template <typename MakePath>
Figures runRequests(const std::string& url, int64_t total, int threads, MakePath makePath) {
  Figures f;
  std::atomic<int64_t> next{0}, errors{0};
  std::vector<std::vector<double>> latencies(threads);
  std::vector<std::map<int, int64_t>> failures(threads);
  std::vector<std::thread> workers;
  auto start = Clock::now();
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      httplib::Client client(url);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      client.set_connection_timeout(5, 0);
      client.set_read_timeout(30, 0);
      load::Workload workload(static_cast<uint64_t>(t) + 1000);
      for (int64_t i; (i = next.fetch_add(1)) < total;) {
        std::string path = makePath(workload, i);
        auto begin = Clock::now();
        auto res = client.Get(path);
        latencies[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        if (!res || res->status != 200) {
          errors.fetch_add(1);
          ++failures[t][res ? res->status : 0];
        }
      }
    });
  }
  for (auto& w : workers) w.join();
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (auto& l : latencies) f.latenciesMs.insert(f.latenciesMs.end(), l.begin(), l.end());
  for (auto& byStatus : failures)
    for (auto [status, n] : byStatus) f.failures[status] += n;
  std::sort(f.latenciesMs.begin(), f.latenciesMs.end());
  f.count = static_cast<int64_t>(f.latenciesMs.size());
  f.errors = errors.load();
  return f;
}

std::string text(double v, int digits) { return pl::formatFixed(v, digits); }

// " (503: 2, no answer: 1)" or nothing.
std::string failureText(const Figures& f) {
  std::string t;
  for (auto [status, n] : f.failures)
    t += (t.empty() ? " (" : ", ") + (status ? std::to_string(status) : std::string("no answer")) + ": " + std::to_string(n);
  return t.empty() ? t : t + ")";
}

std::string describe(const char* name, const Figures& f) {
  double rate = f.seconds > 0 ? static_cast<double>(f.count) / f.seconds : 0;
  return std::string(name) + ": " + std::to_string(f.count) + " in " + text(f.seconds, 2) + " s, " + text(rate, 1) +
         "/s, latency p50 " + text(percentile(f.latenciesMs, 50), 2) + " ms, p90 " +
         text(percentile(f.latenciesMs, 90), 2) + " ms, p99 " + text(percentile(f.latenciesMs, 99), 2) +
         " ms, max " + text(f.latenciesMs.empty() ? 0 : f.latenciesMs.back(), 2) + " ms, errors " +
         std::to_string(f.errors) + failureText(f);
}

std::string json(const Figures& f) {
  double rate = f.seconds > 0 ? static_cast<double>(f.count) / f.seconds : 0;
  return "{\"count\":" + std::to_string(f.count) + ",\"errors\":" + std::to_string(f.errors) +
         ",\"seconds\":" + text(f.seconds, 3) + ",\"per_second\":" + text(rate, 1) +
         ",\"p50_ms\":" + text(percentile(f.latenciesMs, 50), 3) + ",\"p90_ms\":" +
         text(percentile(f.latenciesMs, 90), 3) + ",\"p99_ms\":" + text(percentile(f.latenciesMs, 99), 3) +
         ",\"max_ms\":" + text(f.latenciesMs.empty() ? 0 : f.latenciesMs.back(), 3) + "}";
}

int seed(const std::string& storageUrl, int64_t rows, int64_t spread, bool quiet) {
  auto opened = svc::openStorage(storageUrl);
  if (!opened) {
    std::cerr << "velmora-service-load: cannot open the storage: " << opened.status().detail() << "\n";
    return 1;
  }
  std::unique_ptr<svc::Storage> storage = std::move(opened).value();
  if (auto st = storage->clearAll(); !st.ok()) {
    std::cerr << "velmora-service-load: cannot empty the storage: " << st.message << "\n";
    return 1;
  }
  load::Workload workload(1);
  constexpr int64_t kChunk = 50000;
  auto start = Clock::now();
  std::vector<svc::UploadRow> chunk;
  for (int64_t at = 0; at < rows; at += kChunk) {
    chunk.clear();
    for (int64_t r = at; r < std::min(rows, at + kChunk); ++r) chunk.push_back(workload.seedRow(r));
    if (auto st = storage->bulkInsert(chunk); !st.ok()) {
      std::cerr << "velmora-service-load: bulk insert failed: " << st.message << "\n";
      return 1;
    }
    if (!quiet && isatty(2)) std::cerr << "\rseeded " << std::min(rows, at + kChunk) << " rows" << std::flush;
  }
  for (int64_t at = 0; at < spread; at += kChunk) {
    chunk.clear();
    for (int64_t r = at; r < std::min(spread, at + kChunk); ++r) chunk.push_back(load::spreadRow(r));
    if (auto st = storage->bulkInsert(chunk); !st.ok()) {
      std::cerr << "velmora-service-load: bulk insert failed: " << st.message << "\n";
      return 1;
    }
  }
  int64_t count = 0;
  if (auto st = storage->rowCount(&count); !st.ok()) {
    std::cerr << "\nvelmora-service-load: cannot count the rows: " << st.message << "\n";
    return 1;
  }
  if (!quiet)
    std::cerr << "\rseeded " << count << " rows into " << storage->describe() << " in "
              << text(std::chrono::duration<double>(Clock::now() - start).count(), 1) << " s\n";
  if (count != rows + spread) {
    std::cerr << "velmora-service-load: the storage holds " << count << " rows, not " << rows + spread << "\n";
    return 1;
  }
  return 0;
}

// Starts a throwaway server that outlives this program (for a test run or a measurement).
int postgresStart(const std::string& stateFile) {
  svc::load::PostgresServer server("velmora_load");
  bool saved = server.saveTo(stateFile);
  if (!server.started()) {
    std::cerr << "velmora-service-load: cannot start PostgreSQL: " << server.whyNot() << "\n";
    return saved ? 3 : 1;
  }
  if (!saved) {
    std::cerr << "velmora-service-load: cannot write " << stateFile << "\n";
    svc::load::PostgresServer::stopSaved(stateFile);
    return 1;
  }
  std::cout << server.url() << std::endl;
  return 0;
}

bool takeCount(Args& args, const std::string& name, int64_t minimum, int64_t maximum, int64_t* out, std::string* error) {
  std::string value;
  if (!vl::cli::takeOption(args, name, &value, error)) return error->empty();
  unsigned long long n = 0;
  if (!vl::cli::parseUnsigned(value, &n) || n < static_cast<unsigned long long>(minimum) ||
      n > static_cast<unsigned long long>(maximum)) {
    *error = name + " wants a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum);
    return false;
  }
  *out = static_cast<int64_t>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Args args(argv + 1, argv + argc);
  for (const auto& a : args) {
    if (vl::cli::isHelp(a)) {
      std::cout << kHelp;
      return 0;
    }
  }
  std::string error, url, storageUrl;
  int64_t rows = -1, uploads = 0, rankings = 0, threads = 2;
  bool ok = true;
  for (const char* name : {"--postgres-start", "--postgres-stop"}) {
    std::string stateFile;
    if (vl::cli::takeOption(args, name, &stateFile, &error) || !error.empty()) {
      if (!error.empty() || !args.empty()) {
        std::cerr << "velmora-service-load: " << name << " FILE takes no other options\n";
        return 2;
      }
      if (std::string(name) == "--postgres-stop") {
        svc::load::PostgresServer::stopSaved(stateFile);
        return 0;
      }
      return postgresStart(stateFile);
    }
  }
  std::string which;
  if (vl::cli::takeOption(args, "--ranking-path", &which, &error) || !error.empty()) {
    if (!error.empty() || !args.empty() || (which != "popular" && which != "spread")) {
      std::cerr << "velmora-service-load: --ranking-path takes popular or spread, and no other options\n";
      return 2;
    }
    std::cout << load::rankingPathFor(which == "popular" ? load::modelAt(0) : load::spreadModel()) << "\n";
    return 0;
  }
  int64_t spread = 0;
  bool asJson = vl::cli::takeFlag(args, "--json");
  if (!vl::cli::takeOption(args, "--url", &url, &error) && !error.empty()) ok = false;
  if (ok && !vl::cli::takeOption(args, "--storage", &storageUrl, &error) && !error.empty()) ok = false;
  ok = ok && takeCount(args, "--seed", 1, 100000000, &rows, &error);
  ok = ok && takeCount(args, "--uploads", 0, 100000000, &uploads, &error);
  ok = ok && takeCount(args, "--rankings", 0, 100000000, &rankings, &error);
  ok = ok && takeCount(args, "--threads", 1, 256, &threads, &error);
  ok = ok && takeCount(args, "--spread", 0, 10000000, &spread, &error);
  if (ok && !args.empty()) {
    static const std::vector<std::string> known = {"--url",     "--storage", "--seed", "--uploads",          "--rankings",
                                                   "--threads", "--json",    "--help", "--postgres-start", "--postgres-stop",
                                                   "--spread", "--ranking-path"};
    std::string word = args.front().substr(0, args.front().find('='));
    error = "unknown option '" + args.front() + "'" + vl::cli::didYouMean(word, known);
    ok = false;
  }
  if (ok && rows >= 0 && storageUrl.empty()) error = "--seed needs --storage", ok = false;
  if (ok && (uploads > 0 || rankings > 0) && url.empty()) error = "--uploads and --rankings need --url", ok = false;
  if (ok && rows < 0 && uploads == 0 && rankings == 0) error = "nothing to do: give --seed, --uploads or --rankings", ok = false;
  if (!ok) {
    std::cerr << "velmora-service-load: " << error << "\n";
    return 2;
  }

  if (rows >= 0) {
    if (int rc = seed(storageUrl, rows, spread, asJson); rc != 0) return rc;
  }
  Figures up, rank;
  if (uploads > 0) {
    up = runRequests(url, uploads, static_cast<int>(threads),
                     [](load::Workload& w, int64_t i) { return w.uploadPath(i); });
  }
  if (rankings > 0) {
    rank = runRequests(url, rankings, static_cast<int>(threads),
                       [](load::Workload& w, int64_t) { return w.rankingPath(); });
  }
  if (asJson) {
    std::cout << "{\"threads\":" << threads << ",\"seeded\":" << std::max<int64_t>(rows, 0)
              << ",\"uploads\":" << json(up) << ",\"rankings\":" << json(rank) << "}\n";
  } else {
    if (uploads > 0) std::cout << describe("uploads", up) << " (" << threads << " threads)\n";
    if (rankings > 0) std::cout << describe("rankings", rank) << " (" << threads << " threads)\n";
  }
  return (up.errors || rank.errors) ? 1 : 0;
}
