// Shared set-up of the server tests: a fresh database of the engine under test with a small
// known data set, the server on an ephemeral loopback port, and a plain HTTP client that
// offers no compression.
#pragma once

#include "ReferenceServer.h"
#include "support/TestDatabase.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarvo::server::testing {

// A directory under the system's temporary directory, removed with everything in it.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Form-URL encoding as the control does it: letters and digits stay, a blank becomes "+",
// every other byte %XX.
std::string formEncode(const std::string &text);

// "SQL=<encoded>&" for each statement, like the control's body.
std::string formBody(const std::vector<std::string> &statements);

// Statement texts exactly as the control writes them.
std::string insertSql(std::int64_t center, std::int64_t vendor, const std::string &fee, int duty);
std::string updateSql(std::int64_t center, std::int64_t vendor, const std::string &fee, int duty);
std::string deleteSql(std::int64_t center, const std::vector<std::int64_t> &vendors);

// Everything a request could change, in a form that compares with ==.
struct Snapshot
{
    std::vector<std::string> tables;
    std::vector<std::string> centers;
    std::vector<std::string> vendors;
    std::vector<std::string> assignments;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(TestDatabase &db);

// The fields of every record of an answer's section `section`, read by position as the
// control reads them (a field without a child node reads as "<none>"). Adds a test failure
// when the answer is not well-formed or the sections in front are not present and empty.
std::vector<std::vector<std::string>> answerRecords(const std::string &xml, int section);

// Centers 12 (code 2) and 13 (code 1); vendors 3, 4, 5, 7, 8, 9 and inactive 6; vendor 8 at
// center 12 with fee 0.03 duty 1, vendor 9 at center 12 with 0.08 duty 0, and vendor 3 at
// center 12 with 0.05 duty 1; vendor 4 at center 13.
void seedSmallData(TestDatabase &db);

// A plain TCP connection to the server, for requests no HTTP client library would send:
// heads that never end, bodies that trickle, connections from other loopback addresses.
class RawConnection
{
public:
    // Connects from `source` (any 127.x.y.z works on loopback); check connected().
    RawConnection(int port, const char *source = "127.0.0.1");
    ~RawConnection();
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    bool connected() const { return m_fd >= 0; }
    // Sends everything, waiting at most 10 s; false once the server closed or stopped reading,
    // and with `stopWhenAnswered` also as soon as an answer begins to arrive.
    bool send(std::string_view data, bool stopWhenAnswered = false);
    // What arrives until the server closes, one whole answer is in, or `wait` passes.
    std::string receive(std::chrono::milliseconds wait);
    // True when the server closes (or resets) the connection within `wait`.
    bool closedWithin(std::chrono::milliseconds wait);
    // The status code at the start of an answer; 0 when there is none.
    static int status(const std::string &answer);

private:
    int m_fd = -1;
};

// The resident memory of this process, in bytes.
std::size_t residentBytes();

class ServerTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The data set of the test; seedSmallData unless overridden.
    virtual void seed(TestDatabase &db) { seedSmallData(db); }
    // The server's limits; the defaults unless overridden.
    virtual http::HttpLimits limits() const { return {}; }
    // Settings of the server before it binds (access, TLS); none unless overridden.
    virtual void configure(ReferenceServer &) {}

    httplib::Client client() const;
    httplib::Result get(const std::string &target) const;
    httplib::Result post(const std::vector<std::string> &statements) const;
    httplib::Result postBody(const std::string &body) const;

    std::vector<std::string> logLines() const;
    // The log once it holds `count` lines, or as it is after a bounded wait: the server
    // logs a request after its answer has gone out.
    std::vector<std::string> waitForLogLines(std::size_t count) const;

    std::unique_ptr<TestDatabase> m_db; // seeds and checks beside the server
    std::unique_ptr<ReferenceServer> m_server;
    int m_port = -1;

private:
    std::thread m_serving;
    mutable std::mutex m_logMutex;
    std::vector<std::string> m_log;
};

} // namespace tarvo::server::testing
