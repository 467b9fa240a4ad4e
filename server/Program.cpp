// The program's ways to run: serving until a signal drains the server, adding a user, and
// writing a backup.
#include "Program.h"

#include "ReferenceServer.h"
#include "ServiceNotice.h"
#include "auth/SecretFiles.h"
#include "auth/Users.h"
#include "store/sqlite/SqliteBackup.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <stdexcept>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace tarvo::server {

namespace {

// SIGINT and SIGTERM (stop) and SIGHUP (read the users file again) are taken by a thread of
// their own, so that they run as ordinary code rather than inside a signal handler. Called
// before any other thread starts, so that every thread inherits the blocked mask.
sigset_t blockHandledSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// One line of standard input, not echoed when it is a terminal.
std::string readPassword()
{
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) != 0 && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fputs("Password: ", stderr);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string password;
    std::getline(std::cin, password);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

std::string displayHost(const std::string &host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// Takes the handled signals from the start: while the server is still starting (connecting
// to its database may take long), SIGINT and SIGTERM end the process at once as if unhandled;
// once it is registered, they drain it and SIGHUP reads the users file again.
class SignalWaiter
{
public:
    explicit SignalWaiter(const sigset_t &signals)
        : m_signals(signals), m_thread([this] { wait(); })
    {}
    ~SignalWaiter()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_finished = true;
            m_server = nullptr;
        }
        // Wakes it if no signal did; once finished, a SIGHUP ends its loop.
        pthread_kill(m_thread.native_handle(), SIGHUP);
        m_thread.join();
    }
    // graceSeconds only goes into the stopping notice to systemd.
    void serving(ReferenceServer *server, long long graceSeconds = 0)
    {
        const std::lock_guard lock(m_mutex);
        m_server = server;
        m_grace = graceSeconds;
    }
    bool signalled() const { return m_signalled; }

private:
    void wait()
    {
        int signal = 0;
        while (sigwait(&m_signals, &signal) == 0) {
            const std::lock_guard lock(m_mutex);
            if (m_finished) {
                return;
            }
            if (signal == SIGHUP) {
                if (m_server != nullptr) {
                    m_server->reloadUsers();
                }
                continue;
            }
            if (m_server == nullptr) {
                std::signal(signal, SIG_DFL);
                sigset_t one;
                sigemptyset(&one);
                sigaddset(&one, signal);
                pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
                raise(signal);
            }
            m_signalled = true;
            m_server->stop();
            service::stopping("Draining " + std::to_string(m_server->requestsUnderWay()) +
                              " requests under way, for up to " + std::to_string(m_grace) + " s");
            return;
        }
    }

    sigset_t m_signals;
    std::mutex m_mutex;
    ReferenceServer *m_server = nullptr;
    long long m_grace = 0;
    bool m_finished = false;
    std::atomic<bool> m_signalled{false};
    std::thread m_thread;
};

} // namespace

int addUserFromInput(const std::string &program, const AccessOptions &access)
{
    const auto added = auth::addUser(access.usersFile, access.addUser, readPassword(),
                                     *auth::parseCenters(access.centers));
    std::fprintf(added.ok ? stdout : stderr, "%s: %s\n", program.c_str(), added.message.c_str());
    return added.ok ? 0 : 1;
}

int writeBackup(const std::string &program, const ServerOptions &options)
{
    if (store::isPostgresLocation(options.db)) {
        std::fprintf(stderr,
                     "%s: --backup copies a SQLite database; back up PostgreSQL with pg_dump "
                     "(see \"Backups of PostgreSQL\" in deploy.md)\n",
                     program.c_str());
        return 2;
    }
    const store::BackupResult written = store::backupSqlite(options.db, options.backup);
    if (!written.ok()) {
        std::fprintf(stderr, "%s: no backup of %s: %s\n", program.c_str(), options.db.c_str(),
                     written.message.c_str());
        return 1;
    }
    std::printf("%s: wrote %s, a copy of %s (schema version %lld, %llu bytes) that passes "
                "PRAGMA integrity_check\n",
                program.c_str(), options.backup.c_str(), options.db.c_str(),
                static_cast<long long>(written.schemaVersion),
                static_cast<unsigned long long>(written.bytes));
    return 0;
}

