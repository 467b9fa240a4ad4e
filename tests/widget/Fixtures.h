// Shared helpers of the widget tests: a control served by a loopback server page, reading
// the lists through their views, and answering modal message boxes.
#pragma once

#include "support/TestHttpServer.h"

#include <QAbstractItemView>
#include <QString>
#include <QStringList>
#include <TarvoCenterVendor/CenterVendor.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tarvo::test {

using Fields = std::vector<std::string>;

// Answer documents in the server page's layout: sections by position, records, fields.
std::string answerXml(int section, const std::vector<Fields> &records);
std::string countXml(int centerCode, int nonSelected, int selected);

// Serves the three query answers of /CenterVendor.asp by the query's first word.
class ServedPage
{
public:
    explicit ServedPage(TestHttpServer &server);
    void set(const std::string &kind, Answer answer); // kind: count, active, selected
    void setAll(const std::string &count, const std::string &active, const std::string &selected);

private:
    TestHttpServer &m_server;
    std::shared_ptr<std::map<std::string, Answer>> m_answers;
};

QAbstractItemView *listView(CenterVendor &control, const char *name);
// Every row of a list as its seven column texts, in display order.
std::vector<QStringList> rowsOf(CenterVendor &control, const char *name);
QStringList columnOf(CenterVendor &control, const char *name, int column);
// Indexes (0-based) of the selected rows.
std::vector<int> selectedRowsOf(CenterVendor &control, const char *name);

// A message box that was shown and closed.
struct SeenMessage
{
    QString title;
    QString text;
    QString informative;
    int icon = 0; // QMessageBox::Icon
};

// Closes every message box that opens while it lives, recording it.
class MessageWatcher
{
public:
    MessageWatcher();
    ~MessageWatcher();
    const std::vector<SeenMessage> &seen() const { return m_seen; }

private:
    std::vector<SeenMessage> m_seen;
    class QTimer *m_timer;
};

} // namespace tarvo::test

namespace tarvo::test {

// Simulated mouse input on the control's lists and buttons.
class UserInput
{
public:
    explicit UserInput(CenterVendor &control) : m_control(control) {}

    // Row is 0-based in display order; the row with the given id when id is not empty.
    void clickRow(const char *list, int row, Qt::KeyboardModifiers modifiers = {});
    void clickId(const char *list, const QString &id, Qt::KeyboardModifiers modifiers = {});
    void doubleClickId(const char *list, const QString &id);
    // A right click; chooses "Remove" when a pop-up menu opens. Returns whether one opened.
    bool rightClickId(const char *list, const QString &id,
                      Qt::MouseButton button = Qt::RightButton);
    void clickBelowRows(const char *list);
    void clickButton(const char *name);
    void clickHeader(const char *list, int section);
    // Replaces the box's text by typing, without clicking it.
    void type(const char *box, const QString &text);
    void clickBox(const char *box);
    int rowOf(const char *list, const QString &id);
    QStringList row(const char *list, const QString &id);

private:
    QPoint rowPoint(const char *list, int row);
    CenterVendor &m_control;
};

inline constexpr const char *Vendors = "lstVendors";
inline constexpr const char *Center = "lstVendorCenter";

// A shown control with its own loopback server page; the test serves answers, then loads.
class ServedControl : public ::testing::Test
{
protected:
    ServedControl() : page(server), input(control) { control.show(); }
    void load(qint32 center = 12)
    {
        control.LetDataFromDatabase(center, QString::fromStdString(server.url()));
    }
    template <typename T> T *child(const char *name)
    {
        return control.findChild<T *>(QString::fromLatin1(name));
    }

    TestHttpServer server;
    ServedPage page;
    CenterVendor control;
    UserInput input;
};

// The vendors the editing and search tests start from (center code 2):
// not selected 10 Acme (country 1), 11 Bolt (2), 12 Cargo (1), 13 Delta (3);
// selected 20 Echo (5 %, duty 1), 21 Fox (8 %, duty 0), 22 Golf (12.5 %, duty 1).
void serveStandardCenter(ServedPage &page);

} // namespace tarvo::test
