// The desktop application with the real reference server on a temporary database: choosing
// a center, the question before pending changes are thrown away, signing in after a 401, and
// the status bar.
#include "CenterBox.h"
#include "CenterVendorPage.h"
#include "ConnectionDialog.h"
#include "CredentialsDialog.h"
#include "ElidedLabel.h"
#include "Fixtures.h"
#include "MainWindow.h"
#include "MessageBar.h"
#include "Protocol.h"
#include "ReferenceServer.h"
#include "store/Store.h"
#include "support/TestDatabase.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <thread>

using namespace tarvo::test;
using tarvo::desk::MainWindow;
using tarvo::desk::MemoryPasswordStore;
using tarvo::server::testing::TestDatabase;

namespace {

constexpr int kWaitMs = 10'000;

// Answers modal dialogs as they open, in order: each answer is offered the modal widget until
// it says it has answered. A modal widget that opens when no answer is left is rejected and
// counted, so a question that should not come fails the test instead of hanging it.
class ModalAnswers
{
public:
    using Answer = std::function<bool(QWidget *)>;

    ModalAnswers()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { offer(); });
        m_timer.start();
    }
    void add(Answer answer) { m_answers.push_back(std::move(answer)); }
    // Clicks the button with this text in the next message box and keeps the box's text.
    void clickInMessage(const QString &button)
    {
        add([this, button](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box) {
                return false;
            }
            for (QAbstractButton *b : box->buttons()) {
                if (QString(b->text()).remove(u'&') == button) {
                    messages.push_back(box->text());
                    b->click();
                    return true;
                }
            }
            return false;
        });
    }
    bool allGiven() const { return m_next == m_answers.size(); }

    std::vector<QString> messages;
    int unexpected = 0;

private:
    void offer()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || m_busy) {
            return;
        }
        m_busy = true;
        if (m_next < m_answers.size()) {
            if (m_answers[m_next](modal)) {
                ++m_next;
            }
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            ++unexpected;
            dialog->reject();
        }
        m_busy = false;
    }

    QTimer m_timer;
    std::vector<Answer> m_answers;
    std::size_t m_next = 0;
    bool m_busy = false;
};

// Fills the sign-in dialog and presses "Sign in".
ModalAnswers::Answer signIn(const QString &user, const QString &password, bool remember)
{
    return [=](QWidget *modal) {
        auto *dialog = qobject_cast<tarvo::desk::CredentialsDialog *>(modal);
        if (!dialog) {
            return false;
        }
        dialog->findChild<QLineEdit *>("user")->setText(user);
        dialog->findChild<QLineEdit *>("password")->setText(password);
        dialog->findChild<QCheckBox *>("remember")->setChecked(remember);
        dialog->accept();
        return true;
    };
}

class Desk : public ::testing::Test
{
protected:
    Desk()
    {
        db.add({{{12, "Harbour", 2}, {13, "Inland", 1}},
                {{5, "Acme & Sons", 1, true, "2025-03-04 10:00:00"},
                 {7, "Bolt Works", 2, true, "2025-01-02 09:00:00"},
                 {9, "Cargo Lines", 1, true, "2024-12-24 08:00:00"}},
                {{12, 9, 0.05, true, "2025-06-01 12:00:00"},
                 {13, 7, 0.08, false, "2025-06-01 12:00:00"}}});
        server = std::make_unique<tarvo::server::ReferenceServer>(db.location());
        server->setLogSink([](const std::string &) {});
        const int port = server->bindToAnyPort("127.0.0.1");
        serving = std::thread([this] { server->listenAfterBind(); });
        url = QStringLiteral("http://127.0.0.1:%1").arg(port);
        settings =
            std::make_unique<QSettings>(settingsDir.filePath("desk.ini"), QSettings::IniFormat);
    }
    ~Desk() override
    {
        window.reset();
        server->stop();
        serving.join();
    }

