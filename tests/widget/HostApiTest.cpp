// What a host reaches through the public header alone: the commit as a call between its two
// signals with a typed end, whether it is offered, the lists' row counts and the keyboard's
// list; each also by name through the meta-object, as script hosts and QML reach them.
#include "Fixtures.h"
#include "net/Transfer.h"

#include <QApplication>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

using namespace tarvo::test;
using Reason = CenterVendor::CommitFailureReason;

namespace {

class HostApi : public ::testing::Test
{
public:
    HostApi() : server(std::make_unique<TestHttpServer>()), page(*server), input(control)
    {
        serveStandardCenter(page);
        server->answerPost("/CenterVendor.asp", TestHttpServer::text("Saved: 1 added."));
        control.show();
        control.LetDataFromDatabase(12, QString::fromStdString(server->url()));
    }

    std::unique_ptr<TestHttpServer> server;
    ServedPage page;
    CenterVendor control;
    UserInput input;
};

TEST_F(HostApi, commitRunsTheButtonsCommitBetweenItsTwoSignals)
{
    std::vector<QString> order;
    QObject::connect(&control, &CenterVendor::commitStarted, [&] { order.push_back("started"); });
    QObject::connect(&control, &CenterVendor::canCommitChanged,
                     [&](bool offered) { order.push_back(offered ? "offered" : "withdrawn"); });
    QObject::connect(&control, &CenterVendor::commitFinished,
                     [&](bool ok) { order.push_back(ok ? "saved" : "failed"); });

    EXPECT_FALSE(control.canCommit());
    control.commit();
    EXPECT_TRUE(order.empty()) << "nothing is offered, so nothing happens";

    input.doubleClickId(Vendors, "10");
    EXPECT_TRUE(control.property("canCommit").toBool());
    MessageWatcher messages;
    ASSERT_TRUE(QMetaObject::invokeMethod(&control, "commit"));
    EXPECT_EQ(order, (std::vector<QString>{"offered", "started", "withdrawn", "saved"}));
    EXPECT_FALSE(control.hasPendingChanges());
    EXPECT_EQ(server->requestsTo("/CenterVendor.asp").back().method, "GET") << "reloaded";
}

// One commit's end as the host reads it.
struct EndCase
{
    const char *name;
    // Prepares the server (and the control) after the load; returns the vendor to add.
    std::function<QString(HostApi &, std::unique_ptr<TestHttpServer> &, CenterVendor &)> setup;
    bool ok;
    Reason reason;
    int httpStatus;
    const char *serverText;
};

void PrintTo(const EndCase &c, std::ostream *os)
{
    *os << c.name;
}

class CommitEnd : public HostApi, public ::testing::WithParamInterface<EndCase>
{
};

// The public gadget read by name, as a host without the header's types would read it.
QVariant gadgetProperty(const CenterVendorCommitFailure &failure, const char *name)
{
    const QMetaObject &meta = CenterVendorCommitFailure::staticMetaObject;
    return meta.property(meta.indexOfProperty(name)).readOnGadget(&failure);
}

TEST_P(CommitEnd, givesItsReasonStatusAndTheServersText)
{
    const EndCase &c = GetParam();
    const QString id = c.setup(*this, server, control);
    input.doubleClickId(Vendors, id);
    QSignalSpy finished(&control, &CenterVendor::commitFinished);
    MessageWatcher messages;
    control.commit();

    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished[0][0].toBool(), c.ok);
    const CenterVendorCommitFailure failure = control.commitFailure();
    EXPECT_EQ(failure.reason, c.reason);
    EXPECT_EQ(failure.httpStatus, c.httpStatus);
    EXPECT_EQ(failure.serverText, c.serverText);
    EXPECT_EQ(failure.detail.isEmpty(), c.reason == Reason::None) << failure.detail.toStdString();
    EXPECT_EQ(control.hasPendingChanges(), !c.ok) << "a commit that saved nothing keeps them";

    CenterVendorCommitFailure byName;
    ASSERT_TRUE(QMetaObject::invokeMethod(&control, "commitFailure",
                                          Q_RETURN_ARG(CenterVendorCommitFailure, byName)));
    EXPECT_EQ(gadgetProperty(byName, "reason").value<Reason>(), c.reason);
    EXPECT_EQ(gadgetProperty(byName, "httpStatus").toInt(), c.httpStatus);
    EXPECT_EQ(gadgetProperty(byName, "serverText").toString(), c.serverText);
}

QString answering(std::unique_ptr<TestHttpServer> &server, Answer answer)
{
    server->answerPost("/CenterVendor.asp", std::move(answer));
    return "10";
}

