#include "CommandLine.h"

#include "auth/Users.h"

#include <charconv>
#include <functional>
#include <optional>
#include <system_error>

namespace tarvo::server {

namespace {

CommandLineParse failure(std::string message)
{
    CommandLineParse result;
    result.message = std::move(message);
    return result;
}

// nullopt when `name` is no access option; otherwise what is wrong with it, empty when nothing.
std::optional<std::string>
parseAccessOption(const std::string &name,
                  const std::function<std::optional<std::string>()> &takeValue,
                  AccessOptions &access)
{
    struct Text
    {
        const char *name;
        std::string AccessOptions::*field;
        const char *needs;
    };
    static const Text texts[] = {
        {"--users", &AccessOptions::usersFile, "--users needs a file"},
        {"--add-user", &AccessOptions::addUser, "--add-user needs a user name"},
        {"--centers", &AccessOptions::centers, "--centers needs \"*\" or center ids like 1,2"},
        {"--tls-cert", &AccessOptions::tlsCert, "--tls-cert needs a PEM file"},
        {"--tls-key", &AccessOptions::tlsKey, "--tls-key needs a PEM file"},
    };
    for (const Text &text : texts) {
        if (name == text.name) {
            const auto value = takeValue();
            if (!value || value->empty()) {
                return text.needs;
            }
            access.*text.field = *value;
            return std::string();
        }
    }
    std::vector<std::string> *list = name == "--allow-origin"  ? &access.allowedOrigins
                                     : name == "--server-name" ? &access.serverNames
                                                               : nullptr;
    if (list == nullptr) {
        return std::nullopt;
    }
    const auto value = takeValue();
    if (!value || value->empty()) {
        return name + " needs a value";
    }
    list->push_back(*value);
    return std::string();
}

std::optional<std::string> accessProblem(const AccessOptions &access)
{
    if (!access.addUser.empty() && access.usersFile.empty()) {
        return "--add-user needs --users FILE";
    }
    if (access.centers != "*" && access.addUser.empty()) {
        return "--centers goes with --add-user";
    }
    if (!parseCenters(access.centers)) {
        return "--centers needs \"*\" or center ids like 1,2, not \"" + access.centers + "\"";
    }
    if (!access.addUser.empty() && !isValidUserName(access.addUser)) {
        return "--add-user needs a name without blanks, \":\" or \"#\"";
    }
    if (access.tlsCert.empty() != access.tlsKey.empty()) {
        return "--tls-cert and --tls-key go together";
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
    ServerOptions &options = result.options;
    bool haveDb = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('=');
            name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value) {
                return value;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };

        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--sample") {
            if (value) {
                return failure("--sample takes no value");
            }
            options.sample = true;
        } else if (name == "--db") {
            const auto location = takeValue();
            if (!location || location->empty()) {
                return failure("--db needs a file path or a postgresql:// URI");
            }
            options.db = *location;
            haveDb = true;
        } else if (name == "--db-connections") {
            const auto count = takeValue();
            std::size_t value = 0;
            const char *end = count ? count->data() + count->size() : nullptr;
            if (!count || count->empty() || std::from_chars(count->data(), end, value).ptr != end ||
                value < 1 || value > 1000) {
                return failure("--db-connections needs a number from 1 to 1000");
            }
            options.dbConnections = value;
        } else if (name == "--listen") {
            const auto address = takeValue();
            if (!address) {
                return failure("--listen needs ADDR:PORT");
            }
            if (!parseListenAddress(*address, options.host, options.port)) {
                return failure("--listen needs ADDR:PORT with a port from 0 to 65535, not \"" +
                               *address + "\"");
            }
        } else if (name == "--metrics-listen") {
            const auto address = takeValue();
            if (!address ||
                !parseListenAddress(*address, options.metricsHost, options.metricsPort)) {
                return failure("--metrics-listen needs ADDR:PORT with a port from 0 to 65535");
            }
        } else if (name == "--log-format") {
            const auto format = takeValue();
            if (format && *format == "text") {
                options.logFormat = LogFormat::Text;
            } else if (format && *format == "json") {
                options.logFormat = LogFormat::Json;
            } else {
                return failure("--log-format needs text or json");
            }
        } else if (name == "--shutdown-grace") {
            const auto seconds = takeValue();
            int value = -1;
            const char *end = seconds ? seconds->data() + seconds->size() : nullptr;
            if (!seconds || seconds->empty() ||
                std::from_chars(seconds->data(), end, value).ptr != end || value < 0 ||
                value > 3600) {
                return failure("--shutdown-grace needs a number of seconds from 0 to 3600");
            }
            options.shutdownGrace = std::chrono::seconds(value);
        } else if (const auto problem = parseAccessOption(name, takeValue, options.access)) {
            if (!problem->empty()) {
                return failure(*problem);
            }
        } else {
            return failure("unknown option \"" + args[i] + "\"");
        }
    }
    if (const auto problem = accessProblem(options.access)) {
        return failure(*problem);
    }
    if (!haveDb && !options.help && options.access.addUser.empty() && !options.version) {
        return failure("--db PATH is required (a SQLite file or a postgresql:// URI)");
    }
    result.ok = true;
    return result;
}

