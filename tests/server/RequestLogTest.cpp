#include "ops/RequestLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <string>

namespace tarvo::server {
namespace {

struct EscapeCase
{
    const char *name;
    std::string input;
    std::string expected;
};

class JsonEscaping : public ::testing::TestWithParam<EscapeCase>
{
};

TEST_P(JsonEscaping, KeepsValidTextAndEscapesOrReplacesTheRest)
{
    std::string out;
    appendJsonEscaped(out, GetParam().input);
    EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    RequestLog, JsonEscaping,
    ::testing::Values(EscapeCase{"Plain", "/CenterVendor.asp", "/CenterVendor.asp"},
                      EscapeCase{"QuoteAndBackslash", "a\"b\\c", "a\\\"b\\\\c"},
                      EscapeCase{"LineBreaksAndTab", "a\nb\rc\td", "a\\nb\\rc\\td"},
                      EscapeCase{"OtherControls", std::string("\x01\x1f\x7f\0x", 5),
                                 "\\u0001\\u001f\\u007f\\u0000x"},
                      EscapeCase{"ValidUtf8", "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80",
                                 "Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x98\x80"},
                      EscapeCase{"LineSeparator",
                                 "a\xE2\x80\xA8"
                                 "b",
                                 "a\\u2028b"},
                      EscapeCase{"LoneContinuation",
                                 "a\x80"
                                 "b",
                                 "a\\ufffdb"},
                      EscapeCase{"Latin1Byte", "caf\xE9", "caf\\ufffd"},
                      EscapeCase{"TruncatedAtEnd", "x\xE2\x82", "x\\ufffd"},
                      EscapeCase{"TruncatedBeforeAscii",
                                 "\xE2\x82"
                                 "A",
                                 "\\ufffdA"},
                      EscapeCase{"Overlong", "\xC0\xAF", "\\ufffd\\ufffd"},
                      EscapeCase{"OverlongThreeBytes", "\xE0\x80\xAF", "\\ufffd\\ufffd\\ufffd"},
                      EscapeCase{"Surrogate", "\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd"},
                      EscapeCase{"AboveUnicode", "\xF4\x90\x80\x80",
                                 "\\ufffd\\ufffd\\ufffd\\ufffd"},
                      EscapeCase{"NeverUtf8", "\xFF\xFE", "\\ufffd\\ufffd"}),
    [](const auto &info) { return std::string(info.param.name); });

RequestRecord hostileRecord()
{
    RequestRecord record;
    record.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796650923042));
    record.id = "0a1b2c3d";
    record.client = "127.0.0.1";
    record.method = "POST";
    record.path = "/Center\"Vendor\n.asp\xFF" + std::string(500, 'p');
    record.note.center = "12";
    record.note.statements = 3;
    record.status = 400;
    record.elapsed = std::chrono::microseconds(12345);
    record.reason = "Nothing was saved: statement 2 was refused: quoted text is not accepted.";
    record.detail = "statement 2: " + std::string(400, 'S');
    return record;
}

TEST(RequestLog, JsonLineIsOneValidObjectWithEveryKey)
{
    const std::string line = formatLogLine(hostileRecord(), LogFormat::Json);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << line;
    const QJsonObject o = document.object();
    EXPECT_EQ(o.value("ts").toString().toStdString(), "2026-12-07T13:42:03.042Z");
    EXPECT_EQ(o.value("id").toString(), "0a1b2c3d");
    EXPECT_EQ(o.value("method").toString(), "POST");
    EXPECT_TRUE(o.value("path").toString().startsWith("/Center\"Vendor\n.asp\uFFFDppp"));
    EXPECT_LE(o.value("path").toString().size(), 210);
    EXPECT_EQ(o.value("center").toString(), "12");
    EXPECT_TRUE(o.value("user").isNull());
    EXPECT_EQ(o.value("statements").toInt(), 3);
    EXPECT_EQ(o.value("status").toInt(), 400);
    EXPECT_DOUBLE_EQ(o.value("ms").toDouble(), 12.3);
    const QString text = o.value("error").toString();
    EXPECT_TRUE(text.startsWith("Nothing was saved: statement 2 was refused")) << line;
    EXPECT_LE(text.size(), 310);
    EXPECT_EQ(o.size(), 11); // the ten keys and the client address
}

TEST(RequestLog, JsonLineLeavesErrorOutAndNullsWhatIsUnknown)
{
    RequestRecord record;
    record.id = "1";
    record.client = "::1";
    record.path = "/";
    const std::string line = formatLogLine(record, LogFormat::Json);
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    ASSERT_FALSE(o.isEmpty()) << line;
    EXPECT_FALSE(o.contains("error"));
    for (const char *key : {"method", "center", "user", "status"}) {
        EXPECT_TRUE(o.value(key).isNull()) << key;
    }
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$")
                    .match(o.value("ts").toString())
                    .hasMatch());
}

TEST(RequestLog, TextLineStaysOneBoundedLine)
{
    const std::string line = formatLogLine(hostileRecord(), LogFormat::Text);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_LT(line.size(), 700u);
    EXPECT_EQ(line.rfind("POST /Center\"Vendor%0A.asp\xEF\xBF\xBD", 0), 0u) << line;
    EXPECT_NE(line.find(" status=400 12.3 ms id=0a1b2c3d from=127.0.0.1"), std::string::npos)
        << line;
}

TEST(RequestLog, NoTextFieldCanBeForgedAndInvalidUtf8BecomesTheReplacementCharacter)
{
    RequestRecord record;
    record.method = "GET";
    record.status = 401;
    const std::pair<std::string, std::string> cases[] = {
        {"/x status=200 user=ceo", "GET /x%20status%3D200%20user%3Dceo center=-"},
        {"/a%20b", "GET /a%2520b center=-"},
        {"/caf\xC3\xA9\xFF", "GET /caf\xC3\xA9\xEF\xBF\xBD center=-"},
        {"/x\ty", "GET /x%09y center=-"},
    };
    for (const auto &[path, start] : cases) {
        record.path = path;
        const std::string text = formatLogLine(record, LogFormat::Text);
        EXPECT_EQ(text.rfind(start, 0), 0u) << text;
        EXPECT_NE(text.find(" status=401 "), std::string::npos) << text;
        const std::string json = formatLogLine(record, LogFormat::Json);
        EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(json)).isNull()) << json;
        EXPECT_EQ(json.find("\xFF"), std::string::npos) << json;
    }
}

} // namespace
} // namespace tarvo::server