INSTANTIATE_TEST_SUITE_P(
    EachEnd, CommitEnd,
    ::testing::Values(
        EndCase{"saved", [](auto &, auto &, auto &) { return QString("10"); }, true, Reason::None,
                0, ""},
        EndCase{"notSignedIn",
                [](auto &, auto &s, auto &) {
                    return answering(s, TestHttpServer::text("Sign in first.", 401));
                },
                false, Reason::NotSignedIn, 401, "Sign in first."},
        EndCase{"noRights",
                [](auto &, auto &s, auto &) {
                    return answering(s, TestHttpServer::text("Center 12 is not yours.\n", 403));
                },
                false, Reason::NoRights, 403, "Center 12 is not yours."},
        EndCase{"refusedWithAReason",
                [](auto &, auto &s, auto &) {
                    return answering(s, TestHttpServer::text("Nothing was saved: no.", 409));
                },
                false, Reason::Refused, 409, "Nothing was saved: no."},
        EndCase{"refusedWithoutOne",
                [](auto &, auto &s, auto &) { return answering(s, TestHttpServer::text("", 500)); },
                false, Reason::Refused, 500, ""},
        EndCase{"serverGone",
                [](auto &, auto &s, auto &) {
                    s.reset();
                    return QString("10");
                },
                false, Reason::Unreachable, 0, ""},
        EndCase{"answerLost",
                [](auto &, auto &s, auto &control) {
                    s->stallPost("/CenterVendor.asp");
                    control.template findChild<tarvo::net::Transfer *>("Inet1")->setStallLimit(200);
                    return QString("10");
                },
                false, Reason::OutcomeUnknown, 0, ""},
        EndCase{"batchNotBuilt",
                [](auto &h, auto &, auto &control) {
                    h.page.setAll(countXml(1, 1, 0), answerXml(1, {{"7x", "Odd", "1"}}),
                                  answerXml(2, {}));
                    control.LetDataFromDatabase(12, QString());
                    return QString("7x");
                },
                false, Reason::BatchNotBuilt, 0, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(HostApi, loadFailureIsReachableByNameLikeCommitFailure)
{
    page.set("active", TestHttpServer::text("not yours", 403));
    control.LetDataFromDatabase(12, QString());
    CenterVendorLoadFailure byName;
    ASSERT_TRUE(QMetaObject::invokeMethod(&control, "loadFailure",
                                          Q_RETURN_ARG(CenterVendorLoadFailure, byName)));
    const QMetaObject &meta = CenterVendorLoadFailure::staticMetaObject;
    EXPECT_EQ(meta.property(meta.indexOfProperty("reason"))
                  .readOnGadget(&byName)
                  .value<CenterVendor::LoadFailureReason>(),
              CenterVendor::LoadFailureReason::NoRights);
    EXPECT_EQ(meta.property(meta.indexOfProperty("httpStatus")).readOnGadget(&byName).toInt(), 403);
}

TEST_F(HostApi, rowCountsAreToldOncePerActionNeverMidMove)
{
    EXPECT_EQ(control.property("nonSelectedRows").toInt(), 4);
    EXPECT_EQ(control.property("selectedRows").toInt(), 3);
    QSignalSpy counts(&control, &CenterVendor::rowCountsChanged);
    input.doubleClickId(Vendors, "10");
    input.doubleClickId(Center, "20");
    control.LetDataFromDatabase(12, QString()); // the same counts again: nothing to tell
    EXPECT_EQ(std::vector<QVariantList>(counts.begin(), counts.end()),
              (std::vector<QVariantList>{{3, 4}, {4, 3}}));
    EXPECT_EQ(control.nonSelectedRows(), 4);
}

TEST_F(HostApi, focusListPutsTheKeyboardInTheNamedListWhileItCanTakeIt)
{
    control.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&control));
    const std::pair<CenterVendor::List, const char *> lists[] = {
        {CenterVendor::List::NonSelected, Vendors}, {CenterVendor::List::Selected, Center}};
    for (const auto &[which, name] : lists) {
        ASSERT_TRUE(
            QMetaObject::invokeMethod(&control, "focusList", Q_ARG(CenterVendor::List, which)));
        EXPECT_EQ(QApplication::focusWidget(), listView(control, name)) << name;
        for (const auto &[other, otherName] : lists) {
            EXPECT_EQ(control.listHasFocus(other), other == which) << name << " " << otherName;
        }
    }
    control.setEnabled(false);
    control.focusList(CenterVendor::List::NonSelected);
    EXPECT_FALSE(control.listHasFocus(CenterVendor::List::NonSelected));
}

} // namespace
