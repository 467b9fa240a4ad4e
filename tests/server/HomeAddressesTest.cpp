// The addresses users signed in from: the rules, the same after a restart, and the file.
#include "auth/HomeAddresses.h"

#include "ServerFixture.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace tarvo::server::testing {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::system_clock::time_point;

const Time kStart{std::chrono::seconds(1767225600)}; // 2026-01-01
constexpr std::chrono::minutes kDay = 24h;

// Homes on one state folder with a clock the test sets; `log` gathers what they say.
struct Homes
{
    TempDir dir;
    Time now = kStart;
    std::vector<std::string> log;

    std::unique_ptr<auth::HomeAddresses> open()
    {
        return std::make_unique<auth::HomeAddresses>(
            dir.path().string(), [this](const std::string &line) { log.push_back(line); },
            [this] { return now; });
    }
    std::filesystem::path file() const { return dir.path() / auth::HomeAddresses::fileName(); }
};

std::string readAll(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct stat statOf(const std::filesystem::path &path)
{
    struct stat info
    {
    };
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info;
}

struct Step
{
    std::chrono::minutes at; // after kStart
    std::string user, address;
    std::optional<bool> expected; // empty: remember; otherwise: contains() says this
};

struct RuleCase
{
    const char *name;
    std::vector<Step> steps;
};

// Sixteen homes of alice an hour apart, then `then`.
std::vector<Step> sixteenThen(std::vector<Step> then)
{
    std::vector<Step> steps;
    for (int i = 0; i < 16; ++i) {
        steps.push_back({i * 60min, "alice", "10.0.0." + std::to_string(i), {}});
    }
    steps.insert(steps.end(), then.begin(), then.end());
    return steps;
}

class HomeRules : public ::testing::TestWithParam<std::tuple<RuleCase, bool>>
{
};

// With `reload`, each answer comes from a new instance reading the folder at that time.
TEST_P(HomeRules, AnswerAlikeInMemoryAndAfterARestart)
{
    const auto &[rule, reload] = GetParam();
    Homes homes;
    auto current = homes.open();
    for (const Step &step : rule.steps) {
        homes.now = kStart + step.at;
        if (!step.expected) {
            current->remember(step.user, step.address);
            continue;
        }
        if (reload) {
            current = homes.open();
        }
        EXPECT_EQ(current->contains(step.user, step.address), *step.expected)
            << step.user << "@" << step.address << " at " << step.at.count() << " min";
    }
    EXPECT_EQ(homes.log, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HomeRules,
    ::testing::Combine(::testing::Values(RuleCase{"OnlyTheHomeItself",
                                                  {{0min, "alice", "10.0.0.1", {}},
                                                   {1min, "alice", "10.0.0.1", true},
                                                   {1min, "alice", "10.0.0.2", false},
                                                   {1min, "bob", "10.0.0.1", false}}},
                                         RuleCase{"UsersApart",
                                                  {{0min, "alice", "10.0.0.1", {}},
                                                   {0min, "bob", "10.0.0.2", {}},
                                                   {0min, "ab", "c", {}},
                                                   {1min, "alice", "10.0.0.2", false},
                                                   {1min, "bob", "10.0.0.2", true},
                                                   {1min, "a", "bc", false},
                                                   {1min, "ab", "c", true}}},
                                         RuleCase{"SixteenPerUserOldestDropped",
                                                  sixteenThen({{16h, "bob", "10.0.0.9", {}},
                                                               {17h, "alice", "10.0.0.16", {}},
                                                               {18h, "alice", "10.0.0.0", false},
                                                               {18h, "alice", "10.0.0.1", true},
                                                               {18h, "alice", "10.0.0.16", true},
                                                               {18h, "bob", "10.0.0.9", true}})},
                                         RuleCase{"SeenAgainIsNewest",
                                                  sixteenThen({{20h, "alice", "10.0.0.0", {}},
                                                               {21h, "alice", "10.0.0.16", {}},
                                                               {22h, "alice", "10.0.0.0", true},
                                                               {22h, "alice", "10.0.0.1", false}})},
                                         RuleCase{
                                             "ForgottenThirtyDaysAfterLastSeen",
                                             {{0min, "alice", "10.0.0.1", {}},
                                              {0min, "alice", "10.0.0.2", {}},
                                              {20 * kDay, "alice", "10.0.0.2", {}},
                                              {30 * kDay, "alice", "10.0.0.1", true},
                                              {30 * kDay + 1min, "alice", "10.0.0.1", false},
                                              {50 * kDay, "alice", "10.0.0.2", true},
                                              {50 * kDay + 1min, "alice", "10.0.0.2", false}}}),
                       ::testing::Bool()),
    [](const auto &info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "AfterRestart" : "InMemory");
    });

TEST(HomeAddressesFile, IsPrivateAndNamesNeitherUserNorAddress)
{
    Homes homes;
    homes.open()->remember("alice-in-clear", "203.0.113.77");
    for (const auto &name : {auth::HomeAddresses::fileName(), auth::HomeAddresses::keyName()}) {
        EXPECT_EQ(statOf(homes.dir.path() / name).st_mode & 07777, 0600u) << name;
    }
    EXPECT_EQ(std::filesystem::file_size(homes.dir.path() / auth::HomeAddresses::keyName()), 32u);
    const std::string text = readAll(homes.file());
    EXPECT_EQ(text.find("alice"), std::string::npos) << text;
    EXPECT_EQ(text.find("203.0.113"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text; // version and the home
    EXPECT_EQ(homes.log, std::vector<std::string>{});
}

TEST(HomeAddressesFile, SeenAgainWritesAtMostHourly)
{
    Homes homes;
    auto current = homes.open();
    current->remember("alice", "10.0.0.1");
    const ino_t first = statOf(homes.file()).st_ino;
    homes.now += 59min;
    current->remember("alice", "10.0.0.1");
    EXPECT_EQ(statOf(homes.file()).st_ino, first); // written anew means renamed over
    homes.now += 2min;
    current->remember("alice", "10.0.0.1");
    EXPECT_NE(statOf(homes.file()).st_ino, first);
    const ino_t second = statOf(homes.file()).st_ino;
    current->remember("alice", "10.0.0.2"); // a new home at once
    EXPECT_NE(statOf(homes.file()).st_ino, second);
}

// Each spoils a file holding alice's home; the next start says so, starts empty, and writes a
// sound file again at the next sign-in.
struct Damage
{
    const char *name;
    std::function<void(const std::filesystem::path &dir)> spoil;
    bool writtenAgain = true; // false: the trouble stays, so the homes stay in memory
};

void edit(const std::filesystem::path &path, const std::function<void(std::string &)> &change)
{
    std::string text = readAll(path);
    change(text);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class HomeAddressesDamage : public ::testing::TestWithParam<Damage>
{
};

TEST_P(HomeAddressesDamage, IsLoggedAndIgnored)
{
    Homes homes;
    homes.open()->remember("alice", "10.0.0.1");
    GetParam().spoil(homes.dir.path());
    auto reopened = homes.open();
    EXPECT_FALSE(homes.log.empty());
    EXPECT_FALSE(reopened->contains("alice", "10.0.0.1"));
    homes.now += 1min;
    reopened->remember("bob", "10.0.0.2");
    EXPECT_TRUE(reopened->contains("bob", "10.0.0.2")); // still kept in memory
    homes.log.clear();
    EXPECT_EQ(homes.open()->contains("bob", "10.0.0.2"), GetParam().writtenAgain);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HomeAddressesDamage,
    ::testing::Values(
        Damage{"OtherVersion",
               [](const auto &dir) {
                   edit(dir / auth::HomeAddresses::fileName(),
                        [](auto &t) { t.replace(0, 1, "x"); });
               }},
        Damage{"CutShort",
               [](const auto &dir) {
                   edit(dir / auth::HomeAddresses::fileName(), [](auto &t) { t.pop_back(); });
               }},
        Damage{"NotHex",
               [](const auto &dir) {
                   edit(dir / auth::HomeAddresses::fileName(),
                        [](auto &t) { t[t.find('\n') + 1] = 'g'; });
               }},
        Damage{"TimeNotANumber",
               [](const auto &dir) {
                   edit(dir / auth::HomeAddresses::fileName(),
                        [](auto &t) { t.insert(t.size() - 1, "s"); });
               }},
        Damage{"WritableByAll",
               [](const auto &dir) {
                   std::filesystem::permissions(dir / auth::HomeAddresses::fileName(),
                                                std::filesystem::perms::others_write,
                                                std::filesystem::perm_options::add);
               }},
        Damage{"NotAFile",
               [](const auto &dir) {
                   std::filesystem::remove(dir / auth::HomeAddresses::fileName());
                   std::filesystem::create_directory(dir / auth::HomeAddresses::fileName());
               },
               false},
        Damage{"KeyOfAnotherSize",
               [](const auto &dir) {
                   edit(dir / auth::HomeAddresses::keyName(), [](auto &t) { t.pop_back(); });
               },
               false}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace tarvo::server::testing
