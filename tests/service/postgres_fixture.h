// Service tests' PostgreSQL: one throwaway server for the whole test program, started on first
// use, and a bare libpq session for doing things behind the storage's back.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>

#include "tools/service/load/postgres_server.h"

namespace vl::test {
using svc::load::PostgresServer;

// Under ctest one server serves every test process (VELMORA_TEST_POSTGRES names its state
// file; the tests take turns through a resource lock). Run alone, the program starts its own,
// stopped and removed when it ends. Check started() and skip with whyNot() when not running.
inline PostgresServer* sharedPostgres() {
  static std::unique_ptr<PostgresServer> server = [] {
    const char* state = getenv("VELMORA_TEST_POSTGRES");
    if (state && *state) return PostgresServer::attach(state);
    return std::make_unique<PostgresServer>("velmora_service_test");
  }();
  return server.get();
}

class PostgresSession {
 public:
  static std::unique_ptr<PostgresSession> open(const std::string& url, std::string* error) {
    PGconn* c = PQconnectdb(url.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
      *error = PQerrorMessage(c);
      PQfinish(c);
      return nullptr;
    }
    return std::unique_ptr<PostgresSession>(new PostgresSession(c));
  }
  ~PostgresSession() { PQfinish(conn_); }
  // A fixed statement of the test's own (no outside text in it).
  bool exec(const char* sql) {
    PGresult* r = PQexec(conn_, sql);
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    PQclear(r);
    return ok;
  }

 private:
  explicit PostgresSession(PGconn* c) : conn_(c) {}
  PGconn* conn_;
};

}  // namespace vl::test
