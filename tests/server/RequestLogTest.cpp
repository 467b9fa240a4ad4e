#include "ops/RequestLog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
    ops::appendJsonEscaped(out, GetParam().input);
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
                      EscapeCase{"NextLineAndParagraphSeparator",
                                 "a\xC2\x85"
                                 "b\xE2\x80\xA9"
                                 "c",
                                 "a\\u0085b\\u2029c"},
                      EscapeCase{"NoBreakSpaceKept",
                                 "a\xC2\xA0"
                                 "b",
                                 "a\xC2\xA0"
                                 "b"},
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

ops::RequestRecord hostileRecord()
{
    ops::RequestRecord record;
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
    const std::string line = ops::formatLogLine(hostileRecord(), ops::LogFormat::Json);
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
    ops::RequestRecord record;
    record.id = "1";
    record.client = "::1";
    record.path = "/";
    const std::string line = ops::formatLogLine(record, ops::LogFormat::Json);
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
    const std::string line = ops::formatLogLine(hostileRecord(), ops::LogFormat::Text);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_LT(line.size(), 700u);
    EXPECT_EQ(line.rfind("POST /Center\"Vendor%0A.asp\xEF\xBF\xBD", 0), 0u) << line;
    EXPECT_NE(line.find(" status=400 12.3 ms id=0a1b2c3d from=127.0.0.1"), std::string::npos)
        << line;
}

void setField(ops::RequestRecord &record, std::string_view field, const std::string &value)
{
    std::string *fields[] = {&record.method, &record.path,   &record.note.center,
                             &record.id,     &record.client, &record.note.user,
                             &record.ending, &record.detail};
    const std::string_view names[] = {"method", "path", "center", "id",
                                      "client", "user", "ending", "detail"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (names[i] == field) {
            *fields[i] = value;
        }
    }
}

struct FieldCase
{
    const char *field; // "notice": the text of a text notice
    std::string input;
    std::string expected; // a part of the text line; the whole text notice
};

TEST(RequestLog, NoTextFieldCanBeForgedAndInvalidUtf8BecomesTheReplacementCharacter)
{
    const FieldCase cases[] = {
        {"path", "/x status=200 user=ceo", "GET /x%20status%3D200%20user%3Dceo center=-"},
        {"path", "/a%20b", "GET /a%2520b center=-"},
        {"path", "/caf\xC3\xA9\xFF", "GET /caf\xC3\xA9\xEF\xBF\xBD center=-"},
        {"path", "/x\ty", "GET /x%09y center=-"},
        {"path",
         "/a\xE2\x80\xA8"
         "b\xE2\x80\xA9"
         "c\xC2\x85"
         "d",
         "GET /a%E2%80%A8b%E2%80%A9c%C2%85d center=-"},
        {"path", "/x\xC2\xA0user=ceo\xE3\x80\x80", "GET /x%C2%A0user%3Dceo%E3%80%80 center=-"},
        {"path", "", "GET - center=-"},
        {"method", "", "- / center=-"},
        {"center", "12 user=ceo", " center=12%20user%3Dceo statements="},
        {"id", "a=b", " id=a%3Db from="},
        {"client", "1.2.3.4\r\nGET", " from=1.2.3.4%0D%0AGET"},
        {"user", "ceo end=x", " user=ceo%20end%3Dx"},
        {"ending",
         "timed-out\xE2\x80\xA8"
         "GET",
         " end=timed-out%E2%80%A8GET"},
        {"detail", "db down user=ceo\nstatus=200", " detail=db%20down%20user%3Dceo%0Astatus%3D200"},
        {"notice", "WARNING:  vendor \"7\" written", "WARNING:  vendor \"7\" written"},
        {"notice",
         "db: a b=c 50%\nforged\xE2\x80\xA8"
         "line\xC2\x85",
         "db: a b=c 50%%0Aforged%E2%80%A8line%C2%85"},
    };
    for (const FieldCase &c : cases) {
        if (std::string_view(c.field) == "notice") {
            EXPECT_EQ(ops::formatNotice(c.input, ops::LogFormat::Text), c.expected);
            const std::string json = ops::formatNotice(c.input, ops::LogFormat::Json);
            EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(json)).isNull()) << json;
            continue;
        }
        ops::RequestRecord record;
        record.method = "GET";
        record.path = "/";
        record.status = 401;
        setField(record, c.field, c.input);
        const std::string text = ops::formatLogLine(record, ops::LogFormat::Text);
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        for (const char *key : {" center=", " status=", " id=", " from=", " user=", " end="}) {
            const std::size_t first = text.find(key);
            EXPECT_EQ(text.find(key, first == std::string::npos ? 0 : first + 1), std::string::npos)
                << key << " twice in " << text;
        }
        EXPECT_NE(text.find(" status=401 "), std::string::npos) << text;
        const std::string json = ops::formatLogLine(record, ops::LogFormat::Json);
        EXPECT_FALSE(QJsonDocument::fromJson(QByteArray::fromStdString(json)).isNull()) << json;
        for (const char *raw : {"\xFF", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
            EXPECT_EQ(json.find(raw), std::string::npos) << json;
        }
    }
}

// Whatever bytes the fields hold, a reader splitting the text line at blanks finds the method,
// the path, the time and each present field's key once, and no line break of any kind.
TEST(RequestLog, RandomFieldsNeverBreakTheTextLineOrAddAField)
{
    // Bytes that matter here, more often than chance would pick them.
    const std::string_view pieces[] = {
        " ",        "=",    "%",    "\n",    "\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9",
        "\xC2\xA0", "\xE2", "\x80", "user=", "ms"};
    std::mt19937 random(20261207);
    const auto anyText = [&] {
        std::string text;
        for (int n = static_cast<int>(random() % 12); n > 0; --n) {
            if (random() % 2 == 0) {
                text += pieces[random() % std::size(pieces)];
            } else {
                text += static_cast<char>(random() % 256);
            }
        }
        return text;
    };
    for (int round = 0; round < 3000; ++round) {
        ops::RequestRecord record;
        for (const char *field :
             {"method", "path", "center", "id", "client", "user", "ending", "detail"}) {
            setField(record, field, anyText());
        }
        record.status = static_cast<int>(random() % 600);
        const std::string line = ops::formatLogLine(record, ops::LogFormat::Text);
        for (const std::string_view breaking :
             {"\n", "\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
            ASSERT_EQ(line.find(breaking), std::string::npos) << line;
        }
        std::vector<std::string> keys;
        std::size_t plain = 0;
        std::size_t start = 0;
        for (;;) {
            const std::size_t blank = line.find(' ', start);
            const std::string token = line.substr(start, blank - start);
            const std::size_t equals = token.find('=');
            if (equals == std::string::npos) {
                ++plain;
            } else {
                keys.push_back(token.substr(0, equals));
                ASSERT_EQ(token.find('=', equals + 1), std::string::npos) << line;
            }
            if (blank == std::string::npos) {
                break;
            }
            start = blank + 1;
        }
        std::vector<std::string> expected{"center", "statements", "status", "id", "from"};
        for (const auto &[key, value] :
             {std::pair{"user", &record.note.user}, std::pair{"end", &record.ending},
              std::pair{"detail", &record.detail}}) {
            if (!value->empty()) {
                expected.emplace_back(key);
            }
        }
        ASSERT_EQ(keys, expected) << line;
        ASSERT_EQ(plain, 4u) << line; // the method, the path, the milliseconds and "ms"
    }
}

} // namespace
} // namespace tarvo::server
