// Dragging rows out of one vendor list and dropping them on the other. The drop changes no
// model: the view only reports which rows arrived, and the control runs its move command.
#include "list/VendorDrag.h"

#include "list/VendorView.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDrag>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPixmap>

namespace tarvo::list {

namespace {
constexpr auto StreamVersion = QDataStream::Qt_6_0;

// The sender: this process and the source widget's address, which is compared, never used.
struct Origin
{
    qint64 process = 0;
    quint64 widget = 0;
};

Origin originOf(const QWidget *source)
{
    return {QCoreApplication::applicationPid(),
            static_cast<quint64>(reinterpret_cast<quintptr>(source))};
}

bool readOrigin(QDataStream &in, const QWidget *source)
{
    Origin read;
    in >> read.process >> read.widget;
    const Origin expected = originOf(source);
    return in.status() == QDataStream::Ok && source != nullptr &&
           read.process == expected.process && read.widget == expected.widget;
}
} // namespace

QMimeData *encode(const QWidget *source, const QStringList &ids)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(StreamVersion);
    const Origin origin = originOf(source);
    out << origin.process << origin.widget << ids;
    auto *data = new QMimeData;
    data->setData(QString::fromLatin1(MimeType), bytes);
    return data;
}

bool comesFrom(const QMimeData *data, const QWidget *source)
{
    if (data == nullptr || !data->hasFormat(QString::fromLatin1(MimeType))) {
        return false;
    }
    const QByteArray bytes = data->data(QString::fromLatin1(MimeType));
    QDataStream in(bytes);
    in.setVersion(StreamVersion);
    return readOrigin(in, source);
}

std::optional<QStringList> idsFrom(const QMimeData *data, const QWidget *source)
{
    if (data == nullptr || !data->hasFormat(QString::fromLatin1(MimeType))) {
        return std::nullopt;
    }
    const QByteArray bytes = data->data(QString::fromLatin1(MimeType));
    QDataStream in(bytes);
    in.setVersion(StreamVersion);
    if (!readOrigin(in, source)) {
        return std::nullopt;
    }
    QStringList ids;
    in >> ids;
    if (in.status() != QDataStream::Ok || !in.atEnd()) {
        return std::nullopt;
    }
    return ids;
}

void VendorView::acceptDropsFrom(const VendorView *partner)
{
    m_dropPartner = partner;
}

void VendorView::startDrag(Qt::DropActions)
{
    // The press that starts a drag counts as a click, so that the move buttons and the other
    // list stand as they would for the rows clicked; the release that ends it is no click.
    m_leftPressed = false;
    Q_EMIT Click();
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return;
    }
    auto *dragging = new QDrag(this);
    dragging->setMimeData(model()->mimeData(rows));
    const QModelIndex current = currentIndex();
    if (current.isValid()) {
        const QRect cell = visualRect(current);
        const QPixmap row =
            viewport()->grab(QRect(0, cell.top(), viewport()->width(), cell.height()));
        dragging->setPixmap(row);
        dragging->setHotSpot(QPoint(cell.height(), cell.height() / 2));
    }
    // The drop target runs the move itself; whatever action the drag ends with, the rows are
    // not Qt's to remove here.
    dragging->exec(Qt::MoveAction, Qt::MoveAction);
}

void VendorView::dragEnterEvent(QDragEnterEvent *event)
{
    dragMoveEvent(event);
}

void VendorView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!list::comesFrom(event->mimeData(), m_dropPartner)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void VendorView::dropEvent(QDropEvent *event)
{
    const QStringList ids = partnerRows(event->mimeData());
    if (ids.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
    Q_EMIT RowsDropped(ids);
}

QStringList VendorView::partnerRows(const QMimeData *data) const
{
    return list::idsFrom(data, m_dropPartner).value_or(QStringList{});
}

} // namespace tarvo::list
