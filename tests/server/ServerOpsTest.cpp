// What an operator reads from a running server: the metrics page and the JSON request log.
#include "ExpositionCheck.h"
#include "ServerFixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tarvo::server::testing {
namespace {

class ServerOps : public ServerTest
{
protected:
    // A small body limit, so that a refusal for size needs no large body.
    http::HttpLimits limits() const override
    {
        http::HttpLimits l;
        l.bodyBytes = 64 * 1024;
        return l;
    }
};

TEST_F(ServerOps, MetricsCountAKnownSequenceOfRequestsExactly)
{
    const std::vector<std::pair<int, httplib::Result>> sequence = [this] {
        std::vector<std::pair<int, httplib::Result>> s;
        s.emplace_back(200, get("/CenterVendor.asp?count=1&centerID=12"));
        s.emplace_back(200, get("/CenterVendor.asp?selected=1&centerID=12"));
        s.emplace_back(404, get("/CenterVendor.asp?count=1&centerID=99"));
        s.emplace_back(200, post({insertSql(12, 7, "0.05", 1), updateSql(12, 9, "0.025", 0),
                                  deleteSql(12, {3, 8})}));
        s.emplace_back(400, post({"DROP TABLE VendorCenterCrossReference"}));
        s.emplace_back(409, post({insertSql(12, 7, "0.05", 1)}));
        s.emplace_back(413, postBody(formBody({std::string(70 * 1024, ' ')})));
        s.emplace_back(415, client().Post("/CenterVendor.asp", "SQL=x", "text/plain"));
        return s;
    }();
    for (const auto &[status, res] : sequence) {
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, status) << res->body;
    }
    // A request is counted just after its answer has gone out, before its log line.
    ASSERT_EQ(waitForLogLines(sequence.size()).size(), sequence.size());

    const ExposedPage page = readExposition(m_server->metricsPage());
    ASSERT_TRUE(page.errors.empty()) << page.errors.front();
    std::map<std::string, double> counted;
    for (const auto &[series, value] : page.samples) {
        if (series.rfind("centervendor_requests_total", 0) == 0 ||
            series.rfind("centervendor_statements_applied_total", 0) == 0 ||
            series.rfind("centervendor_batches_refused_total", 0) == 0 ||
            series.find("_count{") != std::string::npos) {
            counted[series] = value;
        }
    }
    const std::map<std::string, double> expected{
        {"centervendor_requests_total{method=\"GET\",status=\"200\"}", 2},
        {"centervendor_requests_total{method=\"GET\",status=\"404\"}", 1},
        {"centervendor_requests_total{method=\"POST\",status=\"200\"}", 1},
        {"centervendor_requests_total{method=\"POST\",status=\"400\"}", 1},
        {"centervendor_requests_total{method=\"POST\",status=\"409\"}", 1},
        {"centervendor_requests_total{method=\"POST\",status=\"413\"}", 1},
        {"centervendor_requests_total{method=\"POST\",status=\"415\"}", 1},
        {"centervendor_request_duration_seconds_count{method=\"GET\"}", 3},
        {"centervendor_request_duration_seconds_count{method=\"POST\"}", 5},
        {"centervendor_statements_applied_total{action=\"add\"}", 1},
        {"centervendor_statements_applied_total{action=\"update\"}", 1},
        {"centervendor_statements_applied_total{action=\"remove\"}", 1},
        {"centervendor_batches_refused_total{reason=\"shape\"}", 2},
        {"centervendor_batches_refused_total{reason=\"conflict\"}", 1},
        {"centervendor_batches_refused_total{reason=\"rights\"}", 0},
        {"centervendor_batches_refused_total{reason=\"size\"}", 1},
        {"centervendor_batches_refused_total{reason=\"stale\"}", 0},
    };
    EXPECT_EQ(counted, expected);
    EXPECT_EQ(page.samples.at("centervendor_store_up"), 1);
    EXPECT_EQ(page.samples.at("centervendor_store_connections_in_use"), 0);
    EXPECT_EQ(page.samples.count("centervendor_build_info{version=\"" TARVO_VERSION "\"}"), 1u);
}

