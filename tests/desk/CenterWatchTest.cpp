// The desktop application on a center several people edit: it hears of another person's commit
// within seconds through conditional GETs, never of its own, offers the reload that keeps the
// user's changes, and shows the center's history.
#include "CenterWatch.h"

#include "Fixtures.h"
#include "MainWindow.h"
#include "MessageBar.h"
#include "ReferenceServer.h"
#include "page/Answers.h"
#include "protocol/Wire.h"
#include "store/Store.h"
#include "support/TestDatabase.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvo::test;
using tarvo::desk::HistoryRow;
using tarvo::server::statement::InsertAssignment;
using tarvo::server::statement::Statement;
using tarvo::server::statement::UpdateAssignment;

namespace {

constexpr int kWaitMs = 10'000;

// The desk on center 3 of the reference server, which another person changes through a store
// of their own on the same database, as a second server would.
class Watching : public ::testing::Test
{
protected:
    Watching()
    {
        db.add({{{3, "Harbour", 2}},
                {{10, "Acme", 1, true, "2025-03-04 10:00:00"},
                 {26, "Zulu", 1, true, "2025-03-04 10:00:00"},
                 {27, "Yank", 1, true, "2025-03-04 10:00:00"}},
                {}});
        other = tarvo::server::store::Store::open(db.location());
        write("setup", tarvo::server::statement::InsertAssignment{3, 26, 0.08, true});
        server = std::make_unique<tarvo::server::ReferenceServer>(db.location());
        server->setLogSink([this](const std::string &line) {
            if (line.find(" status=304 ") != std::string::npos) {
                ++notModified;
            }
        });
        const int port = server->bindToAnyPort("127.0.0.1");
        serving = std::thread([this] { server->listenAfterBind(); });
        settings = std::make_unique<QSettings>(dir.filePath("desk.ini"), QSettings::IniFormat);
        window = std::make_unique<tarvo::desk::MainWindow>(*settings, passwords);
        window->watch()->setInterval(50);
        window->show();
        QSignalSpy loaded(window->control(), &CenterVendor::loadFinished);
        window->start(QStringLiteral("http://127.0.0.1:%1").arg(port), 3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !loaded.isEmpty(); }, kWaitMs));
    }
    ~Watching() override
    {
        window.reset();
        server->stop();
        serving.join();
    }
    // Another person's commit of one change.
    void write(const std::string &user, const tarvo::server::statement::Statement &change)
    {
        const auto result = other->apply({change}, {"2026-12-07 09:10:00", user});
        ASSERT_TRUE(result.ok()) << result.message;
    }
    std::string etag()
    {
        std::optional<std::int64_t> version;
        other->read([&](tarvo::server::store::StoreReader &r) { version = r.centerVersion(3); });
        return version ? tarvo::protocol::entityTag(3, *version) : std::string();
    }
    // Waits until the window has sent `polls` more conditional GETs answered 304.
    bool pollsPass(int polls)
    {
        const int until = notModified + polls;
        return QTest::qWaitFor([&] { return notModified >= until; }, kWaitMs);
    }
    QString barText() const
    {
        return window->messageBar()->isVisible() ? window->messageBar()->text() : QString();
    }

    tarvo::server::testing::TestDatabase db;
    std::unique_ptr<tarvo::server::store::Store> other;
    std::unique_ptr<tarvo::server::ReferenceServer> server;
    std::thread serving;
    std::atomic<int> notModified = 0;
    QTemporaryDir dir;
    tarvo::desk::MemoryPasswordStore passwords;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<tarvo::desk::MainWindow> window;
};

TEST_F(Watching, tellsWhoChangedTheCenterButNotOfItsOwnCommit)
{
    ASSERT_TRUE(pollsPass(2)) << "unchanged: the polls are answered 304";
    UserInput input(*window->control());
    input.doubleClickId(Vendors, "10");
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            box->accept();
        }
    });
    closer.start();
    window->commit();
    ASSERT_TRUE(pollsPass(3));
    EXPECT_FALSE(barText().contains("changed center")) << barText().toStdString();

    input.doubleClickId(Center, "10");
    write("carol", tarvo::server::statement::UpdateAssignment{3, 26, 0.11, true});
    write("carol", tarvo::server::statement::InsertAssignment{3, 27, 0.05, false});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return barText().contains("carol changed center 3"); }, kWaitMs))
        << barText().toStdString();
    EXPECT_TRUE(barText().contains("(2 changes)")) << barText().toStdString();
    // For the documentation: TARVO_SCREENSHOT_DIR=docs under a real display.
    if (const QString shots = qEnvironmentVariable("TARVO_SCREENSHOT_DIR"); !shots.isEmpty()) {
        window->grab().save(shots + "/changed-by-bar.png");
    }
    const auto buttons = window->messageBar()->actionButtons();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text().remove('&'), "Reload and keep my changes");
    buttons[0]->click();
    EXPECT_EQ(window->control()->loadedVersion().toStdString(), etag());
    EXPECT_EQ(window->control()->pendingChangeCount(), 1) << "the removal of 10 is kept";

    window->findChild<QAction *>("history")->trigger();
    auto *history = window->findChild<QTableWidget *>("historyTable");
    ASSERT_TRUE(QTest::qWaitFor([&] { return history->rowCount() >= 4; }, kWaitMs));
    EXPECT_EQ(history->item(1, 1)->text(), "carol");
    EXPECT_EQ(history->item(1, 4)->text(), "8.00 %") << "old fee from the older row";
    EXPECT_EQ(history->item(1, 5)->text(), "11.00 %");
}

TEST_F(Watching, theReloadQuestionOffersToKeepTheChanges)
{
    UserInput input(*window->control());
    input.doubleClickId(Vendors, "10");
    write("carol", tarvo::server::statement::UpdateAssignment{3, 26, 0.11, true});
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        for (QAbstractButton *b : box ? box->buttons() : QList<QAbstractButton *>{}) {
            if (b->text().remove('&') == "Reload and keep my changes") {
                b->click();
            }
        }
    });
    answer.start();
    window->reload();
    EXPECT_EQ(window->control()->loadedVersion().toStdString(), etag());
    EXPECT_EQ(window->control()->pendingChangeCount(), 1);
}

TEST(History, readsTheServersAnswerWithTheFeeBeforeEachChange)
{
    const auto rows =
        tarvo::desk::readHistory(QByteArray::fromStdString(tarvo::server::page::historyAnswer(
            3, {{26, "Zulu", "t3", "bob", "update", 0.12, true, 3},
                {36, "Yank", "t2", "amy", "remove", 0.05, false, 2},
                {26, "Zulu", "t1", "amy", "update", 0.08, true, 1}})));
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 3);
    EXPECT_EQ((*rows)[0], (HistoryRow{"t3", "bob", "26", "update", "12.00", "8.00"}));
    EXPECT_EQ((*rows)[1], (HistoryRow{"t2", "amy", "36", "remove", "", "5.00"}));
    EXPECT_EQ((*rows)[2].oldFee, "") << "no older row of the vendor";
    EXPECT_FALSE(tarvo::desk::readHistory("<a><b>"));
    EXPECT_FALSE(tarvo::desk::readHistory("<CenterVendor/>"));

    const auto since = tarvo::desk::changesSince(*rows, (*rows)[2]);
    EXPECT_EQ(since.count, 2);
    EXPECT_EQ(since.users, QStringList({"bob", "amy"}));
    EXPECT_EQ(tarvo::desk::changesSince(*rows, std::nullopt).count, 3);
}

} // namespace
