// centervendor-server: reads its options and runs.
#include "CommandLine.h"
#include "Program.h"
#include "Version.h"
#include "store/Store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
    // A password in the database URI is visible to every local user in /proc/PID/cmdline
    // until here: the arguments are overwritten with their masked form once read.
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string shown = tarvo::server::store::shownLocation(argument);
        if (shown != argument) {
            const std::size_t kept = std::min(shown.size(), argument.size());
            std::memcpy(argv[i], shown.data(), kept);
            std::memset(argv[i] + kept, 0, argument.size() - kept);
        }
    }
    if (options.help) {
        std::fputs(tarvo::server::usageText(program).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("centervendor-server %d.%d.%d\n", tarvo::version::major, tarvo::version::minor,
                    tarvo::version::revision);
        return 0;
    }
    if (!options.access.addUser.empty()) {
        return tarvo::server::addUserFromInput(program, options.access);
    }
    if (!options.backup.empty()) {
        return tarvo::server::writeBackup(program, options);
    }
    return tarvo::server::serve(program, options);
}
