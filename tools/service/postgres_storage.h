// The web service's PostgreSQL storage (libpq): a small pool of connections, each with its own
// prepared statements, over one table keyed by machine and device model.
#pragma once

#include <memory>
#include <string>

#include "tools/service/storage.h"

namespace svc {

struct PostgresOptions {
  // Most connections open at once; a caller beyond that waits for one to be handed back.
  // libpq connections are never used by two threads at a time.
  int maxConnections = 16;
};

// Opens the database named by a libpq URL ("postgresql://user@host/db",
// "postgresql:///db?host=/socket/dir"), creating the table and its indexes on first use.
// A failure when the server cannot be reached or the schema cannot be made.
vl::Result<std::unique_ptr<Storage>> openPostgresStorage(const std::string& url, const PostgresOptions& options);

}  // namespace svc
