#include "Fixtures.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QTimer>

namespace tarvo::test {

std::string answerXml(int section, const std::vector<Fields> &records)
{
    std::string xml = "<answer>";
    for (int s = 0; s < section; ++s) {
        xml += "<section/>";
    }
    xml += "<section>";
    for (const auto &record : records) {
        xml += "<vendor>";
        for (const auto &field : record) {
            xml += field.empty() ? "<f/>" : "<f>" + field + "</f>";
        }
        xml += "</vendor>";
    }
    xml += "</section></answer>";
    return xml;
}

std::string countXml(int centerCode, int nonSelected, int selected)
{
    return answerXml(
        0, {{std::to_string(centerCode), std::to_string(nonSelected), std::to_string(selected)}});
}

ServedPage::ServedPage(TestHttpServer &server)
    : m_server(server), m_answers(std::make_shared<std::map<std::string, Answer>>())
{
    auto answers = m_answers;
    m_server.onGet("/CenterVendor.asp", [answers](const RecordedRequest &request) {
        const auto kind = request.query.substr(0, request.query.find('='));
        const auto it = answers->find(kind);
        return it == answers->end() ? TestHttpServer::text("unknown query", 404) : it->second;
    });
}

void ServedPage::set(const std::string &kind, Answer answer)
{
    (*m_answers)[kind] = std::move(answer);
}

void ServedPage::setAll(const std::string &count, const std::string &active,
                        const std::string &selected)
{
    set("count", TestHttpServer::xml(count));
    set("active", TestHttpServer::xml(active));
    set("selected", TestHttpServer::xml(selected));
}

QAbstractItemView *listView(CenterVendor &control, const char *name)
{
    return control.findChild<QAbstractItemView *>(QString::fromLatin1(name));
}

std::vector<QStringList> rowsOf(CenterVendor &control, const char *name)
{
    auto *model = listView(control, name)->model();
    std::vector<QStringList> rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < model->columnCount(); ++c) {
            row << model->index(r, c).data().toString();
        }
        rows.push_back(row);
    }
    return rows;
}

QStringList columnOf(CenterVendor &control, const char *name, int column)
{
    QStringList out;
    for (const auto &row : rowsOf(control, name)) {
        out << row.at(column);
    }
    return out;
}

std::vector<int> selectedRowsOf(CenterVendor &control, const char *name)
{
    auto *view = listView(control, name);
    std::vector<int> rows;
    for (int r = 0; r < view->model()->rowCount(); ++r) {
        if (view->selectionModel()->isRowSelected(r, {})) {
            rows.push_back(r);
        }
    }
    return rows;
}

MessageWatcher::MessageWatcher() : m_timer(new QTimer)
{
    m_timer->setInterval(5);
    QObject::connect(m_timer, &QTimer::timeout, [this] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            return;
        }
        m_seen.push_back({box->windowTitle(), box->text(), box->informativeText(),
                          static_cast<int>(box->icon())});
        box->accept();
    });
    m_timer->start();
}

MessageWatcher::~MessageWatcher()
{
    delete m_timer;
}

} // namespace tarvo::test

#include <QAbstractButton>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTest>

namespace tarvo::test {

int UserInput::rowOf(const char *list, const QString &id)
{
    const auto ids = columnOf(m_control, list, 0);
    return static_cast<int>(ids.indexOf(id));
}

QStringList UserInput::row(const char *list, const QString &id)
{
    const int r = rowOf(list, id);
    return r < 0 ? QStringList{} : rowsOf(m_control, list).at(static_cast<std::size_t>(r));
}

QPoint UserInput::rowPoint(const char *list, int row)
{
    auto *view = listView(m_control, list);
    const auto index = view->model()->index(row, 0);
    view->scrollTo(index);
    return view->visualRect(index).center();
}

void UserInput::clickRow(const char *list, int row, Qt::KeyboardModifiers modifiers)
{
    QTest::mouseClick(listView(m_control, list)->viewport(), Qt::LeftButton, modifiers,
                      rowPoint(list, row));
}

void UserInput::clickId(const char *list, const QString &id, Qt::KeyboardModifiers modifiers)
{
    clickRow(list, rowOf(list, id), modifiers);
}

void UserInput::doubleClickId(const char *list, const QString &id)
{
    const QPoint at = rowPoint(list, rowOf(list, id));
    auto *viewport = listView(m_control, list)->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
}

bool UserInput::rightClickId(const char *list, const QString &id, Qt::MouseButton button)
{
    bool opened = false;
    QTimer chooser;
    chooser.setInterval(5);
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        opened = true;
        menu->setActiveAction(menu->actions().value(0));
        QTest::keyClick(menu, Qt::Key_Return);
    });
    chooser.start();
    const QPoint at = id.isEmpty() ? QPoint(20, 170) : rowPoint(list, rowOf(list, id));
    QTest::mouseClick(listView(m_control, list)->viewport(), button, {}, at);
    return opened;
}

void UserInput::clickBox(const char *box)
{
    QTest::mouseClick(m_control.findChild<QLineEdit *>(QString::fromLatin1(box)), Qt::LeftButton);
}

void UserInput::clickBelowRows(const char *list)
{
    auto *view = listView(m_control, list);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      QPoint(20, view->viewport()->height() - 3));
}

void UserInput::clickButton(const char *name)
{
    auto *button = m_control.findChild<QAbstractButton *>(QString::fromLatin1(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

void UserInput::clickHeader(const char *list, int section)
{
    auto *header = qobject_cast<QTableView *>(listView(m_control, list))->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(section) + 5, header->height() / 2));
}

void UserInput::type(const char *box, const QString &text)
{
    auto *edit = m_control.findChild<QLineEdit *>(QString::fromLatin1(box));
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void serveStandardCenter(ServedPage &page)
{
    page.setAll(
        countXml(2, 4, 3),
        answerXml(
            1,
            {{"10", "Acme", "1"}, {"11", "Bolt", "2"}, {"12", "Cargo", "1"}, {"13", "Delta", "3"}}),
        answerXml(2, {{"20", "Echo", "0.05", "1"},
                      {"21", "Fox", "0.08", "0"},
                      {"22", "Golf", "0.125", "1"}}));
}

} // namespace tarvo::test
