// The desktop application on a center several people edit: it hears of another person's commit
// within seconds through conditional GETs, never of its own, offers the reload that keeps the
// user's changes, and shows the center's history.
#include "CenterWatch.h"

#include "Fixtures.h"
#include "MainWindow.h"
#include "MessageBar.h"
#include "support/VersionedCenter.h"

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
#include <gtest/gtest.h>

using namespace tarvo::test;
using tarvo::desk::HistoryRow;

namespace {

constexpr int kWaitMs = 10'000;

class Watching : public ::testing::Test
{
protected:
    Watching() : center(server, 3)
    {
        center.addActiveVendor("10", "Acme", "1");
        center.addActiveVendor("26", "Zulu", "1");
        center.write("setup", "26", {"0.08", 1});
        settings = std::make_unique<QSettings>(dir.filePath("desk.ini"), QSettings::IniFormat);
        window = std::make_unique<tarvo::desk::MainWindow>(*settings, passwords);
        window->watch()->setInterval(50);
        window->show();
        QSignalSpy loaded(window->control(), &CenterVendor::loadFinished);
        window->start(QString::fromStdString(server.url()), 3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !loaded.isEmpty(); }, kWaitMs));
    }
    // Waits until the window has sent `polls` more conditional GETs answered 304.
    bool pollsPass(int polls)
    {
        const int until = center.conditionalGets() + polls;
        return QTest::qWaitFor([&] { return center.conditionalGets() >= until; }, kWaitMs);
    }
    QString barText() const
    {
        return window->messageBar()->isVisible() ? window->messageBar()->text() : QString();
    }

    QTemporaryDir dir;
    tarvo::desk::MemoryPasswordStore passwords;
    std::unique_ptr<QSettings> settings;
    TestHttpServer server;
    VersionedCenter center;
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
    center.write("carol", "26", {"0.11", 1});
    center.write("carol", "27", {"0.05", 0});
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
    EXPECT_EQ(window->control()->loadedVersion().toStdString(), center.etag());
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
    center.write("carol", "26", {"0.11", 1});
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
    EXPECT_EQ(window->control()->loadedVersion().toStdString(), center.etag());
    EXPECT_EQ(window->control()->pendingChangeCount(), 1);
}

TEST(History, readsRowsByNameWithTheOldFeeFromTheNextOlderRowOfTheVendor)
{
    const auto rows = tarvo::desk::readHistory(
        "<CenterVendor><History>"
        "<Change><ChangedAt>t3</ChangedAt><UserName>bob</UserName><VendorID>26</VendorID>"
        "<Action>update</Action><HandlingFee>0.12</HandlingFee></Change>"
        "<Change><UserName>amy</UserName><ChangedAt>t2</ChangedAt><VendorID>36</VendorID>"
        "<Action>remove</Action><HandlingFee>0</HandlingFee></Change>"
        "<Change><ChangedAt>t1</ChangedAt><UserName>amy</UserName><VendorID>26</VendorID>"
        "<Action>add</Action><HandlingFee>0.08</HandlingFee></Change>"
        "</History></CenterVendor>");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 3);
    EXPECT_EQ((*rows)[0], (HistoryRow{"t3", "bob", "26", "update", "12.00", "8.00"}));
    EXPECT_EQ((*rows)[1], (HistoryRow{"t2", "amy", "36", "remove", "", ""}));
    EXPECT_EQ((*rows)[2].oldFee, "");
    EXPECT_FALSE(tarvo::desk::readHistory("<a><b>"));

    const auto since = tarvo::desk::changesSince(*rows, (*rows)[2]);
    EXPECT_EQ(since.count, 2);
    EXPECT_EQ(since.users, QStringList({"bob", "amy"}));
    EXPECT_EQ(tarvo::desk::changesSince(*rows, std::nullopt).count, 3);
}

} // namespace