std::string usageText(const std::string &program)
{
    return "Usage: " + program +
           " --db PATH|URI [--listen ADDR:PORT] [--sample] [--db-connections N]\n"
           "       [--metrics-listen ADDR:PORT] [--log-format text|json] [--shutdown-grace S]\n"
           "       [--tls-cert FILE --tls-key FILE] [--users FILE] [--allow-origin ORIGIN]...\n"
           "       [--server-name NAME]...\n"
           "       " +
           program +
           " --users FILE --add-user NAME [--centers LIST]\n"
           "\n"
           "Serves /CenterVendor.asp for the CenterVendor control from a SQLite file or a\n"
           "PostgreSQL database, and GET /healthz (200 ok, or 503 while the database does\n"
           "not answer) for load balancers.\n"
           "\n"
           "  --db PATH           SQLite database file; created with its schema when missing\n"
           "  --db URI            PostgreSQL: postgresql://USER@HOST:PORT/DBNAME (any libpq\n"
           "                      URI); the schema is created when missing. A password comes\n"
           "                      from the URI, PGPASSWORD or ~/.pgpass and is never shown\n"
           "  --db-connections N  database connections this process holds at most\n"
           "                      (default 8); requests beyond them wait for a free one\n"
           "  --listen ADDR:PORT  address to serve on (default 127.0.0.1:8080); port 0 picks\n"
           "                      a free port. The first line on stdout names the address:\n"
           "                      listening on http://ADDR:PORT\n"
           "  --sample            fill a new, empty database with sample centers, vendors\n"
           "                      and assignments (a database holding data is kept as it is)\n"
           "  --metrics-listen ADDR:PORT\n"
           "                      serve GET /metrics (Prometheus text format) on a listener\n"
           "                      of its own; off by default. The second line on stdout\n"
           "                      names it: metrics on http://ADDR:PORT/metrics\n"
           "  --log-format F      the request log on stderr: text (default), one readable\n"
           "                      line per request, or json, one object per line\n"
           "  --shutdown-grace S  on SIGINT or SIGTERM, stop accepting and let requests in\n"
           "                      flight finish for up to S seconds (default 30), then exit;\n"
           "                      /healthz answers 503 from the signal on\n"
           "  --tls-cert FILE     serve HTTPS only, with this PEM certificate (chain)\n"
           "  --tls-key FILE      and this PEM private key; the server does not start when\n"
           "                      either cannot be read or they do not match\n"
           "  --users FILE        every request needs HTTP Basic credentials of a user in FILE\n"
           "                      (lines name:hash:centers, centers \"*\" or ids like 1,2; \"#\"\n"
           "                      starts a comment); FILE is read again when it changes or on\n"
           "                      SIGHUP. Without --users anyone may read and change anything\n"
           "  --add-user NAME     with --users: read a password line from stdin, add or\n"
           "                      replace NAME in FILE (written anew, then renamed) and exit\n"
           "  --centers LIST      with --add-user: \"*\" (default) or the center ids NAME may\n"
           "                      read and change, like 1,2\n"
           "  --allow-origin ORIGIN  a POST carrying an Origin header other than these (for\n"
           "                      example https://desk.example.com) is refused; repeatable\n"
           "  --server-name NAME  a request whose Host names neither the listen address nor\n"
           "                      a NAME is refused with 421; repeatable\n"
           "  --help              show this text\n"
           "  --version           show the version\n";
}

} // namespace tarvo::server