    MainWindow &newWindow()
    {
        window = std::make_unique<MainWindow>(*settings, passwords);
        window->show();
        loads = std::make_unique<QSignalSpy>(window->control(), &CenterVendor::loadFinished);
        return *window;
    }
    // Waits for the next load to end; its ok.
    bool nextLoad()
    {
        const qsizetype before = loads->size();
        if (!QTest::qWaitFor([&] { return loads->size() > before; }, kWaitMs)) {
            ADD_FAILURE() << "no load ended";
            return false;
        }
        return loads->back().at(0).toBool();
    }
    void open(qint32 center)
    {
        window->openCenter(url, center);
        ASSERT_TRUE(nextLoad());
        ASSERT_EQ(window->center(), center);
    }
    QStringList ids(const char *list) { return columnOf(*window->control(), list, 0); }
    // A status bar field's whole text, also where the field shortens it.
    QString status(const char *name)
    {
        auto *label = window->findChild<QLabel *>(name);
        auto *elided = qobject_cast<tarvo::desk::ElidedLabel *>(label);
        return elided ? elided->fullText() : label->text();
    }

    TestDatabase db;
    std::unique_ptr<tarvo::server::ReferenceServer> server;
    std::thread serving;
    QString url;
    QTemporaryDir settingsDir;
    std::unique_ptr<QSettings> settings;
    MemoryPasswordStore passwords;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QSignalSpy> loads;
};

TEST_F(Desk, aCenterChosenInTheConnectionDialogIsLoaded)
{
    newWindow();
    ModalAnswers answers;
    answers.add([](QWidget *modal) {
        auto *dialog = qobject_cast<tarvo::desk::ConnectionDialog *>(modal);
        auto *box = dialog ? dialog->findChild<tarvo::desk::CenterBox *>("center") : nullptr;
        if (!box || box->count() < 2) {
            return false; // the server's list has not arrived yet
        }
        EXPECT_EQ(box->itemText(1), "13 - Inland");
        box->setCurrentIndex(1);
        dialog->accept();
        return true;
    });
    window->start(url, std::nullopt);
    ASSERT_TRUE(nextLoad());
    EXPECT_TRUE(answers.allGiven());
    EXPECT_EQ(window->center(), 13);
    EXPECT_EQ(ids(Center), QStringList{"7"});
    EXPECT_EQ(ids(Vendors), (QStringList{"5", "9"}));

    // A center typed into the window's own box switches to it.
    auto *box = window->findChild<tarvo::desk::CenterBox *>("centerBox");
    box->setEditText("12");
    QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    ASSERT_TRUE(nextLoad());
    EXPECT_EQ(window->center(), 12);
    EXPECT_EQ(ids(Center), QStringList{"9"});
    EXPECT_EQ(answers.unexpected, 0);
}

TEST_F(Desk, theNextRunOffersTheLastServerAndCenterAndKeepsTheGeometry)
{
    newWindow();
    open(13);
    window->setGeometry(40, 50, 900, 640);
    const QRect geometry = window->geometry();
    ASSERT_TRUE(window->close());

    newWindow();
    EXPECT_EQ(window->geometry().size(), geometry.size());
    ModalAnswers answers;
    answers.add([this](QWidget *modal) {
        auto *dialog = qobject_cast<tarvo::desk::ConnectionDialog *>(modal);
        if (!dialog) {
            return false;
        }
        EXPECT_EQ(dialog->server(), url);
        EXPECT_EQ(dialog->center(), 13);
        EXPECT_EQ(tarvo::desk::ConnectionDialog::recentServers(*settings), QStringList{url});
        dialog->reject();
        return true;
    });
    window->start({}, std::nullopt);
    EXPECT_TRUE(answers.allGiven());
}

enum class Trigger { Close, Switch, Reload };
enum class Choice { SaveFirst, Discard, Cancel };

struct PendingCase
{
    Trigger trigger;
    Choice choice;
    const char *name;
};

void PrintTo(const PendingCase &c, std::ostream *os)
{
    *os << c.name;
}

class PendingQuestion : public Desk, public ::testing::WithParamInterface<PendingCase>
{
};

