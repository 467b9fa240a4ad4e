// Several people on one center: the control sends If-Match with its load's version, reads a
// torn load again, and on 412 replays its pending changes onto the fresh center, so that
// nothing is overwritten unseen and nothing the user did is lost.
#include "Fixtures.h"
#include "support/VersionedCenter.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

using Assignment = VersionedCenter::Assignment;
using Assignments = std::map<std::string, Assignment>;

// Answers the collision view when it opens: records its rows, then sets the choices per row
// (vendor id -> "Keep mine" / "Take theirs") or clicks a button for all.
class CollisionAnswer
{
public:
    CollisionAnswer(QString button, std::map<QString, QString> perRow = {})
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this, button, perRow] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (dialog == nullptr || dialog->objectName() != "CollisionDialog") {
                return;
            }
            auto *table = dialog->findChild<QTableWidget *>("tblCollisions");
            for (int r = 0; r < table->rowCount(); ++r) {
                QStringList cells;
                for (int c = 0; c < 5; ++c) {
                    cells << table->item(r, c)->text();
                }
                rows.push_back(cells);
            }
            // For the documentation: TARVO_SCREENSHOT_DIR=docs under a real display.
            if (const QString shots = qEnvironmentVariable("TARVO_SCREENSHOT_DIR");
                !shots.isEmpty() && rows.size() > 1) {
                dialog->grab().save(shots + "/collision-view.png");
            }
            for (const auto &[id, choice] : perRow) {
                dialog->findChild<QComboBox *>("choice_" + id)->setCurrentText(choice);
            }
            dialog->findChild<QPushButton *>(button)->click();
        });
        m_timer.start();
    }
    std::vector<QStringList> rows;

private:
    QTimer m_timer;
};

// Two staff members, each with a control on center 3 of one versioned page.
class TwoStaff : public ::testing::Test
{
protected:
    TwoStaff() : center(server, 3), alice(aliceControl), bob(bobControl)
    {
        for (const auto &[id, name, country] : {std::tuple{"10", "Acme", "1"},
                                                {"11", "Bolt", "2"},
                                                {"26", "Zulu", "1"},
                                                {"36", "Yank", "3"}}) {
            center.addActiveVendor(id, name, country);
        }
        center.write("setup", "26", {"0.08", 1});
        center.write("setup", "36", {"0.05", 0});
        for (CenterVendor *c : {&aliceControl, &bobControl}) {
            c->show();
            c->LetDataFromDatabase(3, QString::fromStdString(server.url()));
        }
    }
    static void storeFee(UserInput &input, const char *id, const QString &fee)
    {
        input.clickId(Center, id);
        input.clickButton("cmdcenterHandFee");
        input.type("txtCntHandFee", fee);
        input.clickButton("cmdcenterHandFee");
    }
    static QString tooltipOf(CenterVendor &control, const char *list, const QString &id)
    {
        auto *view = listView(control, list);
        const auto ids = columnOf(control, list, 0);
        return view->model()->index(ids.indexOf(id), 0).data(Qt::ToolTipRole).toString();
    }

    // Messages seen since the last call.
    std::vector<SeenMessage> newMessages()
    {
        std::vector<SeenMessage> fresh(messages.seen().begin() + long(m_seen),
                                       messages.seen().end());
        m_seen = messages.seen().size();
        return fresh;
    }

    MessageWatcher messages;
    std::size_t m_seen = 0;
    TestHttpServer server;
    VersionedCenter center;
    CenterVendor aliceControl;
    CenterVendor bobControl;
    UserInput alice;
    UserInput bob;
};

