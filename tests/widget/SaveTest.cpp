// The commit: statements posted in one form body, the server's answer shown, and the lists
// reloaded; a failed save keeps every pending change.
#include "Fixtures.h"
#include "list/VendorList.h"
#include "list/VendorView.h"

#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

// Only the characters the statements use: blank, ( ) , =.
std::string encoded(const std::string &statement)
{
    std::string out;
    for (char c : statement) {
        switch (c) {
        case ' ':
            out += '+';
            break;
        case '(':
            out += "%28";
            break;
        case ')':
            out += "%29";
            break;
        case ',':
            out += "%2C";
            break;
        case '=':
            out += "%3D";
            break;
        default:
            out += c;
        }
    }
    return out;
}

class Saving : public ::testing::Test
{
protected:
    Saving() : server(std::make_unique<TestHttpServer>()), page(*server), input(control)
    {
        serveStandardCenter(page);
        answerPost(TestHttpServer::text("Saved: 1 added."));
        control.show();
        control.LetDataFromDatabase(12, QString::fromStdString(server->url()));
    }
    void answerPost(Answer answer) { server->answerPost("/CenterVendor.asp", std::move(answer)); }
    template <typename T> T *child(const char *name)
    {
        return control.findChild<T *>(QString::fromLatin1(name));
    }
    std::vector<RecordedRequest> posts() const
    {
        std::vector<RecordedRequest> out;
        for (auto &r : server->requestsTo("/CenterVendor.asp")) {
            if (r.method == "POST") {
                out.push_back(r);
            }
        }
        return out;
    }
    std::size_t gets() const
    {
        return server->requestsTo("/CenterVendor.asp").size() - posts().size();
    }
    void storeFee(const char *id, const QString &fee)
    {
        input.clickId(Center, id);
        input.clickButton("cmdcenterHandFee");
        input.type("txtCntHandFee", fee);
        input.clickButton("cmdcenterHandFee");
    }
    void commit() { input.clickButton("cmdCommit"); }
    tarvo::list::VendorList *rows(const char *list)
    {
        return control.findChild<tarvo::list::VendorList *>(QString::fromLatin1(list) + "Rows");
    }

    std::unique_ptr<TestHttpServer> server;
    ServedPage page;
    CenterVendor control;
    UserInput input;
};

TEST_F(Saving, theWorkedExampleIsPostedAsOneFormBody)
{
    page.setAll(countXml(2, 2, 4), answerXml(1, {{"7", "Seven", "1"}, {"5", "Five", "2"}}),
                answerXml(2, {{"3", "Three", "0.01", "1"},
                              {"4", "Four", "0.02", "1"},
                              {"8", "Eight", "0.03", "1"},
                              {"9", "Nine", "0.025", "0"}}));
    control.LetDataFromDatabase(12, QString());
    input.doubleClickId(Vendors, "7");
    storeFee("7", "5");
    storeFee("9", "2.5");
    input.doubleClickId(Center, "3");
    storeFee("4", "6");
    ASSERT_EQ(input.row(Center, "4").value(4), "1U");
    input.doubleClickId(Center, "4");
    input.clickHeader(Center, 0);
    input.clickHeader(Center, 0);
    ASSERT_EQ(columnOf(control, Center, 0), (QStringList{"7", "8", "9"}));
    // Returned rows take their places by id among the others.
    ASSERT_EQ(columnOf(control, Vendors, 4), (QStringList{"1D", "1DU", "0"}));

    MessageWatcher messages;
    commit();
    const auto sent = posts();
    ASSERT_EQ(sent.size(), 1u);
    const std::string expected =
        "SQL=" +
        encoded("INSERT INTO VendorCenterCrossReference (CenterID,VendorID,CenterHandlingFee,"
                "DutyBrokerageFee,RecordLastUpdated) VALUES (12,7,0.05,1,GETDATE() ) ") +
        "&SQL=" +
        encoded("UPDATE VendorCenterCrossReference SET CenterHandlingFee= 0.025, "
                "DutyBrokerageFee= 0, RecordLastUpdated = GETDATE() WHERE vendorID = 9 AND "
                "CenterID = 12") +
        "&SQL=" +
        encoded("DELETE FROM VENDORCENTERCROSSREFERENCE WHERE CENTERID=12 AND VENDORID IN(3,4)") +
        "&";
    EXPECT_EQ(sent[0].body, expected);
    EXPECT_EQ(sent[0].header("Content-Type"), "application/x-www-form-urlencoded");
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Saved: 1 added.");
    EXPECT_EQ(messages.seen()[0].title, "Center Vendor Cross Reference");
    EXPECT_EQ(messages.seen()[0].icon, QMessageBox::Information);
}

