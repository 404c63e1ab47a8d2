// The ODBC configuration of a test process, shared by the tests of the ODBC-based connectors
// and their client libraries: one private odbcinst.ini / odbc.ini per process (ODBCSYSINI and
// ODBCINI point at a temporary directory before the first ODBC call) with the drivers SQLITE3
// and PG; data sources are appended with unique names as tests need them. TW_PG_PORT names
// the PostgreSQL cluster of scripts/pg.sh when one runs.
#ifndef TW_TESTS_LINK_ODBC_TEST_CONFIG_H_
#define TW_TESTS_LINK_ODBC_TEST_CONFIG_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plat_test_util.h"

namespace odbc_test {

// The first existing file among the driver's usual places.
inline std::string FindDriver(std::initializer_list<const char*> names) {
  const char* dirs[] = {"/usr/lib/x86_64-linux-gnu/odbc/",
                        "/usr/lib/odbc/",
                        "/usr/lib64/odbc/",
                        "/usr/local/lib/odbc/",
                        "/usr/lib/x86_64-linux-gnu/",
                        "/usr/lib64/",
                        "/usr/local/lib/"};
  for (const char* dir : dirs)
    for (const char* name : names) {
      std::error_code ec;
      if (std::filesystem::exists(std::string(dir) + name, ec)) return std::string(dir) + name;
    }
  return names.size() > 0 ? *names.begin() : "";
}

// The process's ODBC configuration: the drivers SQLITE3 and PG, and the data sources added.
// The driver manager reads the files again at each connect, so an appended source is usable
// at once.
class OdbcConfig {
 public:
  static OdbcConfig& Get() {
    static OdbcConfig config;
    return config;
  }
  const std::string& dir() const { return dir_.path(); }

  // Appends a data source [name] of driver with the attributes given (key, value).
  void AddSource(const std::string& name, const std::string& driver,
                 const std::vector<std::pair<std::string, std::string>>& attributes) {
    std::ofstream out(dir_ / "odbc.ini", std::ios::app);
    out << "[" << name << "]\nDriver=" << driver << "\n";
    for (const auto& [key, value] : attributes) out << key << "=" << value << "\n";
    out << "\n";
    EXPECT_TRUE(out.good()) << name;
  }
  // A name no other source of this process has.
  std::string UniqueName(const std::string& prefix) {
    return prefix + std::to_string(::getpid()) + "_" + std::to_string(++sources_);
  }

 private:
  OdbcConfig() {
    std::ofstream(dir_ / "odbcinst.ini")
        << "[SQLITE3]\nDriver=" << FindDriver({"libsqlite3odbc.so"})
        << "\n\n[PG]\nDriver=" << FindDriver({"psqlodbcw.so"}) << "\n\n";
    std::ofstream(dir_ / "odbc.ini") << "";
    ::setenv("ODBCSYSINI", dir_.path().c_str(), 1);
    ::setenv("ODBCINI", (dir_ / "odbc.ini").c_str(), 1);
  }
  twtest::TempDir dir_;
  int sources_ = 0;
};

inline std::optional<std::string> PgPort() {
  const char* port = std::getenv("TW_PG_PORT");
  if (port == nullptr || *port == '\0') return std::nullopt;
  return std::string(port);
}
inline bool PgAvailable() {
  return PgPort().has_value();
}

}  // namespace odbc_test

#endif  // TW_TESTS_LINK_ODBC_TEST_CONFIG_H_