TEST_F(TwoStaff, commitsCarryTheLoadedVersionAndDisjointChangesBothLandByThemselves)
{
    const std::string loaded = center.etag();
    EXPECT_EQ(aliceControl.loadedVersion().toStdString(), loaded);
    storeFee(alice, "26", "11");
    storeFee(bob, "36", "7");
    alice.clickButton("cmdCommit");

    QSignalSpy committed(&bobControl, &CenterVendor::commitFinished);
    QSignalSpy loadedSpy(&bobControl, &CenterVendor::loadFinished);
    QSignalSpy version(&bobControl, &CenterVendor::loadedVersionChanged);
    newMessages();
    bob.clickButton("cmdCommit");

    EXPECT_EQ(center.assignments(), (Assignments{{"26", {"0.11", 1}}, {"36", {"0.07", 0}}}));
    const auto sent = center.postIfMatches();
    ASSERT_EQ(sent.size(), 3u) << "Alice once, Bob refused once and sent again";
    EXPECT_EQ(sent[0], loaded);
    EXPECT_EQ(sent[1], loaded);
    EXPECT_NE(sent[2], loaded);
    ASSERT_EQ(committed.size(), 1);
    EXPECT_TRUE(committed[0][0].toBool());
    EXPECT_EQ(loadedSpy.size(), 1) << "the replaying reload raises no loadFinished of its own";
    EXPECT_EQ(bobControl.loadedVersion().toStdString(), center.etag());
    EXPECT_FALSE(version.isEmpty());
    EXPECT_FALSE(bobControl.hasPendingChanges());
    const auto seen = newMessages();
    ASSERT_EQ(seen.size(), 1u) << "only the server's answer, no refusal";
    EXPECT_EQ(seen[0].text, "Saved");
}

TEST_F(TwoStaff, aChangeTheServerAlreadyHoldsIsDroppedAsDone)
{
    storeFee(alice, "26", "11");
    storeFee(bob, "26", "11");
    alice.clickButton("cmdCommit");
    QSignalSpy committed(&bobControl, &CenterVendor::commitFinished);
    bob.clickButton("cmdCommit");
    EXPECT_EQ(center.postIfMatches().size(), 2u) << "Bob's change is not sent twice";
    ASSERT_EQ(committed.size(), 1);
    EXPECT_TRUE(committed[0][0].toBool());
    EXPECT_EQ(bobControl.commitFailure().reason, CenterVendor::CommitFailureReason::AlreadySaved);
    EXPECT_FALSE(bobControl.hasPendingChanges());
}

// The stories of two people changing the same assignment, with each choice in the view.
struct Story
{
    const char *name;
    bool aliceRemoves36;       // else Alice changes 26's fee to 11
    const char *button;        // in the collision view
    QString collidingId;       // the row the view lists
    QString theirs;            // as the view shows it
    Assignments afterRecommit; // once Bob commits again
};

class Collisions : public TwoStaff, public ::testing::WithParamInterface<Story>
{
};

TEST_P(Collisions, stopTheCommitKeepEverythingAndLetTheUserChoose)
{
    const Story &story = GetParam();
    if (story.aliceRemoves36) {
        alice.doubleClickId(Center, "36");
    } else {
        storeFee(alice, "26", "11");
    }
    alice.clickButton("cmdCommit");
    storeFee(bob, "26", "12");
    if (story.aliceRemoves36) {
        storeFee(bob, "36", "6");
    }
    const int pending = bobControl.pendingChangeCount();

    QSignalSpy found(&bobControl, &CenterVendor::collisionsFound);
    QSignalSpy resolved(&bobControl, &CenterVendor::collisionsResolved);
    QSignalSpy committed(&bobControl, &CenterVendor::commitFinished);
    const auto serverBefore = center.assignments();
    {
        newMessages();
        CollisionAnswer answer(story.button);
        bob.clickButton("cmdCommit");
        EXPECT_TRUE(newMessages().empty()) << "a refusal for a changed center shows no message";
        ASSERT_EQ(answer.rows.size(), 1u);
        EXPECT_EQ(answer.rows[0][0], story.collidingId);
        EXPECT_EQ(answer.rows[0][3], story.theirs);
        EXPECT_TRUE(answer.rows[0][4].startsWith("staff, 2026-12-07"))
            << answer.rows[0][4].toStdString();
    }
    EXPECT_EQ(center.assignments(), serverBefore) << "nothing saved";
    ASSERT_EQ(committed.size(), 1);
    EXPECT_FALSE(committed[0][0].toBool());
    EXPECT_EQ(bobControl.commitFailure().reason, CenterVendor::CommitFailureReason::Collisions);
    EXPECT_EQ(found.size(), 1);
    ASSERT_EQ(resolved.size(), 1);
    const bool keptMine = QString(story.button) == "cmdKeepAllMine";
    EXPECT_EQ(resolved[0][0].toStringList().size(), keptMine ? 1 : 0);
    EXPECT_EQ(bobControl.pendingChangeCount(), keptMine ? pending : pending - 1);
    const char *list = !keptMine && story.aliceRemoves36 ? Vendors : Center;
    const QString tip = tooltipOf(bobControl, list, story.collidingId);
    EXPECT_TRUE(tip.contains("Mine: ") && tip.contains("Theirs: " + story.theirs))
        << tip.toStdString();

    bob.clickButton("cmdCommit");
    EXPECT_EQ(center.assignments(), story.afterRecommit);
    EXPECT_FALSE(bobControl.hasPendingChanges());
}