TEST_F(Saving, aSuccessfulCommitReloadsWhatTheServerHolds)
{
    input.doubleClickId(Vendors, "10");
    page.setAll(countXml(2, 3, 4),
                answerXml(1, {{"11", "Bolt", "2"}, {"12", "Cargo", "1"}, {"13", "Delta", "3"}}),
                answerXml(2, {{"10", "Acme", "0.08", "1"},
                              {"20", "Echo", "0.05", "1"},
                              {"21", "Fox", "0.08", "0"},
                              {"22", "Golf", "0.125", "1"}}));
    MessageWatcher messages;
    commit();
    EXPECT_EQ(posts().size(), 1u);
    EXPECT_EQ(columnOf(control, Center, 4), (QStringList{"1", "1", "0", "1"}));
    EXPECT_FALSE(child<QPushButton>("cmdCommit")->isEnabled());
}

TEST_F(Saving, onlyRemovalsSendTheSingleDeleteInListOrder)
{
    input.clickHeader(Vendors, 0); // ids descending, so list order is not removal order
    input.doubleClickId(Center, "20");
    input.doubleClickId(Center, "22");
    MessageWatcher messages;
    commit();
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_EQ(posts()[0].body,
              "SQL=" +
                  encoded("DELETE FROM VENDORCENTERCROSSREFERENCE WHERE CENTERID=12 AND "
                          "VENDORID IN(22,20)") +
                  "&");
}

TEST_F(Saving, nothingPendingSendsNothingShowsNothingAndStillReloads)
{
    input.doubleClickId(Vendors, "10");
    input.doubleClickId(Center, "10");
    ASSERT_TRUE(child<QPushButton>("cmdCommit")->isEnabled());
    MessageWatcher messages;
    const auto before = gets();
    commit();
    EXPECT_TRUE(posts().empty());
    EXPECT_TRUE(messages.seen().empty());
    EXPECT_EQ(gets(), before + 3);
}

