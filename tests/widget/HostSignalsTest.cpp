// What the control tells its host: pending changes, the end of every load and of a commit,
// each exactly once per action.
#include "Fixtures.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

class HostSignals : public ServedControl
{
protected:
    HostSignals()
    {
        serveStandardCenter(page);
        server.answerPost("/CenterVendor.asp", TestHttpServer::text("Saved: 1 added."));
        load();
        for (QSignalSpy *spy : {&pending, &count, &loaded, &committed}) {
            spy->clear();
        }
    }
    // Arguments of every emission of a spied signal.
    static std::vector<QVariantList> calls(const QSignalSpy &spy)
    {
        return {spy.begin(), spy.end()};
    }

    QSignalSpy pending{&control, &CenterVendor::pendingChangesChanged};
    QSignalSpy count{&control, &CenterVendor::pendingChangeCountChanged};
    QSignalSpy loaded{&control, &CenterVendor::loadFinished};
    QSignalSpy committed{&control, &CenterVendor::commitFinished};
};

TEST_F(HostSignals, pendingChangesFollowTheRowMarksOncePerMove)
{
    EXPECT_FALSE(control.hasPendingChanges());
    EXPECT_FALSE(control.property("hasPendingChanges").toBool());

    input.doubleClickId(Vendors, "10");
    EXPECT_TRUE(control.hasPendingChanges());
    EXPECT_TRUE(control.property("hasPendingChanges").toBool());
    EXPECT_EQ(calls(pending), (std::vector<QVariantList>{{true}}));

    input.doubleClickId(Center, "21");
    EXPECT_EQ(control.pendingChangeCount(), 2);
    EXPECT_EQ(calls(count), (std::vector<QVariantList>{{1}, {2}}));
    EXPECT_EQ(pending.size(), 1) << "still pending: no second emission";

    // Moving both back undoes both marks.
    input.doubleClickId(Center, "10");
    input.doubleClickId(Vendors, "21");
    EXPECT_FALSE(control.hasPendingChanges());
    EXPECT_EQ(calls(pending), (std::vector<QVariantList>{{true}, {false}}));
}

TEST_F(HostSignals, aLoadEndsOnceAndDropsThePendingChanges)
{
    input.doubleClickId(Vendors, "10");
    pending.clear();
    EXPECT_FALSE(control.LetDataFromDatabase(12, QString()).isValid());
    EXPECT_EQ(calls(loaded), (std::vector<QVariantList>{{true}}));
    EXPECT_EQ(calls(pending), (std::vector<QVariantList>{{false}}));
}

TEST_F(HostSignals, aFailedLoadSaysSoButStillReturnsTheEmptyValue)
{
    page.set("active", TestHttpServer::text("gone", 500));
    const QVariant result = control.LetDataFromDatabase(12, QString());
    EXPECT_FALSE(result.isValid());
    EXPECT_EQ(calls(loaded), (std::vector<QVariantList>{{false}}));
}

TEST_F(HostSignals, aCommitEndsOnceAfterItsReloadWithTheServersAnswer)
{
    input.doubleClickId(Vendors, "10");
    MessageWatcher messages;
    // The reload comes first, so a host that hears the commit sees the fresh lists.
    std::vector<QString> order;
    QObject::connect(&control, &CenterVendor::loadFinished, [&] { order.push_back("load"); });
    QObject::connect(&control, &CenterVendor::commitFinished, [&] { order.push_back("commit"); });
    input.clickButton("cmdCommit");

    EXPECT_EQ(calls(committed), (std::vector<QVariantList>{{true, "Saved: 1 added."}}));
    EXPECT_EQ(calls(loaded), (std::vector<QVariantList>{{true}}));
    EXPECT_EQ(order, (std::vector<QString>{"load", "commit"}));
    EXPECT_FALSE(control.hasPendingChanges());
}

TEST_F(HostSignals, aRefusedCommitKeepsThePendingChangesAndGivesTheReason)
{
    server.answerPost("/CenterVendor.asp",
                      TestHttpServer::text("Nothing was saved: statement 1 conflicts.", 409));
    input.doubleClickId(Vendors, "10");
    MessageWatcher messages;
    input.clickButton("cmdCommit");

    EXPECT_EQ(calls(committed),
              (std::vector<QVariantList>{{false, "Nothing was saved: statement 1 conflicts."}}));
    EXPECT_EQ(loaded.size(), 0) << "a refused commit does not reload";
    EXPECT_TRUE(control.hasPendingChanges());
    EXPECT_EQ(calls(pending), (std::vector<QVariantList>{{true}}));
}

} // namespace