INSTANTIATE_TEST_SUITE_P(, Collisions,
                         ::testing::Values(Story{"sameFeeKeepMine",
                                                 false,
                                                 "cmdKeepAllMine",
                                                 "26",
                                                 "11.00 %, duty",
                                                 {{"26", {"0.12", 1}}, {"36", {"0.05", 0}}}},
                                           Story{"sameFeeTakeTheirs",
                                                 false,
                                                 "cmdTakeAllTheirs",
                                                 "26",
                                                 "11.00 %, duty",
                                                 {{"26", {"0.11", 1}}, {"36", {"0.05", 0}}}},
                                           Story{"removedKeepMineAddsItBack",
                                                 true,
                                                 "cmdKeepAllMine",
                                                 "36",
                                                 "not assigned",
                                                 {{"26", {"0.12", 1}}, {"36", {"0.06", 0}}}},
                                           Story{"removedTakeTheirsKeepsTheOtherFee",
                                                 true,
                                                 "cmdTakeAllTheirs",
                                                 "36",
                                                 "not assigned",
                                                 {{"26", {"0.12", 1}}}}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(TwoStaff, eachCollidingRowTakesItsOwnChoice)
{
    storeFee(alice, "26", "11");
    alice.doubleClickId(Center, "36");
    alice.clickButton("cmdCommit");
    storeFee(bob, "26", "12");
    storeFee(bob, "36", "6");
    CollisionAnswer answer("cmdApplyChoices", {{"26", "Keep mine"}, {"36", "Take theirs"}});
    bob.clickButton("cmdCommit");
    ASSERT_EQ(answer.rows.size(), 2u);
    EXPECT_EQ(answer.rows[0].mid(0, 4),
              QStringList({"26", "Zulu", "12.00 %, duty", "11.00 %, duty"}));
    EXPECT_EQ(answer.rows[1].mid(0, 4), QStringList({"36", "Yank", "6.00 %", "not assigned"}));
    EXPECT_EQ(bobControl.pendingChangeCount(), 1);
    bob.clickButton("cmdCommit");
    EXPECT_EQ(center.assignments(), (Assignments{{"26", {"0.12", 1}}}));
}

TEST_F(TwoStaff, aCenterThatKeepsChangingEndsTheCommitAfterThreeRoundsWithEverythingKept)
{
    center.refuseEveryIfMatch(true);
    storeFee(bob, "26", "12");
    QSignalSpy committed(&bobControl, &CenterVendor::commitFinished);
    bob.clickButton("cmdCommit");
    EXPECT_EQ(center.postIfMatches().size(), 4u) << "the first try and three rounds";
    const auto seen = newMessages();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Error During saving to Database");
    ASSERT_EQ(committed.size(), 1);
    EXPECT_FALSE(committed[0][0].toBool());
    EXPECT_EQ(bobControl.commitFailure().reason, CenterVendor::CommitFailureReason::KeptChanging);
    EXPECT_EQ(bobControl.commitFailure().httpStatus, 412);
    EXPECT_EQ(bobControl.pendingChangeCount(), 1);
    EXPECT_EQ(center.assignments().at("26"), (Assignment{"0.08", 1}));
}

TEST_F(TwoStaff, theReplayingReloadKeepsChangesAndAFailedOneLeavesTheRowsAsTheyWere)
{
    bob.doubleClickId(Vendors, "10");
    storeFee(bob, "36", "6");
    center.write("carol", "26", {"0.2", 0});
    QSignalSpy loaded(&bobControl, &CenterVendor::loadFinished);
    EXPECT_TRUE(bobControl.ReloadKeepingChanges());
    EXPECT_EQ(loaded.size(), 1);
    EXPECT_EQ(bobControl.loadedVersion().toStdString(), center.etag());
    EXPECT_EQ(bobControl.pendingChangeCount(), 2);
    const auto rows = rowsOf(bobControl, Center);
    const auto row = [&](const QString &id) {
        return *std::find_if(rows.begin(), rows.end(), [&](auto &r) { return r[0] == id; });
    };
    EXPECT_EQ(row("26")[3], "20.00") << "the other writer's fee shows";
    EXPECT_EQ(row("10")[4], "1N");
    EXPECT_EQ(row("36")[3], "6.00");

    const auto before = std::pair{rowsOf(bobControl, Vendors), rowsOf(bobControl, Center)};
    server.answerGet("/CenterVendor.asp", TestHttpServer::text("down", 503));
    EXPECT_FALSE(bobControl.ReloadKeepingChanges());
    EXPECT_EQ(std::pair(rowsOf(bobControl, Vendors), rowsOf(bobControl, Center)), before);
    EXPECT_EQ(bobControl.pendingChangeCount(), 2);
}

// A load torn by commits between its answers is read again, at most ten times.
struct Tear
{
    int tornReads;
    bool ok;
    int reads; // full loads read
};

class TornLoad : public ServedControl, public ::testing::WithParamInterface<Tear>
{
};

TEST_P(TornLoad, isReadAgainUntilItsAnswersAgree)
{
    VersionedCenter versioned(server, 12);
    versioned.addActiveVendor("10", "Acme", "1");
    versioned.tearNextLoads(GetParam().tornReads);
    QSignalSpy loaded(&control, &CenterVendor::loadFinished);
    server.clearRequests();
    load();
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0][0].toBool(), GetParam().ok);
    EXPECT_EQ(server.requestCount(), 3u * GetParam().reads);
    if (GetParam().ok) {
        EXPECT_EQ(control.loadedVersion().toStdString(), versioned.etag());
    } else {
        EXPECT_FALSE(control.loadedVersion().isEmpty());
        EXPECT_NE(control.loadedVersion().toStdString(), versioned.etag())
            << "the first answer's tag, so the commit is checked";
    }
}

INSTANTIATE_TEST_SUITE_P(, TornLoad,
                         ::testing::Values(Tear{0, true, 1}, Tear{2, true, 3}, Tear{9, true, 10},
                                           Tear{10, false, 10}));

TEST_F(ServedControl, aServerWithoutVersionsIsCommittedToAsBefore)
{
    VersionedCenter unversioned(server, 12);
    unversioned.setVersioned(false);
    unversioned.addActiveVendor("10", "Acme", "1");
    load();
    EXPECT_TRUE(control.loadedVersion().isEmpty());
    input.doubleClickId(Vendors, "10");
    MessageWatcher messages;
    input.clickButton("cmdCommit");
    EXPECT_EQ(unversioned.postIfMatches(), std::vector<std::string>{""});
    EXPECT_EQ(unversioned.assignments().size(), 1u);
}

} // namespace
