// Loading both lists from the server page, and ending quietly where an answer breaks.
#include "Fixtures.h"
#include "RecordingLog.h"
#include "load/Loader.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace tarvo::test;

namespace {

class Loading : public ::testing::Test
{
protected:
    Loading() : page(server) {}

    void load(qint32 center = 12, const QString &serverName = {})
    {
        result = control.LetDataFromDatabase(
            center, serverName.isEmpty() ? QString::fromStdString(server.url()) : serverName);
    }
    template <typename T> T *child(const char *name)
    {
        return control.findChild<T *>(QString::fromLatin1(name));
    }
    QString caption(const char *label) { return child<QLabel>(label)->text(); }

    TestHttpServer server;
    ServedPage page;
    RecordingLog log;
    CenterVendor control;
    QVariant result = QVariant(1);
};

const std::vector<Fields> threeActive = {
    {"12", "Tacma Freight", "1", "", "", "03/04/2025"},
    {"7", "ACME Supply", "2"},
    {"123", "Bolt & Nut", "1.0", "x", "y", "01/02/2024", "z"},
};
const std::vector<Fields> twoSelected = {
    {"9", "Zeta Cargo", "0.125", "false"},
    {"3", "Alpha Lines", "0.08", "True"},
};

TEST_F(Loading, fillsBothListsOrderedByIdWithTheirColumns)
{
    page.setAll(countXml(2, 3, 2), answerXml(1, threeActive), answerXml(2, twoSelected));
    load();
    EXPECT_FALSE(result.isValid());
    const std::vector<QStringList> nonSelected = {
        {"7", "ACME Supply", "2", "8.00", "0", "", "0007"},
        {"12", "Tacma Freight", "1", "8.00", "1", "03/04/2025", "0012"},
        {"123", "Bolt & Nut", "1.0", "8.00", "1", "01/02/2024", "0123"},
    };
    EXPECT_EQ(rowsOf(control, "lstVendors"), nonSelected);
    const std::vector<QStringList> selected = {
        {"3", "Alpha Lines", "", "8.00", "1", "", "0003"},
        {"9", "Zeta Cargo", "", "12.50", "0", "", "0009"},
    };
    EXPECT_EQ(rowsOf(control, "lstVendorCenter"), selected);
    EXPECT_TRUE(selectedRowsOf(control, "lstVendors").empty());
    EXPECT_TRUE(selectedRowsOf(control, "lstVendorCenter").empty());
    EXPECT_EQ(caption("lblAllVendors"), "Non Selected Active Vendors (3):");
    EXPECT_EQ(caption("lblSelVendors"), "Selected Vendors (2):");
    EXPECT_EQ(log.entries,
              (QStringList{"CountDisplay", "NonSelectVendorsDisplay", "SelectedVendorDisplay"}));
}

TEST_F(Loading, enablesTheSearchAndLeavesCommitDisabled)
{
    page.setAll(countXml(1, 0, 0), answerXml(1, {}), answerXml(2, {}));
    load();
    for (const char *name : {"optList_0", "optList_1", "optFind_0", "optFind_1", "txtVendorID"}) {
        EXPECT_TRUE(child<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(child<QLineEdit>("txtVendorID")->isReadOnly());
    EXPECT_FALSE(child<QPushButton>("cmdCommit")->isEnabled());
    EXPECT_EQ(control.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(caption("lblAllVendors"), "Non Selected Active Vendors (0):");
}

TEST_F(Loading, progressRunsOverBothListsThenFillsAndEmpties)
{
    page.setAll(countXml(1, 3, 2), answerXml(1, threeActive), answerXml(2, twoSelected));
    auto *bar = child<QProgressBar>("prbLoad");
    QSignalSpy values(bar, &QProgressBar::valueChanged);
    load();
    QList<int> seen;
    for (const auto &v : values) {
        seen << v.at(0).toInt();
    }
    EXPECT_EQ(seen, (QList<int>{0, 1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(bar->maximum(), 5);
}

TEST_F(Loading, requestsCarryTheCenterIdAsWrittenAndKeepTheServerName)
{
    page.setAll(countXml(1, 0, 0), answerXml(1, {}), answerXml(2, {}));
    load(-42);
    control.LetDataFromDatabase(8, QString());
    const auto requests = server.requestsTo("/CenterVendor.asp");
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0].target, "/CenterVendor.asp?count=1&centerID=-42");
    EXPECT_EQ(requests[1].target, "/CenterVendor.asp?active=1&centerID=-42");
    EXPECT_EQ(requests[2].target, "/CenterVendor.asp?selected=1&centerID=-42");
    EXPECT_EQ(requests[3].target, "/CenterVendor.asp?count=1&centerID=8");
}

TEST_F(Loading, aFirstCallWithoutServerNameFailsQuietly)
{
    result = control.LetDataFromDatabase(5, QString());
    EXPECT_FALSE(result.isValid());
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_TRUE(rowsOf(control, "lstVendors").empty());
    EXPECT_EQ(control.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(Loading, anIndentedAnswerReadsLikeACompactOne)
{
    const std::string indented = "<?xml version=\"1.0\"?>\n<answer>\n  <section/>\n  <section>\n"
                                 "    <vendor>\n      <id>7</id>\n      <name>ACME</name>\n"
                                 "      <country>1</country>\n    </vendor>\n  </section>\n"
                                 "</answer>\n";
    page.setAll(countXml(2, 1, 0), indented, answerXml(2, {}));
    load();
    EXPECT_EQ(rowsOf(control, "lstVendors"),
              (std::vector<QStringList>{{"7", "ACME", "1", "8.00", "1", "", "0007"}}));
}

struct DutyCase
{
    int centerCode;
    const char *country;
    const char *duty;
};

class DefaultDutyRule : public Loading, public ::testing::WithParamInterface<DutyCase>
{
};

TEST_P(DefaultDutyRule, givesOneOnlyToCountryOneAtCenterCodeTwo)
{
    page.setAll(countXml(GetParam().centerCode, 1, 0),
                answerXml(1, {{"5", "Vendor", GetParam().country}}), answerXml(2, {}));
    load();
    EXPECT_EQ(columnOf(control, "lstVendors", 4), QStringList{GetParam().duty});
}

INSTANTIATE_TEST_SUITE_P(Cases, DefaultDutyRule,
                         ::testing::Values(DutyCase{2, "1", "1"}, DutyCase{2, "1.0", "1"},
                                           DutyCase{2, " 1 ", "1"}, DutyCase{1, "1", "0"},
                                           DutyCase{2, "2", "0"}, DutyCase{-2, "1", "0"}));

struct SelectedCase
{
    const char *fee;
    const char *flag;
    const char *shownFee;
    const char *shownDuty;
};

class SelectedForms : public Loading, public ::testing::WithParamInterface<SelectedCase>
{
};

TEST_P(SelectedForms, showTheFeeInPercentAndTheFlagAsOneOrZero)
{
    page.setAll(countXml(1, 0, 1), answerXml(1, {}),
                answerXml(2, {{"4", "Vendor", GetParam().fee, GetParam().flag}}));
    load();
    ASSERT_EQ(rowsOf(control, "lstVendorCenter").size(), 1u);
    EXPECT_EQ(columnOf(control, "lstVendorCenter", 3), QStringList{GetParam().shownFee});
    EXPECT_EQ(columnOf(control, "lstVendorCenter", 4), QStringList{GetParam().shownDuty});
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectedForms,
                         ::testing::Values(SelectedCase{"0.08", "True", "8.00", "1"},
                                           SelectedCase{"0.125", "false", "12.50", "0"},
                                           SelectedCase{"0.5", "0", "50.00", "0"},
                                           SelectedCase{"0", "-1", "0.00", "1"},
                                           SelectedCase{"1", "TRUE", "100.00", "1"},
                                           SelectedCase{"0.0001", "2", "0.01", "1"}));

TEST_F(Loading, anEmptyCountryIdEndsTheLoadAtThatVendor)
{
    page.setAll(
        countXml(2, 3, 1),
        answerXml(
            1,
            {{"1", "First", "1"}, {"2", "Second", "3"}, {"3", "Third", ""}, {"4", "Fourth", "1"}}),
        answerXml(2, {{"9", "Selected", "0.1", "1"}}));
    load();
    EXPECT_EQ(rowsOf(control, "lstVendors"),
              (std::vector<QStringList>{{"1", "First", "1", "8.00", "1", "", "0001"},
                                        {"2", "Second", "3", "8.00", "0", "", "0002"},
                                        {"3", "Third", "", "8.00", "", "", ""}}));
    EXPECT_TRUE(rowsOf(control, "lstVendorCenter").empty());
    EXPECT_FALSE(child<QRadioButton>("optList_0")->isEnabled());
    EXPECT_EQ(child<QProgressBar>("prbLoad")->value(), 1) << "the bar keeps its last value";
    EXPECT_EQ(control.cursor().shape(), Qt::ArrowCursor);
}

// A selected vendor whose fields fail part-way is added with the fields read before the failure.
TEST_F(Loading, aSelectedVendorThatFailsPartWayKeepsWhatWasReadBeforeTheFailure)
{
    const struct
    {
        const char *fee;
        const char *flag;
        QStringList row;
    } cases[] = {
        {"abc", "1", {"4", "Four", "", "", "", "", ""}},
        {"0.1", "yes", {"4", "Four", "", "10.00", "", "", ""}},
        {"0.125", "maybe", {"4", "Four", "", "12.50", "", "", ""}},
    };
    for (const auto &c : cases) {
        page.setAll(countXml(2, 1, 2), answerXml(1, {{"1", "One", "1"}}),
                    answerXml(2, {{"3", "Three", "0.1", "1"}, {"4", "Four", c.fee, c.flag}}));
        load();
        EXPECT_EQ(rowsOf(control, "lstVendorCenter"),
                  (std::vector<QStringList>{{"3", "Three", "", "10.00", "1", "", "0003"}, c.row}))
            << c.fee << " " << c.flag;
    }
}

struct BrokenCase
{
    const char *what;
    std::string count;
    std::string active;
    std::string selected;
    std::size_t nonSelectedRows;
    std::size_t selectedRows;
};

class BrokenAnswer : public Loading, public ::testing::WithParamInterface<BrokenCase>
{
};

TEST_P(BrokenAnswer, endsTheLoadQuietlyKeepingTheRowsReadSoFar)
{
    const auto &c = GetParam();
    page.setAll(c.count, c.active, c.selected);
    MessageWatcher messages;
    load();
    EXPECT_FALSE(result.isValid());
    EXPECT_EQ(rowsOf(control, "lstVendors").size(), c.nonSelectedRows);
    EXPECT_EQ(rowsOf(control, "lstVendorCenter").size(), c.selectedRows);
    EXPECT_TRUE(messages.seen().empty());
    EXPECT_FALSE(child<QPushButton>("cmdCommit")->isEnabled());
}

const std::string goodActive = answerXml(1, {{"1", "One", "1"}, {"2", "Two", "1"}});
const std::string goodSelected = answerXml(2, {{"3", "Three", "0.1", "1"}});

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenAnswer,
    ::testing::Values(
        BrokenCase{"count not well-formed", "<answer><section>", goodActive, goodSelected, 0, 0},
        BrokenCase{"count out of 16-bit range", countXml(1, 40000, 0), goodActive, goodSelected, 0,
                   0},
        BrokenCase{"counts summing past 32767", countXml(1, 30000, 3000), goodActive, goodSelected,
                   0, 0},
        BrokenCase{"count not a number", answerXml(0, {{"x", "1", "1"}}), goodActive, goodSelected,
                   0, 0},
        BrokenCase{"active not well-formed", countXml(1, 2, 1), "<answer><a></b></answer>",
                   goodSelected, 0, 0},
        BrokenCase{"active section missing", countXml(1, 2, 1), "<answer><section/></answer>",
                   goodSelected, 0, 0},
        BrokenCase{"empty vendor id", countXml(1, 2, 1), answerXml(1, {{"1", "One", "1"}, {""}}),
                   goodSelected, 1, 0},
        BrokenCase{"selected has two sections", countXml(1, 2, 1), goodActive,
                   "<answer><s/><s/></answer>", 2, 0},
        BrokenCase{"selected fee not a number", countXml(1, 2, 2), goodActive,
                   answerXml(2, {{"3", "Three", "0.1", "1"}, {"4", "Four", "abc", "1"}}), 2, 2},
        BrokenCase{"selected flag not a Boolean", countXml(1, 2, 1), goodActive,
                   answerXml(2, {{"3", "Three", "0.1", "yes"}}), 2, 1},
        BrokenCase{"selected name empty", countXml(1, 2, 1), goodActive,
                   answerXml(2, {{"3", "", "0.1", "1"}}), 2, 1},
        BrokenCase{"comment in front of the count section",
                   "<answer><!-- note --><s><v><f>1</f><f>2</f><f>1</f></v></s></answer>",
                   goodActive, goodSelected, 0, 0},
        BrokenCase{"processing instruction shifting the vendor fields", countXml(1, 2, 1),
                   "<a><s/><s><v><?pi x?><f>1</f><f>One</f><f>1</f></v></s></a>", goodSelected, 0,
                   0}),
    [](const auto &info) {
        std::string name;
        for (char ch : std::string(info.param.what)) {
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

TEST_F(Loading, anHttpErrorStatusIsAFailedFetch)
{
    page.setAll(countXml(1, 0, 0), answerXml(1, {}), answerXml(2, {}));
    page.set("count", TestHttpServer::xml(countXml(1, 0, 0), 500));
    load();
    EXPECT_EQ(server.requestCount(), 1u) << "nothing is asked after the failed step";
    EXPECT_EQ(caption("lblAllVendors"), "Non Selected Active Vendors:");
}

TEST_F(Loading, aServerThatNeverAnswersEndsTheLoadAtTheTimeOut)
{
    const auto saved = tarvo::load::queryFetchOptions();
    tarvo::load::setQueryFetchOptions(
        {std::chrono::milliseconds(1000), std::chrono::milliseconds(300)});
    server.stallGet("/CenterVendor.asp");
    load();
    tarvo::load::setQueryFetchOptions(saved);
    server.releaseStalled();
    EXPECT_FALSE(result.isValid());
    EXPECT_TRUE(rowsOf(control, "lstVendors").empty());
    EXPECT_EQ(control.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(Loading, aReloadReplacesEveryRowOfTheEarlierCenter)
{
    page.setAll(countXml(1, 3, 2), answerXml(1, threeActive), answerXml(2, twoSelected));
    load(1);
    page.setAll(countXml(1, 1, 0), answerXml(1, {{"44", "Other", "3"}}), answerXml(2, {}));
    load(2);
    EXPECT_EQ(columnOf(control, "lstVendors", 0), QStringList{"44"});
    EXPECT_TRUE(rowsOf(control, "lstVendorCenter").empty());
    EXPECT_EQ(caption("lblAllVendors"), "Non Selected Active Vendors (1):");
}

} // namespace
