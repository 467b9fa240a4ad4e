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
    return answerXml(0, {{std::to_string(centerCode), std::to_string(nonSelected),
                          std::to_string(selected)}});
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