TEST_F(ServerOps, DatabaseWarningsBecomeJsonLogLines)
{
    if (m_db->engine() != Engine::Postgres) {
        GTEST_SKIP() << "only PostgreSQL sends notices";
    }
    m_db->execute("CREATE FUNCTION warn_on_write() RETURNS trigger LANGUAGE plpgsql AS $$ "
                  "BEGIN RAISE WARNING 'vendor \"%\" written', NEW.VendorID; RETURN NEW; END $$; "
                  "CREATE TRIGGER warn_on_write BEFORE INSERT ON VendorCenterCrossReference "
                  "FOR EACH ROW EXECUTE FUNCTION warn_on_write()");
    m_server->setLogFormat(ops::LogFormat::Json);
    const auto res = post({insertSql(12, 7, "0.05", 1)});
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;

    const std::vector<std::string> lines = waitForLogLines(2);
    ASSERT_GE(lines.size(), 2u);
    int notices = 0;
    for (const std::string &line : lines) {
        QJsonParseError error;
        const auto o = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(o.contains("ts")) << line;
        if (o.contains("notice")) {
            EXPECT_EQ(o.value("notice").toString(), "WARNING:  vendor \"7\" written") << line;
            ++notices;
        }
    }
    EXPECT_GE(notices, 1);
}

TEST_F(ServerOps, JsonLogLinesHoldEveryKeyAndNoSecret)
{
    m_server->setLogFormat(ops::LogFormat::Json);
    const std::string refused = "UPDATE VendorCenterCrossReference SET CenterHandlingFee= 1, "
                                "DutyBrokerageFee= 0, RecordLastUpdated = 'SECRET-BEYOND-80'";
    ASSERT_GT(refused.find("SECRET"), 80u);
    httplib::Headers credentials{{"Authorization", "Basic dXNlcjpodW50ZXIy"}};
    ASSERT_TRUE(
        client().Get("/CenterVendor.asp?count=1&centerID=12&password=hunter2", credentials));
    ASSERT_TRUE(post({insertSql(12, 7, "0.05", 1), refused}));
    ASSERT_TRUE(get("/healthz"));

    const std::vector<std::string> lines = waitForLogLines(3);
    ASSERT_EQ(lines.size(), 3u);
    std::map<std::string, QJsonObject> byPath;
    for (const std::string &line : lines) {
        for (const char *secret : {"hunter2", "dXNlcjpodW50ZXIy", "SECRET"}) {
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
        }
        QJsonParseError error;
        const auto document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
        const QJsonObject o = document.object();
        for (const char *key :
             {"ts", "id", "method", "path", "center", "user", "statements", "status", "ms"}) {
            EXPECT_TRUE(o.contains(key)) << key << " in " << line;
        }
        EXPECT_EQ(o.value("id").toString().size(), 8) << line;
        EXPECT_TRUE(o.value("ms").isDouble()) << line;
        byPath[o.value("method").toString().toStdString() + " " +
               o.value("path").toString().toStdString()] = o;
    }
    const QJsonObject query = byPath.at("GET /CenterVendor.asp");
    EXPECT_EQ(query.value("center").toString(), "12");
    EXPECT_EQ(query.value("status").toInt(), 200);
    EXPECT_FALSE(query.contains("error"));

    const QJsonObject save = byPath.at("POST /CenterVendor.asp");
    EXPECT_EQ(save.value("status").toInt(), 400);
    EXPECT_EQ(save.value("statements").toInt(), 2);
    const std::string error = save.value("error").toString().toStdString();
    EXPECT_NE(error.find("statement 2 was refused"), std::string::npos) << error;
    EXPECT_NE(error.find(refused.substr(0, 80)), std::string::npos) << error;

    EXPECT_TRUE(byPath.at("GET /healthz").value("center").isNull());
}

} // namespace
} // namespace tarvo::server::testing
