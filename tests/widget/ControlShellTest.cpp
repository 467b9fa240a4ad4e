// A freshly created control: every child as laid out, nothing usable before the first load.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <TarvoCenterVendor/CenterVendor.h>
#include <gtest/gtest.h>

namespace {

class FreshControl : public ::testing::Test
{
protected:
    template <typename T> T *child(const char *name)
    {
        auto *w = control.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    CenterVendor control;
};

struct ChildCase
{
    const char *name;
    const char *kind;
    const char *caption; // nullptr: not checked
    bool enabled;
};

QString captionOf(QObject *o)
{
    if (auto *b = qobject_cast<QAbstractButton *>(o)) {
        return b->text();
    }
    if (auto *l = qobject_cast<QLabel *>(o)) {
        return l->text();
    }
    if (auto *g = qobject_cast<QGroupBox *>(o)) {
        return g->title();
    }
    if (auto *e = qobject_cast<QLineEdit *>(o)) {
        return e->text();
    }
    return {};
}

TEST_F(FreshControl, everyChildStandsWithItsKindCaptionAndInitialState)
{
    const ChildCase cases[] = {
        {"fraMain", "QGroupBox", "", true},
        {"lblAllVendors", "QLabel", "Non Selected Active Vendors:", true},
        {"lstVendors", "QAbstractItemView", nullptr, true},
        {"lblSelVendors", "QLabel", "Selected Vendors:", true},
        {"lstVendorCenter", "QAbstractItemView", nullptr, true},
        {"cmdAdd", "QPushButton", ">", false},
        {"cmdAddAll", "QPushButton", ">>", false},
        {"cmdRemoveAll", "QPushButton", "<<", false},
        {"cmdDelete", "QPushButton", "<", false},
        {"cmdCommit", "QPushButton", "Commit to Database", false},
        {"frmEntry", "QGroupBox", "", true},
        {"lblDuty", "QLabel", "Duty / Brokerage Fee", true},
        {"chkDuty", "QCheckBox", "", false},
        {"Label1", "QLabel", "Center / Handling Fee (%)", true},
        {"txtCntHandFee", "QLineEdit", "", true},
        {"cmdcenterHandFee", "QPushButton", "Update", false},
        {"prbLoad", "QProgressBar", nullptr, true},
        {"fraFind", "QGroupBox", " Find Vendor ", true},
        {"optFind_1", "QRadioButton", "ID", false},
        {"txtVendorID", "QLineEdit", "", false},
        {"optFind_0", "QRadioButton", "Name", false},
        {"txtVendorName", "QLineEdit", "", true},
        {"Frame1", "QGroupBox", " List to search  ", true},
        {"optList_0", "QRadioButton", "Non Selected Vendors", false},
        {"optList_1", "QRadioButton", "Selected Vendors", false},
        {"cmdFind", "QPushButton", "Find", false},
        {"lblVersionNumber", "QLabel", "Version Number: 2.1.1", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto *w = child<QWidget>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(c.kind));
        if (c.caption) {
            EXPECT_EQ(captionOf(w), QString::fromUtf8(c.caption));
        }
        EXPECT_EQ(w->isEnabled(), c.enabled);
    }
}

TEST_F(FreshControl, geometryIsTheLayoutInTwipsOverFifteen)
{
    struct Geometry
    {
        const char *name;
        QRect rect;
    };
    const Geometry cases[] = {
        {"fraMain", QRect(0, -6, 583, 354)},           {"lstVendors", QRect(7, 24, 265, 185)},
        {"lstVendorCenter", QRect(311, 24, 265, 185)}, {"cmdAdd", QRect(271, 64, 41, 25)},
        {"txtCntHandFee", QRect(132, 40, 35, 19)},     {"optList_1", QRect(8, 37, 105, 13)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(child<QWidget>(c.name)->geometry(), c.rect);
    }
    EXPECT_EQ(control.size(), QSize(583, 348));
}

TEST_F(FreshControl, boxesAreLockedWithTheButtonFaceExceptWhereTyped)
{
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    for (const char *name : {"txtCntHandFee", "txtVendorID", "txtVendorName"}) {
        SCOPED_TRACE(name);
        auto *box = child<QLineEdit>(name);
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->palette().color(QPalette::Base), buttonFace);
    }
}

TEST_F(FreshControl, theFeeBoxTakesFourTypedCharactersButAnyTextFromCode)
{
    auto *box = child<QLineEdit>("txtCntHandFee");
    box->setReadOnly(false);
    QTest::keyClicks(box, "12.345");
    EXPECT_EQ(box->text(), "12.3");
    box->setText("100.00");
    EXPECT_EQ(box->text(), "100.00");
}

TEST_F(FreshControl, optionPairsStartOnIdAndNonSelectedVendors)
{
    EXPECT_TRUE(child<QRadioButton>("optFind_1")->isChecked());
    EXPECT_FALSE(child<QRadioButton>("optFind_0")->isChecked());
    EXPECT_TRUE(child<QRadioButton>("optList_0")->isChecked());
    EXPECT_FALSE(child<QRadioButton>("optList_1")->isChecked());
}

TEST_F(FreshControl, bothListsAreEmptyWithSevenColumnsAndOnlyIdAndNameVisible)
{
    const QStringList headers = {
        "ID", "Name", "CountryID", "Handling Fee", "Duty Brokerage Fee", "Date Updated", "ID"};
    for (const char *name : {"lstVendors", "lstVendorCenter"}) {
        SCOPED_TRACE(name);
        auto *view = child<QTableView>(name);
        ASSERT_EQ(view->model()->columnCount(), 7);
        EXPECT_EQ(view->model()->rowCount(), 0);
        for (int c = 0; c < 7; ++c) {
            EXPECT_EQ(view->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
            EXPECT_EQ(view->horizontalHeader()->isSectionHidden(c), c >= 2) << c;
        }
        // W = 3975 twips: 795 and 3180 twips, 53 and 212 pixels.
        EXPECT_EQ(view->horizontalHeader()->sectionSize(0), 53);
        EXPECT_EQ(view->horizontalHeader()->sectionSize(1), 212);
    }
}

TEST_F(FreshControl, popUpMenuHoldsOneRemoveEntry)
{
    auto *menu = child<QMenu>("mnuRemove");
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->objectName(), QStringLiteral("mnuRemoveItems"));
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("Remove"));
}

TEST_F(FreshControl, publicMethodsAreReachableByName)
{
    QVariant result = QVariant(42);
    const bool invoked = QMetaObject::invokeMethod(
        &control, "LetDataFromDatabase", Qt::DirectConnection, Q_RETURN_ARG(QVariant, result),
        Q_ARG(qint32, 5), Q_ARG(QString, QString()));
    EXPECT_TRUE(invoked);
    EXPECT_FALSE(result.isValid());
}

} // namespace