TEST_P(PendingQuestion, eachAnswerHasItsEffect)
{
    const PendingCase c = GetParam();
    newWindow();
    open(12);
    UserInput(*window->control()).doubleClickId(Vendors, "5");
    ASSERT_TRUE(window->control()->hasPendingChanges());
    const auto before = db.assignments();

    ModalAnswers answers;
    const char *button = c.choice == Choice::SaveFirst ? "Save first"
                         : c.choice == Choice::Discard ? "Discard"
                                                       : "Cancel";
    answers.clickInMessage(button);
    if (c.choice == Choice::SaveFirst) {
        answers.clickInMessage("OK"); // the server's answer to the commit
    }
    const qsizetype loadsBefore = loads->size();
    switch (c.trigger) {
    case Trigger::Close:
        window->close();
        break;
    case Trigger::Switch: {
        auto *box = window->findChild<tarvo::desk::CenterBox *>("centerBox");
        box->setEditText("13");
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        break;
    }
    case Trigger::Reload:
        window->findChild<QAction *>("reload")->trigger();
        break;
    }
    const bool goesOn = c.choice != Choice::Cancel;
    if (goesOn && c.trigger != Trigger::Close) {
        // Saving first reloads once more, before the load asked for.
        const qsizetype expected = loadsBefore + (c.choice == Choice::SaveFirst ? 2 : 1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return loads->size() == expected; }, kWaitMs));
    }
    ASSERT_TRUE(answers.allGiven());
    EXPECT_EQ(answers.messages.front(), "Center 12 has 1 change that is not committed.");
    EXPECT_EQ(answers.unexpected, 0);

    const bool saved = db.assignments().size() == before.size() + 1;
    EXPECT_EQ(saved, c.choice == Choice::SaveFirst);
    if (c.trigger == Trigger::Close) {
        EXPECT_EQ(window->isVisible(), !goesOn);
    } else if (c.trigger == Trigger::Switch) {
        EXPECT_EQ(window->center(), goesOn ? 13 : 12);
    }
    if (!(c.trigger == Trigger::Close && goesOn)) {
        EXPECT_EQ(window->control()->hasPendingChanges(), !goesOn);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllAnswers, PendingQuestion,
    ::testing::Values(PendingCase{Trigger::Close, Choice::SaveFirst, "closeSaveFirst"},
                      PendingCase{Trigger::Close, Choice::Discard, "closeDiscard"},
                      PendingCase{Trigger::Close, Choice::Cancel, "closeCancel"},
                      PendingCase{Trigger::Switch, Choice::SaveFirst, "switchSaveFirst"},
                      PendingCase{Trigger::Switch, Choice::Discard, "switchDiscard"},
                      PendingCase{Trigger::Switch, Choice::Cancel, "switchCancel"},
                      PendingCase{Trigger::Reload, Choice::SaveFirst, "reloadSaveFirst"},
                      PendingCase{Trigger::Reload, Choice::Discard, "reloadDiscard"},
                      PendingCase{Trigger::Reload, Choice::Cancel, "reloadCancel"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Desk, aRefusedSaveFirstKeepsTheWindowAndTheChanges)
{
    newWindow();
    open(12);
    UserInput(*window->control()).doubleClickId(Center, "9");
    // A writer that leaves the center's version alone (its trigger gone) removes the assignment
    // after this user's load: the version check passes and the batch itself is refused.
    db.execute("DROP TRIGGER AssignmentRemoveMovesVersion");
    db.execute("DELETE FROM VendorCenterCrossReference WHERE CenterID = 12 AND VendorID = 9");

    ModalAnswers answers;
    answers.clickInMessage("Save first");
    answers.clickInMessage("OK"); // "Error During saving to Database"
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(answers.allGiven());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->control()->hasPendingChanges());
    EXPECT_EQ(answers.messages.back(), "Error During saving to Database");
    EXPECT_EQ(status("statusCommit"), "Last commit failed: refused by the server");
    // The server's own reason is quoted, and its whole text is one click away.
    auto *bar = window->messageBar();
    EXPECT_TRUE(bar->text().contains("It says: Nothing was saved")) << bar->text().toStdString();
    EXPECT_TRUE(bar->details().startsWith("Nothing was saved")) << bar->details().toStdString();
}

TEST_F(Desk, theStatusBarShowsCountsPendingChangesAndTheLastCommit)
{
    newWindow();
    open(12);
    EXPECT_EQ(status("statusCounts"), "Not selected: 2   Selected: 1");
    EXPECT_EQ(status("statusCommit"), "No commit yet");

    UserInput input(*window->control());
    input.doubleClickId(Vendors, "5");
    input.doubleClickId(Center, "9");
    EXPECT_EQ(status("statusCounts"), "Not selected: 2   Selected: 1");
    EXPECT_EQ(status("statusPending"), "Pending changes: 2");

    ModalAnswers answers;
    answers.clickInMessage("OK");
    const qsizetype before = loads->size();
    input.clickButton("cmdCommit");
    ASSERT_EQ(loads->size(), before + 1) << "the commit reloads once";
    EXPECT_EQ(status("statusCommit"), "Last commit: Saved: 1 added, 0 updated, 1 removed.");
    EXPECT_EQ(status("statusPending"), "Pending changes: 0");
    // The keyboard stays in the lists, not in the toolbar's center box.
    EXPECT_EQ(window->focusWidget(), listView(*window->control(), Center));
    EXPECT_EQ(status("statusCounts"), "Not selected: 2   Selected: 1");
    EXPECT_EQ(ids(Center), QStringList{"5"});
}

TEST_F(Desk, theWindowsOwnFieldsHaveFixedAccessibleNames)
{
    newWindow();
    open(12);
    const std::pair<const char *, const char *> named[] = {
        {"statusCounts", "Rows in the lists"},
        {"statusPending", "Pending changes"},
        {"statusCommit", "Last commit"},
        {"centerBox", "Center"}, // not the center it shows
    };
    for (const auto &[object, name] : named) {
        auto *widget = window->findChild<QWidget *>(object);
        ASSERT_NE(widget, nullptr) << object;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(face, nullptr) << object;
        EXPECT_EQ(face->text(QAccessible::Name), name) << object;
    }
}

// Stands in front of the reference server's page: passes its answers on, or gives the answer
// a test sets instead (the centers list always passes, so that no sign-in is asked for).
class Gated : public Desk
{
protected:
    Gated() : store(tarvo::server::store::Store::open(db.location())), page(*store)
    {
        gate.onGet("/CenterVendor.asp", [this](const RecordedRequest &request) {
            if (request.query.find("centers=1") == std::string::npos) {
                const std::lock_guard lock(mutex);
                if (instead) {
                    return *instead;
                }
            }
            std::vector<std::pair<std::string, std::string>> params;
            tarvo::server::page::parseQueryString(request.query, params);
            const auto answer = page.query(params);
            return Answer{answer.status, answer.body, answer.contentType, {}};
        });
        gateUrl = QString::fromStdString(gate.url());
    }
    void answerInstead(std::optional<Answer> answer)
    {
        const std::lock_guard lock(mutex);
        instead = std::move(answer);
    }

    std::unique_ptr<tarvo::server::store::Store> store;
    tarvo::server::page::CenterVendorPage page;
    TestHttpServer gate;
    QString gateUrl;
    std::mutex mutex;
    std::optional<Answer> instead;
};

// Asks for Basic credentials, as a server with users does.
class SignIn : public Gated
{
protected:
    SignIn()
    {
        Answer refused = TestHttpServer::text("Sign in first.", 401);
        refused.headers.push_back({"WWW-Authenticate", "Basic realm=\"centers\""});
        gate.requireAuthorization(basicAuthorization("clerk", "p:ss@1 %"), refused);
    }
};

TEST_F(SignIn, a401AsksForCredentialsThenLoadsWithThem)
{
    newWindow();
    ModalAnswers answers;
    answers.add(signIn("clerk", "wrong", false));
    answers.add([](QWidget *modal) {
        // The refused attempt is said so, and the user name is offered again.
        auto *dialog = qobject_cast<tarvo::desk::CredentialsDialog *>(modal);
        if (!dialog) {
            return false;
        }
        EXPECT_NE(dialog->findChild<QLabel *>("refused"), nullptr);
        EXPECT_EQ(dialog->findChild<QLineEdit *>("user")->text(), "clerk");
        return signIn("clerk", "p:ss@1 %", false)(modal);
    });
    window->start(gateUrl, 12);
    ASSERT_TRUE(nextLoad());
    EXPECT_TRUE(answers.allGiven());
    EXPECT_EQ(ids(Center), QStringList{"9"});
    EXPECT_EQ(ids(Vendors), (QStringList{"5", "7"}));

    // Kept for the run: a reload asks nothing.
    window->reload();
    EXPECT_TRUE(nextLoad());
    EXPECT_EQ(answers.unexpected, 0);
}

TEST_F(SignIn, rememberedCredentialsServeTheNextRunWithoutAsking)
{
    newWindow();
    {
        ModalAnswers answers;
        answers.add(signIn("clerk", "p:ss@1 %", true));
        window->start(gateUrl, 12);
        ASSERT_TRUE(nextLoad());
    }
    ASSERT_TRUE(window->close());

    newWindow();
    ModalAnswers none;
    window->start(gateUrl, 13);
    ASSERT_TRUE(nextLoad());
    EXPECT_EQ(ids(Center), QStringList{"7"});
    EXPECT_EQ(none.unexpected, 0);
}

TEST_F(SignIn, rememberWithoutAKeyringSaysSoAndTheNextRunDoesNotCallThePasswordWrong)
{
    passwords.available = false;
    newWindow();
    {
        ModalAnswers answers;
        answers.add(signIn("clerk", "p:ss@1 %", true));
        window->start(gateUrl, 12);
        ASSERT_TRUE(nextLoad());
    }
    auto *bar = window->messageBar();
    EXPECT_EQ(bar->kind(), tarvo::desk::MessageBar::Kind::Warning);
    EXPECT_TRUE(bar->text().contains("could not be remembered")) << bar->text().toStdString();
    EXPECT_EQ(bar->details(), "no keyring");
    ASSERT_TRUE(window->close());

    // Also a user name kept by an earlier version, whose password the keyring no longer gives.
    for (const bool nameKept : {false, true}) {
        if (nameKept) {
            settings->setValue("servers/" + QUrl::toPercentEncoding(gateUrl) + "/user", "clerk");
        }
        newWindow();
        ModalAnswers answers;
        answers.add([nameKept](QWidget *modal) {
            auto *dialog = qobject_cast<tarvo::desk::CredentialsDialog *>(modal);
            if (!dialog) {
                return false;
            }
            EXPECT_EQ(dialog->findChild<QLabel *>("refused"), nullptr);
            EXPECT_EQ(dialog->findChild<QLabel *>("note") != nullptr, nameKept);
            return signIn("clerk", "p:ss@1 %", false)(modal);
        });
        window->start(gateUrl, 12);
        ASSERT_TRUE(nextLoad());
        EXPECT_TRUE(answers.allGiven());
        EXPECT_EQ(answers.unexpected, 0);
        ASSERT_TRUE(window->close());
    }
}

TEST_F(SignIn, credentialsInTheServerNameAreUsedWithoutAsking)
{
    newWindow();
    ModalAnswers none;
    window->start(QString(gateUrl).insert(gateUrl.indexOf(u"://") + 3, u"clerk:p%3Ass%401%20%25@"),
                  13);
    ASSERT_TRUE(nextLoad());
    EXPECT_EQ(ids(Center), QStringList{"7"});
    EXPECT_EQ(none.unexpected, 0);
}

} // namespace