namespace {

// A line of the program's own on stderr before the server (and its log) exists, in the log's
// format all the same.
void noticeBeforeServing(const std::string &text, ops::LogFormat format)
{
    std::fprintf(stderr, "%s\n", ops::formatNotice(text, format).c_str());
}

// The first line of --db-password-file, read as every secret is (size-bounded, a word about a
// file others may read). Throws std::runtime_error naming the file, never holding the password.
std::string databasePassword(const std::string &program, const ServerOptions &options)
{
    const std::string &path = options.dbPasswordFile;
    auth::SecretRules rules;
    rules.maxBytes = auth::kMaxPasswordFileBytes;
    const auth::SecretRead read = auth::readSecretFile(path, "database password file", rules);
    if (!read.ok()) {
        throw std::runtime_error(read.message);
    }
    if (read.warning) {
        noticeBeforeServing(program + ": " + *read.warning, options.logFormat);
    }
    std::string password = read.text.substr(0, read.text.find('\n'));
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    if (password.empty() || password.find('\0') != std::string::npos) {
        // libpq takes the password as a C string: a NUL would cut it short unseen.
        throw std::runtime_error("the database password file " + path +
                                 " holds no password on its first line (or a NUL byte in it)");
    }
    return password;
}

} // namespace

int serve(const std::string &program, const ServerOptions &options)
{
    // A log reader that goes away must not end the server: writes then just fail.
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t handledSignals = blockHandledSignals();
    auto waiter = std::make_unique<SignalWaiter>(handledSignals);
    try {
        store::StoreOptions storeOptions;
        storeOptions.connections = options.dbConnections;
        if (!options.dbPasswordFile.empty()) {
            storeOptions.password = databasePassword(program, options);
        }
        http::HttpLimits limits;
        limits.shutdownGrace = options.shutdownGrace;
        service::status("Connecting to the database " + store::shownLocation(options.db));
        ReferenceServer server(options.db, storeOptions, limits);
        // Taken out of the waiter's hands before the server goes away.
        struct Registration
        {
            SignalWaiter &waiter;
            ~Registration() { waiter.serving(nullptr); }
        } registration{*waiter};
        waiter->serving(&server, options.shutdownGrace.count());
        server.setLogFormat(options.logFormat);
        server.setAccess(options.access);
        if (const auto users = server.userCount()) {
            server.notice(program + ": " + std::to_string(*users) + " users from " +
                          options.access.usersFile + "; each request needs the credentials of one");
        } else {
            server.notice(program + ": no --users file: anyone who reaches the port may read and "
                                    "change every center");
        }
        if (options.sample) {
            const store::FillResult filled = server.fillSample();
            if (!filled.ok()) {
                server.notice(program + ": cannot fill the sample: " + filled.message);
                return 1;
            }
            if (!filled.filled) {
                // In the log's format, as every line on stderr while the server runs.
                server.notice(program + ": " + store::shownLocation(options.db) +
                              " already holds data; --sample leaves it as it is");
            }
        }

        int port = options.port;
        if (port == 0) {
            port = server.bindToAnyPort(options.host);
        } else if (!server.bindToPort(options.host, port)) {
            port = -1;
        }
        if (port < 0) {
            server.notice(program + ": cannot listen on " + options.host + ":" +
                          std::to_string(options.port));
            return 1;
        }
        int metricsPort = -1;
        if (!options.metricsHost.empty()) {
            metricsPort = server.bindMetrics(options.metricsHost, options.metricsPort);
            if (metricsPort < 0) {
                server.notice(program + ": cannot listen for metrics on " + options.metricsHost +
                              ":" + std::to_string(options.metricsPort));
                return 1;
            }
        }
        std::printf("listening on %s://%s:%d\n", options.access.tlsCert.empty() ? "http" : "https",
                    displayHost(options.host).c_str(), port);
        if (metricsPort >= 0) {
            std::printf("metrics on http://%s:%d/metrics\n",
                        displayHost(options.metricsHost).c_str(), metricsPort);
        }
        std::fflush(stdout);
        const std::string address = std::string(options.access.tlsCert.empty() ? "http" : "https") +
                                    "://" + displayHost(options.host) + ":" + std::to_string(port);
        service::ready("Serving " + address + " from " + store::shownLocation(options.db));

        const bool served = server.listenAfterBind();
        if (!served && !waiter->signalled()) {
            server.notice(program + ": serving ended with an error");
            return 1;
        }
        if (!server.drained()) {
            // Exiting closes their connections and database sessions; what they had not
            // committed is rolled back by the database.
            server.notice(program + ": requests were still at work when the shutdown grace of " +
                          std::to_string(options.shutdownGrace.count()) +
                          " s ran out; exiting without their answers");
            std::fflush(nullptr);
            std::_Exit(0);
        }
    } catch (const std::exception &error) {
        // StoreError among them: a database that cannot be opened or reached.
        noticeBeforeServing(program + ": " + error.what(), options.logFormat);
        return 1;
    }
    return 0;
}

} // namespace tarvo::server