TEST_F(Saving, aFeeThatIsNotANumberSendsNothingAndKeepsTheMarks)
{
    input.doubleClickId(Vendors, "10");
    rows(Center)->SetSubItem(rows(Center)->FindItem("10"), 3, "abc");
    MessageWatcher messages;
    const auto before = gets();
    commit();
    EXPECT_TRUE(posts().empty());
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Error Occoured");
    EXPECT_EQ(messages.seen()[0].title, "Information");
    EXPECT_EQ(messages.seen()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(gets(), before) << "no reload after a failed save";
    EXPECT_EQ(input.row(Center, "10").value(4), "1N");
    EXPECT_TRUE(child<QPushButton>("cmdCommit")->isEnabled());
}

TEST_F(Saving, aVendorIdThatIsNotAWholeNumberNeverReachesAStatement)
{
    page.setAll(countXml(1, 1, 0), answerXml(1, {{"7);DELETE FROM x;--", "Evil", "1"}}),
                answerXml(2, {}));
    control.LetDataFromDatabase(12, QString());
    input.doubleClickId(Vendors, "7);DELETE FROM x;--");
    MessageWatcher messages;
    commit();
    EXPECT_TRUE(posts().empty());
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Error Occoured");
}

TEST_F(Saving, aServerRefusalIsShownWithItsReasonAndKeepsTheMarks)
{
    answerPost(TestHttpServer::text("Nothing was saved: vendor 10 is already assigned.", 409));
    input.doubleClickId(Vendors, "10");
    MessageWatcher messages;
    const auto before = gets();
    commit();
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Error During saving to Database");
    EXPECT_EQ(messages.seen()[0].title, "TarvoCenterVendor");
    EXPECT_EQ(messages.seen()[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(messages.seen()[0].informative, "Nothing was saved: vendor 10 is already assigned.");
    EXPECT_EQ(gets(), before);
    EXPECT_EQ(input.row(Center, "10").value(4), "1N");
    EXPECT_TRUE(child<QPushButton>("cmdCommit")->isEnabled());
}

TEST_F(Saving, aServerThatIsGoneFailsTheCommitWithoutLosingAnything)
{
    input.doubleClickId(Vendors, "10");
    server.reset();
    MessageWatcher messages;
    commit();
    ASSERT_EQ(messages.seen().size(), 1u);
    EXPECT_EQ(messages.seen()[0].text, "Error During saving to Database");
    EXPECT_FALSE(messages.seen()[0].informative.isEmpty());
    EXPECT_EQ(input.row(Center, "10").value(4), "1N");
}

struct AnswerCase
{
    const char *what;
    std::string answer;
    bool shown;
};

class ServerAnswer : public Saving, public ::testing::WithParamInterface<AnswerCase>
{
};

TEST_P(ServerAnswer, isShownWholeUnlessOnlyBlanks)
{
    answerPost(TestHttpServer::text(GetParam().answer));
    input.doubleClickId(Vendors, "10");
    MessageWatcher messages;
    commit();
    ASSERT_EQ(messages.seen().size(), GetParam().shown ? 1u : 0u);
    if (GetParam().shown) {
        EXPECT_EQ(messages.seen()[0].text.toStdString(), GetParam().answer);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ServerAnswer,
                         ::testing::Values(AnswerCase{"long", std::string(3000, 'x') + "end", true},
                                           AnswerCase{"blanks", "     ", false},
                                           AnswerCase{"empty", "", false},
                                           AnswerCase{"lineBreak", "\n", true},
                                           AnswerCase{"tab", " \t ", true}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST_F(Saving, movesAreRefusedWhileTheCommitWaitsForTheServer)
{
    server->stallPost("/CenterVendor.asp", TestHttpServer::text("Saved."));
    input.doubleClickId(Vendors, "10");
    bool buttonsLocked = false;
    QTimer::singleShot(50, [&] {
        buttonsLocked = !child<QPushButton>("cmdCommit")->isEnabled() &&
                        !child<QPushButton>("cmdAdd")->isEnabled();
        auto *view = qobject_cast<tarvo::list::VendorView *>(listView(control, Vendors));
        input.clickId(Vendors, "11");
        Q_EMIT view->DblClick();
        EXPECT_NE(input.rowOf(Vendors, "11"), -1) << "the double click moved nothing";
        server->releaseStalled();
    });
    MessageWatcher messages;
    commit();
    EXPECT_TRUE(buttonsLocked);
    EXPECT_EQ(posts().size(), 1u);
    EXPECT_EQ(posts()[0].body.find("%2C11%2C"), std::string::npos);
}

TEST_F(Saving, urlEncodeIsPublicAndUsesCodePage1252)
{
    EXPECT_EQ(control.urlEncode("a b&c"), "a+b%26c");
    EXPECT_EQ(control.urlEncode(QString::fromUtf8("é€")), "%E9%80");
    EXPECT_EQ(control.urlEncode(QString::fromUtf8("中")), "%3F");
    QString viaName;
    QMetaObject::invokeMethod(&control, "urlEncode", Q_RETURN_ARG(QString, viaName),
                              Q_ARG(QString, "x=1,y"));
    EXPECT_EQ(viaName, "x%3D1%2Cy");
}

} // namespace

namespace {

// Restores the process and Qt number locales after a test that changes them.
class GermanNumbers
{
public:
    GermanNumbers() : m_qt(QLocale()), m_c(std::setlocale(LC_NUMERIC, nullptr))
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
            if (std::setlocale(LC_NUMERIC, name)) {
                break;
            }
        }
    }
    ~GermanNumbers()
    {
        QLocale::setDefault(m_qt);
        std::setlocale(LC_NUMERIC, m_c.c_str());
    }

private:
    QLocale m_qt;
    std::string m_c;
};

TEST_F(Saving, numbersUseAFullStopWhateverTheLocale)
{
    GermanNumbers german;
    control.LetDataFromDatabase(12, QString());
    EXPECT_EQ(input.row(Center, "22").value(3), "12.50");
    input.clickId(Center, "22");
    input.clickButton("cmdcenterHandFee");
    input.type("txtCntHandFee", "2.5");
    input.clickButton("cmdcenterHandFee");
    MessageWatcher messages;
    commit();
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_NE(posts()[0].body.find("CenterHandlingFee%3D+0.025%2C"), std::string::npos)
        << posts()[0].body;
}

} // namespace
