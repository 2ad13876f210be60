#pragma once

// A database of its own for one test, on the throwaway PostgreSQL server that
// scripts/with-postgres starts (TOVRIN_TEST_POSTGRES names it): created empty,
// dropped at the end with whatever is still connected to it.

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

class ScratchDatabase {
 public:
  // wanted false: no database, and no server asked for (a test of another engine).
  explicit ScratchDatabase(bool wanted = true) {
    if (!wanted) return;
    const char* server = std::getenv("TOVRIN_TEST_POSTGRES");
    if (server == nullptr || *server == 0) {
      error_ = "no PostgreSQL server given: run the tests through scripts/with-postgres (scripts/test does)";
      return;
    }
    static std::atomic<int> made{0};
    name_ = "tovrin_t" + std::to_string(::getpid()) + "_" + std::to_string(made++);
    admin_ = server;
    if (Admin("CREATE DATABASE " + name_)) url_ = "postgresql:///" + name_;
  }
  ~ScratchDatabase() {
    if (!url_.empty()) Admin("DROP DATABASE " + name_ + " WITH (FORCE)");
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  // Empty when there is no server, or the database could not be made (Error() says why).
  const std::string& Url() const { return url_; }
  const std::string& Error() const { return error_; }
  const std::string& Name() const { return name_; }

  // Runs one statement on the server's maintenance database; false with Error() set.
  bool Admin(const std::string& sql) {
    PGconn* conn = PQconnectdb(admin_.c_str());
    bool ok = PQstatus(conn) == CONNECTION_OK;
    if (ok) {
      PGresult* res = PQexec(conn, sql.c_str());
      ok = PQresultStatus(res) == PGRES_COMMAND_OK || PQresultStatus(res) == PGRES_TUPLES_OK;
      PQclear(res);
    }
    if (!ok) error_ = PQerrorMessage(conn);
    PQfinish(conn);
    return ok;
  }

  // Runs one statement in this test's database.
  bool Run(const std::string& sql) {
    const std::string saved = admin_;
    admin_ = url_;
    const bool ok = Admin(sql);
    admin_ = saved;
    return ok;
  }

 private:
  std::string admin_;
  std::string name_;
  std::string url_;
  std::string error_;
};
