#include "ServerFixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pugixml.hpp>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvo::server::testing {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-server-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string formEncode(const std::string &text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::string formBody(const std::vector<std::string> &statements)
{
    std::string body;
    for (const std::string &statement : statements) {
        body += "SQL=" + formEncode(statement) + "&";
    }
    return body;
}

std::string insertSql(std::int64_t center, std::int64_t vendor, const std::string &fee, int duty)
{
    return "INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
           "DutyBrokerageFee,RecordLastUpdated) VALUES (" +
           std::to_string(center) + "," + std::to_string(vendor) + "," + fee + "," +
           std::to_string(duty) + ",GETDATE() ) ";
}

std::string updateSql(std::int64_t center, std::int64_t vendor, const std::string &fee, int duty)
{
    return "UPDATE VendorCenterCrossReference SET CenterHandlingFee= " + fee +
           ", DutyBrokerageFee= " + std::to_string(duty) +
           ", RecordLastUpdated = GETDATE() WHERE vendorID = " + std::to_string(vendor) +
           " AND CenterID = " + std::to_string(center);
}

std::string deleteSql(std::int64_t center, const std::vector<std::int64_t> &vendors)
{
    std::string text =
        "DELETE FROM VENDORCENTERCROSSREFERENCE WHERE CENTERID=" + std::to_string(center) +
        " AND VENDORID IN(";
    for (std::size_t i = 0; i < vendors.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(vendors[i]);
    }
    return text + ")";
}

namespace {

std::vector<std::string> column(TestDatabase &db, const std::string &sql)
{
    std::vector<std::string> out;
    for (const auto &row : db.rows(sql)) {
        out.push_back(row.at(0));
    }
    return out;
}

} // namespace

Snapshot snapshot(TestDatabase &db)
{
    Snapshot s;
    s.tables = db.tables();
    s.centers = column(db, "SELECT CenterID || '|' || CenterName || '|' || CenterCode "
                           "FROM Centers ORDER BY CenterID");
    s.vendors = column(db, "SELECT VendorID || '|' || VendorName || '|' || CountryID || '|' || "
                           "Active || '|' || RecordLastUpdated FROM Vendors ORDER BY VendorID");
    s.assignments = column(db, "SELECT CenterID || '|' || VendorID || '|' || CenterHandlingFee "
                               "|| '|' || DutyBrokerageFee || '|' || RecordLastUpdated "
                               "FROM VendorCenterCrossReference ORDER BY CenterID, VendorID");
    return s;
}

std::vector<std::vector<std::string>> answerRecords(const std::string &xml, int section)
{
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_string(xml.c_str());
    EXPECT_TRUE(parsed) << parsed.description() << "\n" << xml.substr(0, 200);
    std::vector<pugi::xml_node> sections;
    for (pugi::xml_node child : doc.document_element().children()) {
        sections.push_back(child);
    }
    std::vector<std::vector<std::string>> out;
    if (sections.size() <= static_cast<std::size_t>(section)) {
        ADD_FAILURE() << "section " << section << " is missing";
        return out;
    }
    for (int i = 0; i < section; ++i) {
        EXPECT_FALSE(sections[static_cast<std::size_t>(i)].first_child())
            << "section " << i << " must be empty";
    }
    for (pugi::xml_node record : sections[static_cast<std::size_t>(section)].children()) {
        std::vector<std::string> fields;
        for (pugi::xml_node field : record.children()) {
            fields.emplace_back(field.first_child() ? field.first_child().value() : "<none>");
        }
        out.push_back(std::move(fields));
    }
    return out;
}

void seedSmallData(TestDatabase &db)
{
    db.add({{{12, "Buffalo", 2}, {13, "Toronto", 1}},
            {{3, "Atlas Freight", 1, true, "2021-03-04 10:00:00"},
             {4, "Baker & Sons", 44, true, "2020-12-31 23:59:59"},
             {5, "O'Neill <Tool> Co.", 1, true, "2019-07-15 08:30:00"},
             {6, "Dormant Supply", 1, false, "2018-01-01 00:00:00"},
             {7, "Zenith Paper", 2, true, "2022-02-02 12:00:00"},
             {8, "Murphy's Steel", 1, true, "2022-05-06 09:00:00"},
             {9, "Granite Glass", 3, true, "2023-11-30 17:45:00"}},
            {{12, 8, 0.03, true, "2023-01-01 00:00:00"},
             {12, 9, 0.08, false, "2023-01-02 00:00:00"},
             {12, 3, 0.05, true, "2023-01-03 00:00:00"},
             {13, 4, 0.125, false, "2023-01-04 00:00:00"}}});
}

