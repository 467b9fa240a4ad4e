// The options through CLI11: it splits the arguments ("--name value", "--name=value") and
// writes the help; every value is checked here, so that each mistake gets its own message.
#include "CommandLine.h"

#include "auth/Users.h"
#include "store/Store.h"

#include <CLI/CLI.hpp>
#include <arpa/inet.h>
#include <charconv>
#include <memory>
#include <optional>
#include <system_error>
#include <tuple>

namespace tarvo::server {

namespace {

// The values as written, before they are checked.
struct Written
{
    std::optional<std::string> db, dbConnections, listen, metricsListen, logFormat, grace;
    std::optional<std::string> usersFile, addUser, centers, tlsCert, tlsKey, backup;
    std::optional<std::string> dbPasswordFile, stateDir;
    std::vector<std::string> origins, serverNames;
    std::optional<std::string> tlsPriorities;
    std::vector<std::string> trustedProxies;
    bool help = false;
    bool version = false;
    bool sample = false;
};

// Takes at most one value, so that a missing one is ours to word; given twice, the last one
// counts.
CLI::Option *valueOption(CLI::App &app, const std::string &name, std::optional<std::string> &into,
                         const std::string &help, const std::string &type)
{
    return app
        .add_option_function<std::vector<std::string>>(
            name,
            [&into](const std::vector<std::string> &values) {
                into = values.empty() ? std::string() : values.back();
            },
            help)
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name(type);
}

// Repeatable; every use adds one value (an empty one when it has none).
CLI::Option *listOption(CLI::App &app, const std::string &name, std::vector<std::string> &into,
                        const std::string &help, const std::string &type)
{
    return app
        .add_option_function<std::vector<std::string>>(
            name,
            [&into](const std::vector<std::string> &values) {
                into.insert(into.end(), values.begin(), values.end());
                if (values.empty()) {
                    into.emplace_back();
                }
            },
            help)
        ->expected(0, 1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name(type);
}

CLI::Option *flag(CLI::App &app, const std::string &name, bool &into, const std::string &help)
{
    return app.add_flag(name, into, help)->disable_flag_override();
}

// The options as CLI11 knows them; their texts are the help and the manual page.
std::unique_ptr<CLI::App> makeApp(const std::string &program, Written &w)
{
    auto app = std::make_unique<CLI::App>(
        "Serves /CenterVendor.asp for the CenterVendor control from a SQLite file or a "
        "PostgreSQL database, and GET /healthz (200 ok, or 503 while the database does not "
        "answer) for load balancers.\nAdds a user instead: " +
            program + " --users FILE --add-user NAME [--centers LIST]\n",
        program);
    app->set_help_flag();
    app->allow_extras();
    app->get_formatter()->column_width(32);
    flag(*app, "-h,--help", w.help, "show this text");
    flag(*app, "--version", w.version, "show the version");
    valueOption(*app, "--db", w.db,
                "a SQLite database file, created with its schema when missing; or a PostgreSQL "
                "URI postgresql://USER@HOST:PORT/DBNAME (any libpq URI), the schema created "
                "when missing. A password comes from --db-password-file, the URI, PGPASSWORD or "
                "~/.pgpass (PGPASSFILE) and is never shown",
                "PATH|URI");
    valueOption(*app, "--db-password-file", w.dbPasswordFile,
                "with a PostgreSQL --db: its password is the first line of FILE (for services; "
                "readable by the server's user and group only), over one in the URI",
                "FILE");
    valueOption(*app, "--backup", w.backup,
                "with a SQLite --db: write a consistent copy of it to the new file OUT while "
                "servers keep using it, check the copy with PRAGMA integrity_check and exit (0 "
                "only for a complete, sound copy); the database itself is only read. For "
                "PostgreSQL use pg_dump",
                "OUT");
    valueOption(*app, "--db-connections", w.dbConnections,
                "database connections this process holds at most (default 8); requests beyond "
                "them wait for a free one",
                "N");
    valueOption(*app, "--listen", w.listen,
                "address to serve on (default 127.0.0.1:8080); port 0 picks a free port. The "
                "first line on stdout names the address: listening on http://ADDR:PORT",
                "ADDR:PORT");
    flag(*app, "--sample", w.sample,
         "fill a new, empty database with sample centers, vendors and assignments (a database "
         "holding data is kept as it is)");
    valueOption(*app, "--metrics-listen", w.metricsListen,
                "serve GET /metrics (Prometheus text format) on a listener of its own; off by "
                "default. The second line on stdout names it: metrics on "
                "http://ADDR:PORT/metrics",
                "ADDR:PORT");
    valueOption(*app, "--log-format", w.logFormat,
                "the request log on stderr: text (default), one readable line per request, or "
                "json, one object per line (so is every other line on stderr)",
                "text|json");
    valueOption(*app, "--shutdown-grace", w.grace,
                "on SIGINT or SIGTERM, stop accepting and let requests in flight finish for up "
                "to S seconds (default 30), then exit; /healthz answers 503 from the signal on",
                "S");
    valueOption(*app, "--tls-cert", w.tlsCert,
                "serve HTTPS only, with this PEM certificate (chain)", "FILE");
    valueOption(*app, "--tls-key", w.tlsKey,
                "and this PEM private key; the server does not start when either cannot be read "
                "or they do not match",
                "FILE");
    valueOption(*app, "--tls-priorities", w.tlsPriorities,
                "with --tls-cert: the GnuTLS priority string (default: TLS 1.2 and 1.3, "
                "forward-secret AEAD suites, the server's order first)",
                "STRING");
    valueOption(*app, "--users", w.usersFile,
                "every request needs HTTP Basic credentials of a user in FILE (lines "
                "name:hash:centers, centers \"*\" or ids like 1,2; \"#\" starts a comment); FILE "
                "is read again when it changes or on SIGHUP. Without --users anyone may read and "
                "change anything",
                "FILE");
    valueOption(*app, "--add-user", w.addUser,
                "with --users: read a password line from stdin, add or replace NAME in FILE "
                "(written anew, then renamed) and exit",
                "NAME");
    valueOption(*app, "--centers", w.centers,
                "with --add-user: \"*\" (default) or the center ids NAME may read and change, "
                "like 1,2",
                "LIST");
    listOption(*app, "--allow-origin", w.origins,
               "a POST carrying an Origin header other than these (for example "
               "https://desk.example.com) is refused; repeatable",
               "ORIGIN");
    listOption(*app, "--server-name", w.serverNames,
               "a request whose Host names neither the listen address nor a NAME is refused with "
               "421; repeatable",
               "NAME");
    listOption(*app, "--trusted-proxy", w.trustedProxies,
               "a load balancer at this IP address: the client is the rightmost "
               "X-Forwarded-For entry that is not a trusted proxy, and the proxy is exempt from "
               "the per-address connection limit; repeatable",
               "ADDR");
    valueOption(*app, "--state-dir", w.stateDir,
                "with --users: keep the addresses each user signed in from lately (an owner "
                "signs in from them while its name is under attack) in DIR, so that a restart "
                "does not forget them; hashed with a key of this server, forgotten after 30 days, "
                "files of mode 0600; made when missing. Without it they are kept in memory only",
                "DIR");
    return app;
}

// What CLI11 refused, in this program's words.
std::string parseProblem(const CLI::ParseError &error)
{
    std::string what = error.what();
    if (what.find("flag override") != std::string::npos) {
        for (const std::string name : {"sample", "help", "version"}) {
            if (what.rfind(name + " ", 0) == 0) {
                return "--" + name + " takes no value";
            }
        }
    }
    return what;
}

template <typename Number>
bool readNumber(const std::string &text, Number &value, Number low, Number high)
{
    const char *end = text.data() + text.size();
    Number read{};
    if (text.empty() || std::from_chars(text.data(), end, read).ptr != end || read < low ||
        read > high) {
        return false;
    }
    value = read;
    return true;
}

std::optional<std::string> accessProblem(const AccessOptions &access)
{
    if (!access.addUser.empty() && access.usersFile.empty()) {
        return "--add-user needs --users FILE";
    }
    if (access.centers != "*" && access.addUser.empty()) {
        return "--centers goes with --add-user";
    }
    if (!auth::parseCenters(access.centers)) {
        return "--centers needs \"*\" or center ids like 1,2, not \"" + access.centers + "\"";
    }
    if (!access.addUser.empty() && !auth::isValidUserName(access.addUser)) {
        return "--add-user needs a name without blanks, \":\" or \"#\"";
    }
    if (access.tlsCert.empty() != access.tlsKey.empty()) {
        return "--tls-cert and --tls-key go together";
    }
    if (!access.tlsPriorities.empty() && access.tlsCert.empty()) {
        return "--tls-priorities goes with --tls-cert";
    }
    for (const std::string &proxy : access.trustedProxies) {
        unsigned char address[16];
        if (inet_pton(AF_INET, proxy.c_str(), address) != 1 &&
            inet_pton(AF_INET6, proxy.c_str(), address) != 1) {
            return "--trusted-proxy needs an IP address, not \"" + proxy + "\"";
        }
    }
    return std::nullopt;
}

std::optional<std::string> accessFrom(const Written &w, AccessOptions &access)
{
    struct Text
    {
        const std::optional<std::string> &value;
        std::string AccessOptions::*field;
        const char *needs;
    };
    const Text texts[] = {
        {w.usersFile, &AccessOptions::usersFile, "--users needs a file"},
        {w.addUser, &AccessOptions::addUser, "--add-user needs a user name"},
        {w.centers, &AccessOptions::centers, "--centers needs \"*\" or center ids like 1,2"},
        {w.tlsCert, &AccessOptions::tlsCert, "--tls-cert needs a PEM file"},
        {w.tlsKey, &AccessOptions::tlsKey, "--tls-key needs a PEM file"},
        {w.tlsPriorities, &AccessOptions::tlsPriorities, "--tls-priorities needs a string"},
        {w.stateDir, &AccessOptions::stateDir, "--state-dir needs a folder"},
    };
    for (const Text &text : texts) {
        if (text.value) {
            if (text.value->empty()) {
                return text.needs;
            }
            access.*text.field = *text.value;
        }
    }
    for (const auto &[list, into, name] :
         {std::tuple{&w.origins, &access.allowedOrigins, "--allow-origin"},
          std::tuple{&w.serverNames, &access.serverNames, "--server-name"},
          std::tuple{&w.trustedProxies, &access.trustedProxies, "--trusted-proxy"}}) {
        for (const std::string &value : *list) {
            if (value.empty()) {
                return std::string(name) + " needs a value";
            }
            into->push_back(value);
        }
    }
    return accessProblem(access);
}

std::optional<std::string> optionsFrom(const Written &w, ServerOptions &options)
{
    options.help = w.help;
    options.version = w.version;
    options.sample = w.sample;
    if (w.db) {
        if (w.db->empty()) {
            return "--db needs a file path or a postgresql:// URI";
        }
        options.db = *w.db;
    }
    if (w.dbPasswordFile) {
        if (w.dbPasswordFile->empty()) {
            return "--db-password-file needs a file";
        }
        if (!store::isPostgresLocation(options.db)) {
            return "--db-password-file goes with a PostgreSQL --db (postgresql://...); a SQLite "
                   "file has no password";
        }
        options.dbPasswordFile = *w.dbPasswordFile;
    }
    if (w.backup) {
        if (w.backup->empty()) {
            return "--backup needs the file to write the copy to";
        }
        if (w.sample) {
            return "--backup only reads the database; it takes no --sample";
        }
        options.backup = *w.backup;
    }
    if (w.dbConnections &&
        !readNumber<std::size_t>(*w.dbConnections, options.dbConnections, 1, 1000)) {
        return "--db-connections needs a number from 1 to 1000";
    }
    if (w.listen) {
        if (w.listen->empty()) {
            return "--listen needs ADDR:PORT";
        }
        if (!parseListenAddress(*w.listen, options.host, options.port)) {
            return "--listen needs ADDR:PORT with a port from 0 to 65535, not \"" + *w.listen +
                   "\"";
        }
    }
    if (w.metricsListen &&
        !parseListenAddress(*w.metricsListen, options.metricsHost, options.metricsPort)) {
        return "--metrics-listen needs ADDR:PORT with a port from 0 to 65535";
    }
    if (w.logFormat) {
        if (*w.logFormat == "text") {
            options.logFormat = ops::LogFormat::Text;
        } else if (*w.logFormat == "json") {
            options.logFormat = ops::LogFormat::Json;
        } else {
            return "--log-format needs text or json";
        }
    }
    if (w.grace) {
        int seconds = -1;
        if (!readNumber(*w.grace, seconds, 0, 3600)) {
            return "--shutdown-grace needs a number of seconds from 0 to 3600";
        }
        options.shutdownGrace = std::chrono::seconds(seconds);
    }
    if (auto problem = accessFrom(w, options.access)) {
        return problem;
    }
    if (!w.db && !options.help && options.access.addUser.empty() && !options.version) {
        return "--db PATH is required (a SQLite file or a postgresql:// URI)";
    }
    return std::nullopt;
}

} // namespace

bool parseListenAddress(std::string_view text, std::string &host, int &port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string_view hostPart = text.substr(0, colon);
    const std::string_view portPart = text.substr(colon + 1);
    if (hostPart.size() >= 2 && hostPart.front() == '[' && hostPart.back() == ']') {
        hostPart = hostPart.substr(1, hostPart.size() - 2);
    } else if (hostPart.find(':') != std::string_view::npos) {
        return false; // an IPv6 address needs brackets to tell it from the port
    }
    if (hostPart.empty() || portPart.empty() || portPart.size() > 5) {
        return false;
    }
    int value = 0;
    const auto [ptr, error] =
        std::from_chars(portPart.data(), portPart.data() + portPart.size(), value);
    if (error != std::errc() || ptr != portPart.data() + portPart.size() || value < 0 ||
        value > 65535) {
        return false;
    }
    host = std::string(hostPart);
    port = value;
    return true;
}

CommandLineParse parseCommandLine(const std::vector<std::string> &args)
{
    CommandLineParse result;
    Written written;
    const auto app = makeApp("centervendor-server", written);
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app->parse(reversed);
    } catch (const CLI::ParseError &error) {
        result.message = parseProblem(error);
        return result;
    }
    if (const auto unknown = app->remaining(); !unknown.empty()) {
        result.message = "unknown option \"" + unknown.front() + "\"";
        return result;
    }
    if (const auto problem = optionsFrom(written, result.options)) {
        result.message = *problem;
        return result;
    }
    result.ok = true;
    return result;
}

std::string usageText(const std::string &program)
{
    Written unused;
    return makeApp(program, unused)->help();
}

} // namespace tarvo::server
