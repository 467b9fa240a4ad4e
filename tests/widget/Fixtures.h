// Shared helpers of the widget tests: a control served by a loopback server page, reading
// the lists through their views, and answering modal message boxes.
#pragma once

#include "support/TestHttpServer.h"

#include <TarvoCenterVendor/CenterVendor.h>

#include <QAbstractItemView>
#include <QString>
#include <QStringList>

#include <functional>
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