RawConnection::RawConnection(int port, const char *source)
{
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    const int yes = 1;
    if (m_fd < 0 || setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes) != 0 ||
        bind(m_fd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
        connect(m_fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 ||
        fcntl(m_fd, F_SETFL, O_NONBLOCK) != 0) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = -1;
    }
}

RawConnection::~RawConnection()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool RawConnection::send(std::string_view data, bool stopWhenAnswered)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!data.empty() && m_fd >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_fd, static_cast<short>(POLLOUT | (stopWhenAnswered ? POLLIN : 0)), 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        if ((p.revents & POLLIN) != 0) {
            return false;
        }
        if ((p.revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
        const ssize_t sent = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN) {
            return false;
        }
        data.remove_prefix(sent > 0 ? static_cast<std::size_t>(sent) : 0);
    }
    return data.empty();
}

std::string RawConnection::receive(std::chrono::milliseconds wait)
{
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (m_fd >= 0 && std::chrono::steady_clock::now() < deadline) {
        const std::size_t headEnd = answer.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const std::size_t length = answer.find("Content-Length: ");
            if (length != std::string::npos && length < headEnd &&
                answer.size() >= headEnd + 4 + std::stoul(answer.substr(length + 16))) {
                break;
            }
        }
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n <= 0 && !(n < 0 && errno == EAGAIN)) {
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    }
    return answer;
}

bool RawConnection::closedWithin(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN)) {
            return true;
        }
    }
    return false;
}

int RawConnection::status(const std::string &answer)
{
    if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) {
        return 0;
    }
    return std::atoi(answer.c_str() + 9);
}

std::size_t residentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoul(line.substr(6)) * 1024;
        }
    }
    return 0;
}

void ServerTest::SetUp()
{
    // A refused request may be closed while the test client still writes to it.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        m_db = std::make_unique<TestDatabase>();
    } catch (const std::exception &error) {
        FAIL() << error.what();
    }
    m_server = std::make_unique<ReferenceServer>(m_db->location(), store::StoreOptions{}, limits());
    m_server->setLogSink([this](const std::string &line) {
        const std::lock_guard lock(m_logMutex);
        m_log.push_back(line);
    });
    seed(*m_db);
    configure(*m_server);
    ASSERT_FALSE(HasFatalFailure());
    m_port = m_server->bindToAnyPort("127.0.0.1");
    ASSERT_GT(m_port, 0);
    m_serving = std::thread([this] { m_server->listenAfterBind(); });
}

void ServerTest::TearDown()
{
    if (m_server) {
        m_server->stop();
    }
    if (m_serving.joinable()) {
        m_serving.join();
    }
    m_server.reset();
    m_db.reset();
}

httplib::Client ServerTest::client() const
{
    httplib::Client cli("127.0.0.1", m_port);
    cli.set_connection_timeout(5);
    cli.set_read_timeout(30);
    cli.set_decompress(false);
    return cli;
}

httplib::Result ServerTest::get(const std::string &target) const
{
    return client().Get(target);
}

httplib::Result ServerTest::post(const std::vector<std::string> &statements) const
{
    return postBody(formBody(statements));
}

httplib::Result ServerTest::postBody(const std::string &body) const
{
    return client().Post("/CenterVendor.asp", body, "application/x-www-form-urlencoded");
}

std::vector<std::string> ServerTest::logLines() const
{
    const std::lock_guard lock(m_logMutex);
    return m_log;
}

std::vector<std::string> ServerTest::waitForLogLines(std::size_t count) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<std::string> lines = logLines();
    while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
        lines = logLines();
    }
    return lines;
}

} // namespace tarvo::server::testing
