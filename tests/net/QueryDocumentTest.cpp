#include "net/QueryDocument.h"

#include "support/CaseName.h"
#include "support/TestHttpServer.h"

#include <cctype>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <pugixml.hpp>
#include <string>
#include <vector>

using tarvo::net::AnswerError;
using tarvo::net::AnswerNode;
using tarvo::net::FailureKind;
using tarvo::net::FetchOptions;
using tarvo::net::QueryDocument;
using tarvo::net::RecordFields;
using tarvo::test::Answer;
using tarvo::test::caseName;
using tarvo::test::RefusingPort;
using tarvo::test::TestHttpServer;
using namespace std::chrono_literals;

namespace {

// Child counts and texts of a whole tree, depth first, to compare two answers as read.
std::string shape(const AnswerNode &node)
{
    std::string out = std::to_string(node.childCount()) + "'" + node.text() + "'";
    if (node.childCount() > 0) {
        out += "[";
        for (std::size_t i = 0; i < node.childCount(); ++i)
            out += shape(node.child(i, "node"));
        out += "]";
    }
    return out;
}

QueryDocument serveAndFetch(TestHttpServer &server, const std::string &body,
                            const std::string &path = "/CenterVendor.asp")
{
    server.answerGet(path, TestHttpServer::xml(body));
    return QueryDocument::fetch(server.url() + path);
}

// ---------------------------------------------------------------------------------------------
// Indentation between elements does not change what is read.

struct LayoutCase
{
    const char *name;
    std::string compact;
    std::string indented;
    std::size_t sections;
};

void PrintTo(const LayoutCase &c, std::ostream *os)
{
    *os << c.name;
}

class IndentedAnswer : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(IndentedAnswer, ReadsLikeTheCompactOne)
{
    TestHttpServer server;
    const LayoutCase &c = GetParam();
    const QueryDocument compact = serveAndFetch(server, c.compact, "/compact");
    const QueryDocument indented = serveAndFetch(server, c.indented, "/indented");
    ASSERT_TRUE(compact.hasDocumentElement()) << compact.error();
    ASSERT_TRUE(indented.hasDocumentElement()) << indented.error();
    EXPECT_EQ(compact.documentElement().childCount(), c.sections);
    EXPECT_EQ(shape(indented.documentElement()), shape(compact.documentElement()));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, IndentedAnswer,
    ::testing::Values(
        LayoutCase{"count", "<r><s><c><a>2</a><b>3</b><d>4</d></c></s></r>",
                   "<r>\n  <s>\n    <c>\n      <a>2</a>\n      <b>3</b>\n      <d>4</d>\n    "
                   "</c>\n  </s>\n</r>\n",
                   1},
        LayoutCase{"crlf and tabs",
                   "<?xml version=\"1.0\"?><r><s/><s><v><i>7</i><n>Acme</n></v></s></r>",
                   "<?xml version=\"1.0\"?>\r\n<r>\r\n\t<s/>\r\n\t<s>\r\n\t\t<v>\r\n\t\t\t<i>7</i>"
                   "\r\n\t\t\t<n>Acme</n>\r\n\t\t</v>\r\n\t</s>\r\n</r>\r\n",
                   2},
        LayoutCase{"empty section", "<r><a/><b></b><c/></r>", "<r>\n <a/>\n <b>  </b>\n <c/>\n</r>",
                   3}),
    caseName);

// ---------------------------------------------------------------------------------------------
// Which nodes count: comments and processing instructions do, whitespace does not.

struct CountCase
{
    const char *name;
    std::string body;
    std::vector<std::string> childTexts; // texts of the document element's children, in order
};

void PrintTo(const CountCase &c, std::ostream *os)
{
    *os << c.name;
}

class NodeCounting : public ::testing::TestWithParam<CountCase>
{
};

TEST_P(NodeCounting, CountsEveryNodeButWhitespace)
{
    TestHttpServer server;
    const CountCase &c = GetParam();
    const QueryDocument doc = serveAndFetch(server, c.body);
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    const AnswerNode root = doc.documentElement();
    ASSERT_EQ(root.childCount(), c.childTexts.size());
    for (std::size_t i = 0; i < c.childTexts.size(); ++i)
        EXPECT_EQ(root.child(i, "section").text(), c.childTexts[i]) << "position " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, NodeCounting,
    ::testing::Values(
        CountCase{"comment", "<r><!-- note --><s>1</s><s>2</s></r>", {" note ", "1", "2"}},
        CountCase{"pi", "<r>\n<?stamp 2024?>\n<s>1</s></r>", {"2024", "1"}},
        CountCase{"outside root",
                  "<?xml version=\"1.0\"?><!--top--><?x y?><r><s>1</s></r><!--end-->",
                  {"1"}},
        CountCase{"text between elements", "<r> <s>1</s> x <s>2</s></r>", {"1", " x ", "2"}},
        CountCase{"cdata of blanks", "<r><s/><![CDATA[  ]]></r>", {"", "  "}}),
    caseName);

// ---------------------------------------------------------------------------------------------
// The tree keeps an element's leading text in the element; read, it is a node like any other:
// the same counts and texts as pugixml's tree with a node for every text.

// Every text below node in document order, gathered by pugixml's own tree walk.
std::string descendantText(pugi::xml_node node)
{
    struct Texts : pugi::xml_tree_walker
    {
        std::string text;
        bool for_each(pugi::xml_node &d) override
        {
            if (d.type() == pugi::node_pcdata || d.type() == pugi::node_cdata)
                text += d.value();
            return true;
        }
    } texts;
    node.traverse(texts);
    return texts.text;
}

// shape() of the same body parsed into a node per text, read straight from pugixml.
std::string referenceShape(pugi::xml_node node)
{
    std::size_t count = 0;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        ++count;
    const bool holdsTexts = node.type() == pugi::node_element || node.type() == pugi::node_document;
    const std::string text = holdsTexts ? descendantText(node) : std::string(node.value());
    std::string out = std::to_string(count) + "'" + text + "'";
    if (count > 0) {
        out += "[";
        for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
            out += referenceShape(c);
        out += "]";
    }
    return out;
}

class LeadingText : public ::testing::TestWithParam<std::string>
{
};

TEST_P(LeadingText, ReadsLikeANodeOfItsOwn)
{
    std::string body = GetParam();
    const QueryDocument doc = QueryDocument::parse(body);
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    pugi::xml_document reference;
    ASSERT_TRUE(reference.load_buffer_inplace(body.data(), body.size(),
                                              pugi::parse_cdata | pugi::parse_escapes |
                                                  pugi::parse_eol | pugi::parse_comments |
                                                  pugi::parse_pi));
    EXPECT_EQ(shape(doc.documentElement()), referenceShape(reference.document_element()));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, LeadingText,
    ::testing::Values("<r><f>7</f><f>a<!--c-->b</f><f><![CDATA[x]]>y</f><f>y<![CDATA[x]]></f></r>",
                      "<r>lead<s>1</s>tail<s/>  </r>", "<r><f>&#0;</f><f>&#0;x</f><f>x&#0;</f></r>",
                      "<r><f>a<b>c<d>e</d>f</b>g</f></r>", "<r><f> <i/>x</f><f>x <i/> </f></r>",
                      "<r><f><?p q?>t</f><f>t<?p q?></f><f>&amp;<!---->&lt;</f></r>",
                      "<r>\n<s>text<t>1</t></s>\n<s>a\r\nb</s></r>", "<r>only</r>"));

// ---------------------------------------------------------------------------------------------
// Every failed fetch leaves no document element and says why.

struct FailureCase
{
    const char *name;
    // Prepares the server and returns the URL to fetch.
    std::function<std::string(TestHttpServer &, const RefusingPort &)> setup;
    std::string expectedError;
    FetchOptions options;
    FailureKind kind = FailureKind::BadAnswer; // failure().kind, the value code reads
    int httpStatus = 0;
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class FailedFetch : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(FailedFetch, LeavesNoDocumentElement)
{
    TestHttpServer server;
    RefusingPort refusing;
    const FailureCase &c = GetParam();
    const std::string url = c.setup(server, refusing);

    const auto started = std::chrono::steady_clock::now();
    const QueryDocument doc = QueryDocument::fetch(url, c.options);
    const auto took = std::chrono::steady_clock::now() - started;

    EXPECT_FALSE(doc.hasDocumentElement());
    EXPECT_NE(doc.error().find(c.expectedError), std::string::npos) << doc.error();
    EXPECT_EQ(doc.failure().kind, c.kind);
    EXPECT_EQ(doc.failure().httpStatus, c.httpStatus);
    try {
        (void)doc.documentElement();
        ADD_FAILURE() << "documentElement() did not throw";
    } catch (const AnswerError &e) {
        EXPECT_EQ(std::string(e.what()), doc.error());
    }
    // Guards that the injected limits, not the 120 s default, ended the stalled fetch.
    EXPECT_LT(took, 5s);
}

// Generous limits that still end a broken case quickly; the stalled case must hit the total one.
const FetchOptions kPlainLimits{2000ms, 4000ms};
const FetchOptions kStallLimits{1000ms, 300ms};

std::string serving(TestHttpServer &server, Answer answer)
{
    server.answerGet("/CenterVendor.asp", std::move(answer));
    return server.url() + "/CenterVendor.asp?count=1&centerID=1";
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedFetch,
    ::testing::Values(
        FailureCase{"mismatched tags",
                    [](auto &s, auto &) { return serving(s, TestHttpServer::xml("<r><s></r>")); },
                    "not well-formed XML: Start-end tags mismatch at offset", kPlainLimits},
        FailureCase{
            "truncated",
            [](auto &s, auto &) { return serving(s, TestHttpServer::xml("<r><s><v>1</v></s>")); },
            "not well-formed", kPlainLimits},
        FailureCase{"two roots",
                    [](auto &s, auto &) { return serving(s, TestHttpServer::xml("<r/><r/>")); },
                    "more than one top-level element", kPlainLimits},
        FailureCase{"text after root",
                    [](auto &s, auto &) { return serving(s, TestHttpServer::xml("<r/>junk")); },
                    "text outside the document element", kPlainLimits},
        FailureCase{"empty body",
                    [](auto &s, auto &) { return serving(s, TestHttpServer::xml("")); },
                    "no document element", kPlainLimits},
        FailureCase{"html error page",
                    [](auto &s, auto &) {
                        return serving(s,
                                       TestHttpServer::text("<html><body>Oops<br></body></html>"));
                    },
                    "not well-formed", kPlainLimits},
        FailureCase{"not found", [](auto &s, auto &) { return s.url() + "/missing.asp"; },
                    "HTTP 404 from http", kPlainLimits, FailureKind::HttpStatus, 404},
        FailureCase{
            "server error with xml body",
            [](auto &s, auto &) { return serving(s, TestHttpServer::xml("<r><s/></r>", 500)); },
            "HTTP 500 from http://127.0.0.1:", kPlainLimits, FailureKind::HttpStatus, 500},
        FailureCase{
            "connection refused", [](auto &, auto &r) { return r.url() + "/CenterVendor.asp"; },
            "could not connect to http://127.0.0.1:", kPlainLimits, FailureKind::Unreachable},
        FailureCase{"stalled server",
                    [](auto &s, auto &) {
                        s.stallGet("/CenterVendor.asp", TestHttpServer::xml("<r/>"));
                        return s.url() + "/CenterVendor.asp";
                    },
                    "timed out", kStallLimits, FailureKind::TimedOut},
        FailureCase{"redirect off http",
                    [](auto &s, auto &) {
                        Answer moved = TestHttpServer::text("", 302);
                        moved.headers.emplace_back("Location", "file:///etc/passwd");
                        return serving(s, moved);
                    },
                    "could not fetch", kPlainLimits, FailureKind::ConnectionFailed},
        FailureCase{"redirect loop",
                    [](auto &s, auto &) {
                        Answer moved = TestHttpServer::text("", 302);
                        moved.headers.emplace_back("Location", "/CenterVendor.asp");
                        return serving(s, moved);
                    },
                    "could not fetch", kPlainLimits, FailureKind::ConnectionFailed}),
    caseName);

// ---------------------------------------------------------------------------------------------
// What goes over the wire.

TEST(QueryFetch, SendsAPlainGetWithTheUrlAsGiven)
{
    TestHttpServer server;
    server.answerGet("/CenterVendor.asp", TestHttpServer::xml("<r><s/></r>"));
    const QueryDocument doc =
        QueryDocument::fetch(server.url() + "/CenterVendor.asp?selected=1&centerID=-42");
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    EXPECT_EQ(doc.error(), "");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/CenterVendor.asp");
    EXPECT_EQ(requests[0].query, "selected=1&centerID=-42");
    EXPECT_EQ(requests[0].body, "");
    for (const char *header : {"Accept-Encoding", "Authorization", "Cookie", "Content-Type"})
        EXPECT_FALSE(requests[0].hasHeader(header)) << header;
}

TEST(QueryFetch, FollowsARedirect)
{
    TestHttpServer server;
    Answer moved = TestHttpServer::text("", 301);
    moved.headers.emplace_back("Location", "/new.asp?count=1");
    server.answerGet("/old.asp", moved);
    server.answerGet("/new.asp", TestHttpServer::xml("<r><s>moved</s></r>"));
    const QueryDocument doc = QueryDocument::fetch(server.url() + "/old.asp");
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    EXPECT_EQ(doc.documentElement().text(), "moved");
    EXPECT_EQ(server.requestsTo("/new.asp").size(), 1u);
}

TEST(QueryFetch, SkipsADocumentTypeWithoutFetchingIt)
{
    TestHttpServer server;
    const std::string body = "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM \"" + server.url() +
                             "/answer.dtd\" [\n  <!ENTITY ext SYSTEM \"" + server.url() +
                             "/entity.txt\">\n  <!ENTITY inner \"expanded\">\n]>\n"
                             "<r><s>&ext;|&inner;|&lt;</s></r>";
    const QueryDocument doc = serveAndFetch(server, body);
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    EXPECT_EQ(doc.documentElement().childCount(), 1u);
    EXPECT_EQ(doc.documentElement().child(0, "section").text(), "&ext;|&inner;|<");
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(server.requestsTo("/answer.dtd").empty());
    EXPECT_TRUE(server.requestsTo("/entity.txt").empty());
}

// ---------------------------------------------------------------------------------------------
// Text of fields: references, CDATA and mixed content.

struct TextCase
{
    const char *name;
    std::string field; // the one child of <r>
    std::string text;
    std::string firstChild;
    std::string lastChild;
};

void PrintTo(const TextCase &c, std::ostream *os)
{
    *os << c.name;
}

class FieldText : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(FieldText, ReadsAsWritten)
{
    const TextCase &c = GetParam();
    const QueryDocument doc = QueryDocument::parse("<r>" + c.field + "</r>");
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    const AnswerNode field = doc.documentElement().child(0, "field");
    EXPECT_EQ(field.text(), c.text);
    EXPECT_EQ(field.firstChildText("value"), c.firstChild);
    EXPECT_EQ(field.lastChildText(), c.lastChild);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FieldText,
    ::testing::Values(
        TextCase{"predefined entities", "<f>&lt;&gt;&amp;&quot;&apos;</f>", "<>&\"'", "<>&\"'",
                 "<>&\"'"},
        TextCase{"character references", "<f>&#65;&#x42;&#xe9;</f>", "AB\xC3\xA9", "AB\xC3\xA9",
                 "AB\xC3\xA9"},
        TextCase{"unknown entity stays", "<f>a &nbsp; b &amp; &bogus;</f>", "a &nbsp; b & &bogus;",
                 "a &nbsp; b & &bogus;", "a &nbsp; b & &bogus;"},
        TextCase{"cdata", "<f><![CDATA[a<b & &amp;]]></f>", "a<b & &amp;", "a<b & &amp;",
                 "a<b & &amp;"},
        TextCase{"mixed", "<f>x<![CDATA[y]]><i>z<j>w</j></i><!--c--><?p q?></f>", "xyzw", "x", "q"},
        TextCase{"comment first", "<f><!--note-->8</f>", "8", "note", "8"},
        TextCase{"utf8 kept", "<f>K\xC3\xB6ln \xE2\x82\xAC</f>", "K\xC3\xB6ln \xE2\x82\xAC",
                 "K\xC3\xB6ln \xE2\x82\xAC", "K\xC3\xB6ln \xE2\x82\xAC"}),
    caseName);

TEST(FieldText, DeclaredLatin1IsReadAsUtf8)
{
    const QueryDocument doc =
        QueryDocument::parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>Caf\xE9</r>");
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    EXPECT_EQ(doc.documentElement().text(), "Caf\xC3\xA9");
}

TEST(FieldText, DeepNestingIsReadWithoutRecursion)
{
    constexpr int depth = 50'000;
    std::string body;
    for (int i = 0; i < depth; ++i)
        body += "<a>";
    body += "x";
    for (int i = 0; i < depth; ++i)
        body += "</a>";
    const QueryDocument doc = QueryDocument::parse(body);
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    EXPECT_EQ(doc.documentElement().text(), "x");
}

// ---------------------------------------------------------------------------------------------
// Reading by position and its errors.

TEST(AnswerNodeErrors, NameWhatIsMissing)
{
    const QueryDocument doc = QueryDocument::parse("<r><s><v/></s></r>");
    ASSERT_TRUE(doc.hasDocumentElement());
    const AnswerNode root = doc.documentElement();
    try {
        (void)root.child(2, "selected section");
        ADD_FAILURE() << "child() did not throw";
    } catch (const AnswerError &e) {
        EXPECT_NE(std::string(e.what()).find("missing selected section at position 2"),
                  std::string::npos)
            << e.what();
    }
    const AnswerNode empty = root.child(0, "section").child(0, "record");
    EXPECT_EQ(empty.childCount(), 0u);
    EXPECT_EQ(empty.text(), "");
    EXPECT_EQ(empty.lastChildText(), "");
    try {
        (void)empty.firstChildText("vendor id");
        ADD_FAILURE() << "firstChildText() did not throw";
    } catch (const AnswerError &e) {
        EXPECT_NE(std::string(e.what()).find("missing vendor id"), std::string::npos) << e.what();
    }
}

TEST(AnswerNodeErrors, NoDocumentBeforeAnyLoad)
{
    QueryDocument doc;
    EXPECT_FALSE(doc.hasDocumentElement());
    EXPECT_FALSE(doc.error().empty());
    EXPECT_THROW((void)doc.documentElement(), AnswerError);
}

// Many records read by position in order, backwards and interleaved across documents, the way a
// load walks a section; the answers must stay right however the reads are mixed.
TEST(PositionalReads, ManyRecordsInAnyOrder)
{
    constexpr std::size_t rows = 3000;
    auto answer = [](std::size_t count, const std::string &prefix) {
        std::string body = "<r><s>";
        for (std::size_t i = 0; i < count; ++i)
            body += "<v><i>" + prefix + std::to_string(i) + "</i></v>";
        return body + "</s></r>";
    };
    QueryDocument first = QueryDocument::parse(answer(rows, "a"));
    QueryDocument second = QueryDocument::parse(answer(rows / 2, "b"));
    ASSERT_TRUE(first.hasDocumentElement());
    ASSERT_TRUE(second.hasDocumentElement());
    const AnswerNode a = first.documentElement().child(0, "section");
    const AnswerNode b = second.documentElement().child(0, "section");
    ASSERT_EQ(a.childCount(), rows);
    ASSERT_EQ(b.childCount(), rows / 2);

    for (std::size_t i = 0; i < rows; ++i) {
        ASSERT_EQ(a.child(i, "record").child(0, "id").text(), "a" + std::to_string(i));
        if (i < rows / 2) {
            ASSERT_EQ(b.child(i, "record").firstChildText("id"), "b" + std::to_string(i));
        }
    }
    for (std::size_t i = rows; i-- > 0;)
        ASSERT_EQ(a.child(i, "record").text(), "a" + std::to_string(i));
    EXPECT_THROW((void)a.child(rows, "record"), AnswerError);

    // A new document may take the memory of the old one; reads must see only the new tree.
    first = QueryDocument::parse(answer(rows / 3, "c"));
    ASSERT_TRUE(first.hasDocumentElement());
    const AnswerNode c = first.documentElement().child(0, "section");
    EXPECT_EQ(c.childCount(), rows / 3);
    EXPECT_EQ(c.child(rows / 3 - 1, "record").text(), "c" + std::to_string(rows / 3 - 1));
    EXPECT_THROW((void)c.child(rows / 3, "record"), AnswerError);
}

TEST(PositionalReads, MovedDocumentKeepsItsTree)
{
    QueryDocument source = QueryDocument::parse("<r><s>1</s><s>2</s></r>");
    QueryDocument moved(std::move(source));
    ASSERT_TRUE(moved.hasDocumentElement());
    EXPECT_EQ(moved.documentElement().child(1, "section").text(), "2");
    QueryDocument assigned;
    assigned = std::move(moved);
    ASSERT_TRUE(assigned.hasDocumentElement());
    EXPECT_EQ(assigned.documentElement().childCount(), 2u);
}

// ---------------------------------------------------------------------------------------------
// A record's fields read in one walk: the same texts and errors as reading each field by
// position.

constexpr std::size_t kKept = 3;
constexpr std::size_t kNone = RecordFields<kKept>::npos;

struct RecordCase
{
    const char *name;
    std::string record; // the record's content
    std::size_t lastChildFrom;
    std::string fields; // the kept fields' texts joined by '|', "-" for one without a child node
    std::size_t count;
    std::size_t overflow;
};

void PrintTo(const RecordCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecordWalk : public ::testing::TestWithParam<RecordCase>
{
};

// The error a read throws, or "" when it does not.
template <typename Read> std::string errorOf(Read read)
{
    try {
        read();
    } catch (const AnswerError &e) {
        return e.what();
    }
    return {};
}

TEST_P(RecordWalk, ReadsEachFieldAsItsPositionWouldRead)
{
    const RecordCase &c = GetParam();
    const QueryDocument doc = QueryDocument::parse("<s><r>" + c.record + "</r></s>");
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    const AnswerNode record = doc.documentElement().child(0, "record");
    std::size_t visits = 0;
    doc.documentElement().forEachRecord<kKept>(
        c.lastChildFrom, [&](const RecordFields<kKept> &fields, std::size_t position) {
            ++visits;
            EXPECT_EQ(position, 0u);
            EXPECT_EQ(fields.count(), c.count);
            EXPECT_EQ(fields.overflow(), c.overflow);
            std::string joined;
            for (std::size_t k = 0; k < kKept; ++k) {
                joined += (k > 0 ? "|" : "") +
                          (fields[k].filled ? std::string(fields[k].text) : std::string("-"));
                // text() insists on a child node, in firstChildText's words.
                EXPECT_EQ(errorOf([&] { (void)fields.text(k, "field"); }),
                          errorOf([&] { (void)record.child(k, "field").firstChildText("field"); }))
                    << "field " << k;
            }
            EXPECT_EQ(joined, c.fields);
        });
    EXPECT_EQ(visits, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordWalk,
    ::testing::Values(
        RecordCase{"one text each", "<i>7</i><n>Acme</n><c>1</c>", kNone, "7|Acme|1", 3, kNone},
        RecordCase{"comment and pi are fields without text", "<i>7</i><!--c--><?p q?>", kNone,
                   "7|-|-", 3, kNone},
        RecordCase{"comment and pi are children", "<i><!--n-->8</i><n><?p q?></n>", kNone, "n|q|-",
                   2, kNone},
        RecordCase{"whitespace is no field and no text", "\n <i>7</i>\n <n> </n>\n", kNone, "7|-|-",
                   2, kNone},
        RecordCase{"last child from position 1", "<i>a<!--x-->b</i><n>c<!--y-->d</n><e/>", 1,
                   "a|d|-", 3, kNone},
        RecordCase{"element children are joined", "<i><b>x</b>y</i><n><b>p<j>q</j></b>r</n>", kNone,
                   "x|pq|-", 2, kNone},
        RecordCase{"joined last children", "<i>0</i><n>a<b>x<j>y</j></b></n><c><b>z</b></c>", 1,
                   "0|xy|z", 3, kNone},
        RecordCase{"cdata and references", "<i><![CDATA[a<b]]></i><n>&lt;&#65;&bogus;</n>", kNone,
                   "a<b|<A&bogus;|-", 2, kNone},
        RecordCase{"content past the kept fields", "<i>1</i><n/><c/><d/><e>5</e><f>6</f>", kNone,
                   "1|-|-", 6, 4},
        RecordCase{"empty fields past the kept ones", "<i>1</i><n/><c/><d/><e><!----></e>", 1,
                   "1|-|-", 5, 4},
        RecordCase{"leading text is a field without text", "x<i>1</i><n>2</n>", kNone, "-|1|2", 3,
                   kNone},
        RecordCase{"no fields", "", kNone, "-|-|-", 0, kNone}),
    caseName);

TEST(RecordWalk, VisitsEveryRecordInOrderWithItsOwnTexts)
{
    const QueryDocument doc =
        QueryDocument::parse("<s>lead<r><i>1</i><n>a<b>b</b></n></r>\n<!--gap-->\n"
                             "<r><i>2</i><n>c<b>d</b></n></r></s>");
    ASSERT_TRUE(doc.hasDocumentElement()) << doc.error();
    std::vector<std::string> seen;
    doc.documentElement().forEachRecord<2>(
        RecordFields<2>::npos, [&](const RecordFields<2> &fields, std::size_t position) {
            seen.push_back(std::to_string(position) + ":" + std::to_string(fields.count()) + ":" +
                           std::string(fields[0].text) + std::string(fields[1].text));
        });
    EXPECT_EQ(seen, (std::vector<std::string>{"0:0:", "1:2:1a", "2:0:", "3:2:2c"}));
}

} // namespace
