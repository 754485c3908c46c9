// velmora-service's command line: the options, their defaults (which depend on the world and
// the user's data folder) and the checks that refuse a bad one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/api/status.h"

namespace svc {

inline constexpr int kDefaultPort = 47810;

struct ServiceOptions {
  std::string host = "127.0.0.1";
  int port = kDefaultPort;
  std::string storage;      // storage URL
  std::string catalogue;    // catalogue file
  std::string addressFile;  // empty: none written
  std::string world;        // the world folder when there is one
  int threads = 4;
  std::string tlsCert;  // PEM files: both set -> HTTPS
  std::string tlsKey;
  bool isPublic = false;
  bool help = false;
};

// Where things go by default, from the environment (passed in so tests need not change it).
struct ServiceEnvironment {
  std::string world;     // $VELMORA_WORLD
  std::string dataHome;  // $XDG_DATA_HOME
  std::string home;      // $HOME
  std::string resources; // the folder holding the shipped catalogue
  static ServiceEnvironment fromProcess(const std::string& resources);
};

// "HOST:PORT", "[V6]:PORT" or ":PORT" (loopback); PORT 0..65535.
vl::Status parseListen(const std::string& text, std::string* host, int* port);
// 127.0.0.0/8, ::1 and "localhost".
bool isLoopback(const std::string& host);

// Parses argv (without the program name) and fills the defaults. A usage error is a failure
// of code 2 (the exit status) whose detail is one line, naming the nearest valid option for a
// mistyped one.
vl::Result<ServiceOptions> parseServiceOptions(std::vector<std::string> args, const ServiceEnvironment& env);

}  // namespace svc
