#include "page/Protocol.h"

#include "CommandLine.h"
#include "store/Store.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::server {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

struct QueryCase
{
    const char *name;
    Params params;
    std::optional<page::QueryRequest> expected; // empty: malformed
};

class QueryParsing : public ::testing::TestWithParam<QueryCase>
{
};

TEST_P(QueryParsing, AcceptsExactlyOneKindAndAWholeCenterId)
{
    const page::QueryParse result = page::parseQuery(GetParam().params);
    const auto &expected = GetParam().expected;
    ASSERT_EQ(result.ok, expected.has_value()) << result.message;
    if (expected) {
        EXPECT_EQ(result.request.section, expected->section);
        EXPECT_EQ(result.request.centerId, expected->centerId);
        EXPECT_EQ(result.request.limit, expected->limit);
    } else {
        EXPECT_FALSE(result.message.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Queries, QueryParsing,
    ::testing::Values(
        QueryCase{"Count",
                  {{"count", "1"}, {"centerID", "12"}},
                  page::QueryRequest{page::Section::Count, 12}},
        QueryCase{"Active",
                  {{"active", "1"}, {"centerID", "4"}},
                  page::QueryRequest{page::Section::Active, 4}},
        QueryCase{"Selected",
                  {{"centerID", "7"}, {"selected", "1"}},
                  page::QueryRequest{page::Section::Selected, 7}},
        QueryCase{"NamesInOtherCase",
                  {{"COUNT", "1"}, {"CenterId", "3"}},
                  page::QueryRequest{page::Section::Count, 3}},
        QueryCase{"NegativeCenter",
                  {{"count", "1"}, {"centerID", "-5"}},
                  page::QueryRequest{page::Section::Count, -5}},
        QueryCase{"OtherParameterIgnored",
                  {{"count", "1"}, {"centerID", "1"}, {"nocache", "x"}},
                  page::QueryRequest{page::Section::Count, 1}},
        QueryCase{"History",
                  {{"history", "1"}, {"centerID", "12"}},
                  page::QueryRequest{page::Section::History, 12, 50}},
        QueryCase{"HistoryLimitBeyondTheMost",
                  {{"history", "1"}, {"centerID", "12"}, {"Limit", "99999999999999999999"}},
                  page::QueryRequest{page::Section::History, 12, 1000}},
        QueryCase{"HistoryLimitZero",
                  {{"history", "1"}, {"centerID", "1"}, {"limit", "0"}},
                  std::nullopt},
        QueryCase{"HistoryLimitNegative",
                  {{"history", "1"}, {"centerID", "1"}, {"limit", "-3"}},
                  std::nullopt},
        QueryCase{"NoKind", {{"centerID", "1"}}, std::nullopt},
        QueryCase{"TwoKinds", {{"count", "1"}, {"active", "1"}, {"centerID", "1"}}, std::nullopt},
        QueryCase{"KindNotOne", {{"count", "0"}, {"centerID", "1"}}, std::nullopt},
        QueryCase{"NoCenter", {{"count", "1"}}, std::nullopt},
        QueryCase{"EmptyCenter", {{"count", "1"}, {"centerID", ""}}, std::nullopt},
        QueryCase{"TextCenter", {{"count", "1"}, {"centerID", "12 OR 1=1"}}, std::nullopt},
        QueryCase{"FractionalCenter", {{"count", "1"}, {"centerID", "1.5"}}, std::nullopt},
        QueryCase{
            "HugeCenter", {{"count", "1"}, {"centerID", "99999999999999999999"}}, std::nullopt},
        QueryCase{
            "CenterTwice", {{"count", "1"}, {"centerID", "1"}, {"centerID", "2"}}, std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

struct DecodeCase
{
    const char *name;
    std::string encoded;
    std::optional<std::string> decoded; // empty: malformed
};

class FormDecoding : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(FormDecoding, TurnsPlusIntoBlankAndPercentIntoByte)
{
    std::string out;
    const bool ok = page::formDecode(GetParam().encoded, out);
    ASSERT_EQ(ok, GetParam().decoded.has_value());
    if (ok) {
        EXPECT_EQ(out, *GetParam().decoded);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FormDecoding,
    ::testing::Values(DecodeCase{"Plain", "abc", "abc"}, DecodeCase{"Plus", "a+b", "a b"},
                      DecodeCase{"Punctuation", "%28%29%2C%3D", "(),="},
                      DecodeCase{"LowerCaseHex", "%2c%3d", ",="},
                      DecodeCase{"EncodedPlus", "1%2B1", "1+1"},
                      DecodeCase{"HighByteKept", "%E9", "\xE9"},
                      DecodeCase{"NulByteKept", "a%00b", std::string("a\0b", 3)},
                      DecodeCase{"Empty", "", ""},
                      DecodeCase{"TruncatedEscape", "a%2", std::nullopt},
                      DecodeCase{"LonePercent", "%", std::nullopt},
                      DecodeCase{"NonHexEscape", "%G1", std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

struct CommandLineCase
{
    const char *name;
    std::vector<std::string> args;
    std::optional<ServerOptions> expected; // empty: refused
};

class CommandLineParsing : public ::testing::TestWithParam<CommandLineCase>
{
};

TEST_P(CommandLineParsing, ReadsTheOptions)
{
    const CommandLineParse result = parseCommandLine(GetParam().args);
    const auto &expected = GetParam().expected;
    ASSERT_EQ(result.ok, expected.has_value()) << result.message;
    if (!expected) {
        EXPECT_FALSE(result.message.empty());
        return;
    }
    EXPECT_EQ(result.options.db, expected->db);
    EXPECT_EQ(result.options.dbConnections, expected->dbConnections);
    EXPECT_EQ(result.options.host, expected->host);
    EXPECT_EQ(result.options.port, expected->port);
    EXPECT_EQ(result.options.sample, expected->sample);
    EXPECT_EQ(result.options.help, expected->help);
    EXPECT_TRUE(result.options.access == expected->access);
    EXPECT_EQ(result.options.metricsHost, expected->metricsHost);
    EXPECT_EQ(result.options.metricsPort, expected->metricsPort);
    EXPECT_EQ(result.options.logFormat, expected->logFormat);
    EXPECT_EQ(result.options.shutdownGrace, expected->shutdownGrace);
    EXPECT_EQ(result.options.backup, expected->backup);
    EXPECT_EQ(result.options.dbPasswordFile, expected->dbPasswordFile);
}

ServerOptions withAccess(std::string db, AccessOptions access)
{
    ServerOptions options;
    options.db = std::move(db);
    options.access = std::move(access);
    return options;
}

ServerOptions inStateDir(std::string dir)
{
    ServerOptions options;
    options.db = "x.db";
    options.access.stateDir = std::move(dir);
    return options;
}

ServerOptions backingUp(std::string db, std::string out)
{
    ServerOptions options;
    options.db = std::move(db);
    options.backup = std::move(out);
    return options;
}

ServerOptions withPasswordFile(std::string db, std::string file)
{
    ServerOptions options;
    options.db = std::move(db);
    options.dbPasswordFile = std::move(file);
    return options;
}

ServerOptions operated(std::string metricsHost, int metricsPort, ops::LogFormat format, int grace)
{
    ServerOptions options;
    options.db = "x.db";
    options.metricsHost = std::move(metricsHost);
    options.metricsPort = metricsPort;
    options.logFormat = format;
    options.shutdownGrace = std::chrono::seconds(grace);
    return options;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineParsing,
    ::testing::Values(
        CommandLineCase{
            "Defaults", {"--db", "x.db"}, ServerOptions{"x.db", "127.0.0.1", 8080, false, false}},
        CommandLineCase{"EveryOption",
                        {"--db", "d.db", "--listen", "0.0.0.0:9000", "--sample"},
                        ServerOptions{"d.db", "0.0.0.0", 9000, true, false}},
        CommandLineCase{"EqualsForm",
                        {"--db=e.db", "--listen=localhost:0"},
                        ServerOptions{"e.db", "localhost", 0, false, false}},
        CommandLineCase{"Ipv6",
                        {"--db", "f.db", "--listen", "[::1]:8081"},
                        ServerOptions{"f.db", "::1", 8081, false, false}},
        CommandLineCase{
            "HelpWithoutDb", {"--help"}, ServerOptions{"", "127.0.0.1", 8080, false, true}},
        CommandLineCase{"MissingDb", {"--sample"}, std::nullopt},
        CommandLineCase{"PasswordFileBeforeItsDatabase",
                        {"--db-password-file", "/run/pw", "--db", "postgresql://app@db/c"},
                        withPasswordFile("postgresql://app@db/c", "/run/pw")},
        CommandLineCase{"PasswordFileWithoutName",
                        {"--db", "postgresql://app@db/c", "--db-password-file"},
                        std::nullopt},
        CommandLineCase{"DbWithoutPath", {"--db"}, std::nullopt},
        CommandLineCase{"UnknownOption", {"--db", "x.db", "--verbose"}, std::nullopt},
        CommandLineCase{
            "ListenWithoutPort", {"--db", "x.db", "--listen", "127.0.0.1"}, std::nullopt},
        CommandLineCase{
            "ListenPortTooLarge", {"--db", "x.db", "--listen", "h:65536"}, std::nullopt},
        CommandLineCase{
            "ListenPortNotNumber", {"--db", "x.db", "--listen", "h:http"}, std::nullopt},
        CommandLineCase{"ListenWithoutHost", {"--db", "x.db", "--listen", ":8080"}, std::nullopt},
        CommandLineCase{
            "Ipv6WithoutBrackets", {"--db", "x.db", "--listen", "::1:80"}, std::nullopt},
        CommandLineCase{"SampleWithValue", {"--db", "x.db", "--sample=yes"}, std::nullopt},
        CommandLineCase{
            "PostgresWithConnections",
            {"--db", "postgresql://app@db:5432/centers", "--db-connections=3"},
            ServerOptions{"postgresql://app@db:5432/centers", "127.0.0.1", 8080, false, false, 3}},
        CommandLineCase{"NoConnections", {"--db", "x.db", "--db-connections", "0"}, std::nullopt},
        CommandLineCase{"AccessOptions",
                        {"--db", "x.db", "--users", "u", "--tls-cert", "c.pem", "--tls-key=k.pem",
                         "--allow-origin", "https://a", "--allow-origin", "https://b",
                         "--server-name", "desk"},
                        withAccess("x.db", {"u",
                                            "",
                                            "*",
                                            "c.pem",
                                            "k.pem",
                                            {"https://a", "https://b"},
                                            {"desk"},
                                            {},
                                            {},
                                            ""})},
        CommandLineCase{"AddUserWithoutDb",
                        {"--users", "u", "--add-user", "alice", "--centers", "1,2"},
                        withAccess("", {"u", "alice", "1,2", "", "", {}, {}, {}, {}, ""})},
        CommandLineCase{"StateDir",
                        {"--db", "x.db", "--state-dir", "/var/lib/c", "--state-dir=/srv/c"},
                        inStateDir("/srv/c")},
        CommandLineCase{"StateDirWithoutFolder", {"--db", "x.db", "--state-dir"}, std::nullopt},
        CommandLineCase{"AddUserWithoutUsers", {"--add-user", "alice"}, std::nullopt},
        CommandLineCase{"AddUserBadName", {"--users", "u", "--add-user", "a:b"}, std::nullopt},
        CommandLineCase{"CentersWithoutAddUser",
                        {"--db", "x.db", "--users", "u", "--centers", "1"},
                        std::nullopt},
        CommandLineCase{"CentersMalformed",
                        {"--users", "u", "--add-user", "a", "--centers", "1;2"},
                        std::nullopt},
        CommandLineCase{"CertWithoutKey", {"--db", "x.db", "--tls-cert", "c.pem"}, std::nullopt},
        CommandLineCase{"OriginWithoutValue", {"--db", "x.db", "--allow-origin"}, std::nullopt},
        CommandLineCase{
            "ConnectionsNotNumber", {"--db", "x.db", "--db-connections", "4x"}, std::nullopt},
        CommandLineCase{"Operating",
                        {"--db", "x.db", "--metrics-listen", "[::1]:9100", "--log-format=json",
                         "--shutdown-grace", "0"},
                        operated("::1", 9100, ops::LogFormat::Json, 0)},
        CommandLineCase{
            "MetricsWithoutPort", {"--db", "x.db", "--metrics-listen", "h"}, std::nullopt},
        CommandLineCase{"UnknownLogFormat", {"--db", "x.db", "--log-format", "xml"}, std::nullopt},
        CommandLineCase{"GraceNegative", {"--db", "x.db", "--shutdown-grace=-1"}, std::nullopt},
        CommandLineCase{"GraceWithUnit", {"--db", "x.db", "--shutdown-grace", "30s"}, std::nullopt},
        CommandLineCase{"Backup", {"--db", "x.db", "--backup=c.db"}, backingUp("x.db", "c.db")},
        CommandLineCase{"BackupWithoutDb", {"--backup", "c.db"}, std::nullopt},
        CommandLineCase{"BackupWithoutFile", {"--db", "x.db", "--backup"}, std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

struct LocationCase
{
    const char *location;
    const char *shown;
};

class ShownLocation : public ::testing::TestWithParam<LocationCase>
{
};

TEST_P(ShownLocation, NeverShowsAPassword)
{
    EXPECT_EQ(store::shownLocation(GetParam().location), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Locations, ShownLocation,
    ::testing::Values(
        LocationCase{"postgresql://app:s3cret@db:5432/centers",
                     "postgresql://app:***@db:5432/centers"},
        LocationCase{"postgres://app:p%40ss@db/centers?sslmode=require",
                     "postgres://app:***@db/centers?sslmode=require"},
        LocationCase{"postgresql://app@db/centers?password=s3cret&sslmode=require",
                     "postgresql://app@db/centers?password=***&sslmode=require"},
        LocationCase{"postgresql:///centers?host=/run/postgresql&password=x",
                     "postgresql:///centers?host=/run/postgresql&password=***"},
        LocationCase{"postgresql://app@db/centers", "postgresql://app@db/centers"},
        LocationCase{"postgresql://app:pa?ss#w@db/centers", "postgresql://app:***@db/centers"},
        LocationCase{"postgresql://app@db/centers?pass%77ord=s3cret",
                     "postgresql://app@db/centers?pass%77ord=***"},
        LocationCase{"--db=postgresql://app:s3cret@db/c", "--db=postgresql://app:***@db/c"},
        LocationCase{"data/centers.db", "data/centers.db"}));

} // namespace
} // namespace tarvo::server
