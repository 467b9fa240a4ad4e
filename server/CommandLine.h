// The options of centervendor-server.
#pragma once

#include "ops/RequestLog.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::server {

struct ServerOptions
{
    std::string db; // a SQLite file, or a postgresql:// URI
    std::string host = "127.0.0.1";
    int port = 8080; // 0: any free port
    bool sample = false;
    bool help = false;
    std::size_t dbConnections = 8;
    bool version = false;

    // Operating the server.
    std::string metricsHost{}; // empty: no metrics listener
    int metricsPort = 0;
    LogFormat logFormat = LogFormat::Text;
    std::chrono::seconds shutdownGrace{30}; // requests in flight may finish for this long
};

struct CommandLineParse
{
    bool ok = false;
    ServerOptions options;
    std::string message; // what is wrong with the arguments; empty when ok
};

// `args` without the program name. Accepts "--name value" and "--name=value"; --db is
// required unless --help or --version is given. Never throws.
CommandLineParse parseCommandLine(const std::vector<std::string> &args);

// "HOST:PORT" or "[IPv6]:PORT" with a port from 0 to 65535; false when malformed.
bool parseListenAddress(std::string_view text, std::string &host, int &port);

std::string usageText(const std::string &program);

} // namespace tarvo::server
