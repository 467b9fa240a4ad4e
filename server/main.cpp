// centervendor-server: the reference server as a program.
#include "CommandLine.h"
#include "ReferenceServer.h"
#include "Version.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <pthread.h>
#include <thread>

namespace {

using tarvo::server::ReferenceServer;

// SIGINT and SIGTERM are taken by a thread of their own, so that stopping runs as ordinary
// code rather than inside a signal handler. Called before any other thread starts, so that
// every thread inherits the blocked mask.
sigset_t blockStopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

std::string displayHost(const std::string &host)
{
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string program = argc > 0 ? argv[0] : "centervendor-server";
    const auto parsed =
        tarvo::server::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok) {
        std::fprintf(stderr, "%s: %s\n\n%s", program.c_str(), parsed.message.c_str(),
                     tarvo::server::usageText(program).c_str());
        return 2;
    }
    const tarvo::server::ServerOptions &options = parsed.options;
    if (options.help) {
        std::fputs(tarvo::server::usageText(program).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("centervendor-server %d.%d.%d\n", tarvo::version::major, tarvo::version::minor,
                    tarvo::version::revision);
        return 0;
    }

    // A log reader that goes away must not end the server: writes then just fail.
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t stopSignals = blockStopSignals();
    try {
        tarvo::server::StoreOptions storeOptions;
        storeOptions.connections = options.dbConnections;
        tarvo::server::HttpLimits limits;
        limits.shutdownGrace = options.shutdownGrace;
        ReferenceServer server(options.db, storeOptions, limits);
        server.setLogFormat(options.logFormat);
        if (options.sample) {
            const tarvo::server::FillResult filled = server.fillSample();
            if (!filled.ok()) {
                std::fprintf(stderr, "%s: cannot fill the sample: %s\n", program.c_str(),
                             filled.message.c_str());
                return 1;
            }
            if (!filled.filled) {
                std::fprintf(stderr, "%s: %s already holds data; --sample leaves it as it is\n",
                             program.c_str(), tarvo::server::shownLocation(options.db).c_str());
            }
        }

        int port = options.port;
        if (port == 0) {
            port = server.bindToAnyPort(options.host);
        } else if (!server.bindToPort(options.host, port)) {
            port = -1;
        }
        if (port < 0) {
            std::fprintf(stderr, "%s: cannot listen on %s:%d\n", program.c_str(),
                         options.host.c_str(), options.port);
            return 1;
        }
        int metricsPort = -1;
        if (!options.metricsHost.empty()) {
            metricsPort = server.bindMetrics(options.metricsHost, options.metricsPort);
            if (metricsPort < 0) {
                std::fprintf(stderr, "%s: cannot listen for metrics on %s:%d\n", program.c_str(),
                             options.metricsHost.c_str(), options.metricsPort);
                return 1;
            }
        }
        std::printf("listening on http://%s:%d\n", displayHost(options.host).c_str(), port);
        if (metricsPort >= 0) {
            std::printf("metrics on http://%s:%d/metrics\n",
                        displayHost(options.metricsHost).c_str(), metricsPort);
        }
        std::fflush(stdout);

        std::atomic<bool> finished{false};
        std::atomic<bool> signalled{false};
        std::thread waiter([&] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            if (!finished) {
                signalled = true;
                server.stop();
            }
        });
        const bool served = server.listenAfterBind();
        // Wake the waiter if no signal did, so that it never outlives the server.
        finished = true;
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        if (!served && !signalled) {
            std::fprintf(stderr, "%s: serving ended with an error\n", program.c_str());
            return 1;
        }
        if (!server.drained()) {
            // Exiting closes their connections and database sessions; what they had not
            // committed is rolled back by the database.
            std::fprintf(stderr,
                         "%s: requests were still at work when the shutdown grace of %lld s "
                         "ran out; exiting without their answers\n",
                         program.c_str(), static_cast<long long>(options.shutdownGrace.count()));
            std::fflush(nullptr);
            std::_Exit(0);
        }
    } catch (const std::exception &error) {
        // StoreError among them: a database that cannot be opened or reached.
        std::fprintf(stderr, "%s: %s\n", program.c_str(), error.what());
        return 1;
    }
    return 0;
}