namespace {

// Paths through the control that change the pending rows; the status bar must follow each step.
struct CountPath
{
    const char *name;
    std::function<void(UserInput &)> steps;
    int pending; // at the end
};

void PrintTo(const CountPath &c, std::ostream *os)
{
    *os << c.name;
}

void storeFee(UserInput &input, const QString &id, const QString &fee)
{
    input.clickId(Center, id);
    input.clickButton("cmdcenterHandFee");
    input.type("txtCntHandFee", fee);
    input.clickButton("cmdcenterHandFee");
}

class StatusCount : public Desk, public ::testing::WithParamInterface<CountPath>
{
};

TEST_P(StatusCount, thePendingCountFollowsEveryPath)
{
    newWindow();
    open(12);
    UserInput input(*window->control());
    GetParam().steps(input);
    EXPECT_EQ(window->control()->pendingChangeCount(), GetParam().pending);
    EXPECT_EQ(status("statusPending"), QString("Pending changes: %1").arg(GetParam().pending));
}

INSTANTIATE_TEST_SUITE_P(Paths, StatusCount,
                         ::testing::Values(CountPath{"feeOfASelectedVendorThenRemoved",
                                                     [](UserInput &input) {
                                                         storeFee(input, "9", "6");
                                                         input.clickId(Center, "9");
                                                         input.clickButton("cmdDelete");
                                                     },
                                                     1},
                                           CountPath{"addedThenFeeThenRemovedAgain",
                                                     [](UserInput &input) {
                                                         input.doubleClickId(Vendors, "5");
                                                         storeFee(input, "5", "7");
                                                         input.clickId(Center, "5");
                                                         input.clickButton("cmdDelete");
                                                     },
                                                     0},
                                           CountPath{"feeThenAnAddedVendor",
                                                     [](UserInput &input) {
                                                         storeFee(input, "9", "6");
                                                         input.doubleClickId(Vendors, "7");
                                                     },
                                                     2}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace

namespace {

using Reason = CenterVendor::LoadFailureReason;

struct FailureCase
{
    const char *name;
    Reason reason;
    const char *says; // in the bar, after "Center 12 could not be loaded: "
};

void PrintTo(const FailureCase &c, std::ostream *os)
{
    *os << c.name;
}

class FailedLoad : public Gated, public ::testing::WithParamInterface<FailureCase>
{
protected:
    // A server name that fails the way the case says.
    QString failingServer(Reason reason)
    {
        switch (reason) {
        case Reason::Unreachable:
            return QString::fromStdString(stopped.url());
        case Reason::ConnectionFailed:
            // An https:// name that reaches a plain server fails the same way; the plain name of
            // a TLS server is what staff type by mistake.
            return QString::fromStdString(tls.url()).replace("https://", "http://");
        case Reason::BadAnswer:
            answerInstead(TestHttpServer::text("<html><body>Moved</body></html>"));
            return gateUrl;
        default:
            answerInstead(TestHttpServer::text("Refused.", reason == Reason::NotSignedIn ? 401
                                                           : reason == Reason::NoRights  ? 403
                                                                                         : 500));
            return gateUrl;
        }
    }

    RefusingPort stopped;
    TestHttpServer tls{TestHttpServer::Scheme::Https};
};

TEST_P(FailedLoad, theBarSaysWhyAndOffersRetry)
{
    const FailureCase c = GetParam();
    newWindow();
    open(12);
    window->openCenter(failingServer(c.reason), 12);
    ASSERT_FALSE(nextLoad());

    EXPECT_EQ(window->control()->loadFailure().reason, c.reason);
    auto *bar = window->messageBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->kind(), tarvo::desk::MessageBar::Kind::Error);
    EXPECT_TRUE(bar->text().startsWith(QString("Center 12 could not be loaded: ") + c.says))
        << bar->text().toStdString();
    // The technical text is there, without credentials, for whoever helps.
    EXPECT_EQ(bar->details(), window->control()->loadFailure().detail);
    EXPECT_FALSE(bar->details().isEmpty());
    EXPECT_TRUE(window->windowTitle().contains("not loaded, nothing shown"))
        << window->windowTitle().toStdString();
    // The old center's rows are gone, the partly read ones cannot be used.
    EXPECT_FALSE(window->control()->isEnabled());
    ASSERT_FALSE(bar->actionButtons().isEmpty());
    EXPECT_EQ(bar->actionButtons().front()->defaultAction()->objectName(), "retry");
    EXPECT_EQ(window->focusWidget(), bar->actionButtons().front());
}

INSTANTIATE_TEST_SUITE_P(
    EachCause, FailedLoad,
    ::testing::Values(
        FailureCase{"serverStopped", Reason::Unreachable, "the server http://127.0.0.1:"},
        FailureCase{"plainNameOfAnHttpsServer", Reason::ConnectionFailed,
                    "the server http://127.0.0.1:"},
        FailureCase{"notSignedIn", Reason::NotSignedIn,
                    "the server did not accept your user name and password."},
        FailureCase{"noRightsToTheCenter", Reason::NoRights,
                    "your user name may not see this center."},
        FailureCase{"serverError", Reason::ServerError, "the server http://127.0.0.1:"},
        FailureCase{"answerThatIsNoList", Reason::BadAnswer,
                    "the server's answer could not be read."}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Gated, retryShowsTheCenterOnceTheServerAnswersAndTheKeyboardIsInTheList)
{
    newWindow();
    const int heightWithoutBar = window->height();
    answerInstead(TestHttpServer::text("Refused.", 403));
    window->openCenter(gateUrl, 12);
    ASSERT_FALSE(nextLoad());
    answerInstead(std::nullopt);
    // The bar takes room from the window, never from the lists.
    const auto *area = window->findChild<QScrollArea *>("controlArea");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return area->viewport()->height() >= window->control()->height(); }, kWaitMs))
        << area->viewport()->height() << " for " << window->control()->height();

    // Retry has the focus: Space presses it.
    QTest::keyClick(window->focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(nextLoad());
    EXPECT_FALSE(window->messageBar()->isVisible());
    EXPECT_TRUE(window->control()->isEnabled());
    EXPECT_FALSE(window->windowTitle().contains("not loaded"));
    EXPECT_EQ(ids(Center), QStringList{"9"});
    EXPECT_EQ(window->focusWidget(), listView(*window->control(), Center));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->height() == heightWithoutBar; }, kWaitMs))
        << window->height() << " after the bar, " << heightWithoutBar << " before";
}

} // namespace
