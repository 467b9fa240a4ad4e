// The options of centervendor-server.
#pragma once

#include "ops/RequestLog.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server {

// Who may connect and what they may change.
struct AccessOptions
{
    std::string usersFile;     // every request needs Basic credentials of a user listed there
    std::string addUser;       // with usersFile: add or replace this user, then exit
    std::string centers = "*"; // the new user's centers
    std::string tlsCert;       // with tlsKey: serve HTTPS only
    std::string tlsKey;
    std::vector<std::string> allowedOrigins; // a POST naming another Origin is refused
    std::vector<std::string> serverNames;    // when given, a Host naming another is refused
    std::string tlsPriorities;               // GnuTLS priority string; empty: the default
    std::vector<std::string> trustedProxies; // load balancers whose X-Forwarded-For counts
    std::string stateDir; // where the users' home addresses are kept; empty: in memory only

    bool operator==(const AccessOptions &) const = default;
};

struct ServerOptions
{
    std::string db; // a SQLite file, or a postgresql:// URI
    std::string host = "127.0.0.1";
    int port = 8080; // 0: any free port
    bool sample = false;
    bool help = false;
    std::size_t dbConnections = 8;
    AccessOptions access = {};
    bool version = false;
    std::string backup{}; // with a SQLite db: write a copy of it here and exit

    // Operating the server.
    std::string metricsHost{}; // empty: no metrics listener
    int metricsPort = 0;
    ops::LogFormat logFormat = ops::LogFormat::Text;
    std::chrono::seconds shutdownGrace{30}; // requests in flight may finish for this long
    std::string dbPasswordFile{};           // with a PostgreSQL db: the file holding its password
};

struct CommandLineParse
{
    bool ok = false;
    ServerOptions options;
    std::string message; // what is wrong with the arguments; empty when ok
};

// `args` without the program name. Accepts "--name value" and "--name=value"; --db is
// required unless --help, --version or --add-user is given, and --backup needs it. Never
// throws.
CommandLineParse parseCommandLine(const std::vector<std::string> &args);

// "HOST:PORT" or "[IPv6]:PORT" with a port from 0 to 65535; false when malformed.
bool parseListenAddress(std::string_view text, std::string &host, int &port);

std::string usageText(const std::string &program);

} // namespace tarvo::server
