// What a change paints, and that the shortcuts taken while painting give the pixels Qt's own
// painting gives: the lists' cells, the frames and the scroll bars.
#include "list/VendorList.h"
#include "list/VendorView.h"
#include "screen/FrameBox.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using tarvo::list::VendorList;
using tarvo::screen::FrameBox;

namespace {

// Delivers posted events until the queue is quiet, so that deferred layouts and paints ran.
void settle()
{
    for (int round = 0; round < 5; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// The region of every paint event a widget received while it watched.
class PaintWatcher : public QObject
{
public:
    explicit PaintWatcher(QWidget *watched) { watched->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent *>(event)->region();
        }
        return false;
    }
};

// A shown list of 40 vendors "010".."400" (in id order) with a name each, the first one
// current and selected.
class ShownList : public ::testing::Test
{
protected:
    ShownList() : list(&host)
    {
        host.resize(400, 200);
        list.view()->setGeometry(0, 0, 400, 200);
        for (const char *h : {"ID", "Name", "CountryID", "Fee", "Duty", "Date", "Key"}) {
            list.AddColumnHeader(QString::fromLatin1(h), h[0] == 'I' || h[0] == 'N' ? 2500 : 0);
        }
        for (int i = 1; i <= 40; ++i) {
            const int row = list.Add(QStringLiteral("%1").arg(i * 10, 3, 10, QLatin1Char('0')));
            list.SetSubItem(row, 1, QStringLiteral("Vendor number %1 of the list").arg(i));
            list.SetSubItem(row, 4, QStringLiteral("0"));
        }
        list.flush();
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        settle();
    }

    QWidget *viewport() const { return list.view()->viewport(); }
    int rowHeight() const { return list.view()->rowHeight(0); }
    // The viewport from the top of the given 0-based row (as the view now stands) down.
    QRegion fromRowDown(int row0) const
    {
        const int top = std::max(list.view()->rowViewportPosition(row0), 0);
        return QRegion(0, top, viewport()->width(), viewport()->height() - top);
    }
    QImage viewportImage() const { return viewport()->grab().toImage(); }
    // A part of the window as it shows it, painted piece by piece, beside the same part
    // painted whole.
    QImage shown(QWidget *part) const
    {
        QImage window = host.screen()->grabWindow(host.winId()).toImage();
        const qreal scale = window.width() / static_cast<qreal>(host.width());
        const QRect at(part->mapTo(&host, QPoint(0, 0)), part->size());
        window.setDevicePixelRatio(1);
        return window
            .copy(QRectF(QPointF(at.topLeft()) * scale, QSizeF(at.size()) * scale).toRect())
            .convertToFormat(QImage::Format_RGB32);
    }
    // The same part once painted again whole.
    QImage repainted(QWidget *part) const
    {
        part->repaint();
        settle();
        return shown(part);
    }

    QWidget host;
    VendorList list;
};

constexpr int NothingPainted = -1;
constexpr int AnyRegion = -2;

struct RowChange
{
    const char *what;
    int scrollTo0; // 0-based row scrolled to the top first
    bool insert;   // insert "<id>5" after the row, else remove the row
    int row1;      // 1-based
    // The first row painted, 0-based as the view stands after; NothingPainted, or
    // AnyRegion where the view scrolls and only the pixels are checked.
    int paintedFrom0;
};

class RowChangePaint : public ShownList, public ::testing::WithParamInterface<RowChange>
{
};

TEST_P(RowChangePaint, paintsTheViewportFromTheChangedRowDownAndNoHeader)
{
    const RowChange &change = GetParam();
    list.view()->verticalScrollBar()->setValue(change.scrollTo0);
    settle();
    PaintWatcher rows(viewport());
    PaintWatcher header(list.view()->horizontalHeader()->viewport());
    if (change.insert) {
        const int added = list.Add(list.Text(change.row1) + QLatin1Char('5'));
        list.SetSubItem(added, 4, QStringLiteral("0N"));
        list.PlaceInOrder(added);
    } else {
        list.Remove(change.row1);
    }
    list.flush();
    settle();
    if (change.paintedFrom0 != AnyRegion) {
        const QRegion expected =
            change.paintedFrom0 == NothingPainted ? QRegion() : fromRowDown(change.paintedFrom0);
        EXPECT_EQ(rows.painted, expected) << change.what;
    }
    EXPECT_TRUE(header.painted.isEmpty()) << change.what;
    const QImage piecewise = shown(viewport());
    EXPECT_EQ(piecewise, repainted(viewport())) << change.what;
}

INSTANTIATE_TEST_SUITE_P(
    ListPaint, RowChangePaint,
    ::testing::Values(RowChange{"remove a shown row", 0, false, 6, 5},
                      RowChange{"insert after a shown row", 0, true, 3, 3},
                      RowChange{"remove a row below the shown ones", 0, false, 40, NothingPainted},
                      RowChange{"remove a row above the shown ones", 10, false, 4, 10},
                      RowChange{"remove the last row scrolled to the end", 40, false, 40,
                                AnyRegion},
                      RowChange{"insert before the shown ones", 20, true, 2, 20}));

TEST_F(ShownList, aClickPaintsTheRowsItSelectsAndNotTheHeader)
{
    PaintWatcher header(list.view()->horizontalHeader()->viewport());
    PaintWatcher rows(viewport());
    const QRect third = list.view()->visualRect(list.view()->model()->index(2, 0));
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, third.center());
    settle();
    EXPECT_EQ(list.SelectedItem(), 3);
    EXPECT_TRUE(header.painted.isEmpty());
    EXPECT_FALSE(rows.painted.intersects(fromRowDown(4)));
}

// A style that rules a line under every cell, selected or not.
class RuledStyle : public QProxyStyle
{
public:
    RuledStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element == CE_ItemViewItem) {
            painter->fillRect(
                QRect(option->rect.left(), option->rect.bottom(), option->rect.width(), 1),
                Qt::red);
        }
    }
};

TEST_F(ShownList, aStyleThatDrawsUnderEveryCellIsAskedForPlainCellsToo)
{
    RuledStyle style;
    list.view()->setStyle(&style);
    settle();
    const QImage shown = viewportImage();
    const int rows = std::min(list.Count(), viewport()->height() / rowHeight());
    for (int row0 = 0; row0 < rows; ++row0) {
        for (int column = 0; column < 2; ++column) {
            const QRect cell = list.view()->visualRect(list.view()->model()->index(row0, column));
            const qreal scale = shown.devicePixelRatio();
            EXPECT_EQ(shown.pixelColor(
                          QPointF(QPointF(cell.center().x(), cell.bottom()) * scale).toPoint()),
                      QColor(Qt::red))
                << "row " << row0 << " column " << column;
        }
    }
    list.view()->setStyle(nullptr);
}

TEST_F(ShownList, theListsFrameLooksAsATableViewsFrame)
{
    QWidget otherHost;
    otherHost.resize(host.size());
    QTableView table(&otherHost);
    table.setGeometry(list.view()->geometry());
    const QImage ours = list.view()->grab().toImage();
    const QImage theirs = table.grab().toImage();
    ASSERT_EQ(ours.size(), theirs.size());
    const int frame = static_cast<int>(table.frameWidth() * ours.devicePixelRatio());
    int differ = 0;
    for (int y = 0; y < ours.height(); ++y) {
        for (int x = 0; x < ours.width(); ++x) {
            const bool ring =
                x < frame || y < frame || x >= ours.width() - frame || y >= ours.height() - frame;
            differ += ring && ours.pixel(x, y) != theirs.pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_GT(frame, 0);
    EXPECT_EQ(differ, 0);
}

struct FrameLook
{
    const char *title;
    bool checkable;
    bool enabled;
    bool flat;
    QSize size;
};

class FrameBoxLook : public ::testing::TestWithParam<FrameLook>
{
};

// A frame inside a host, as the screen places them.
struct Framed
{
    Framed(QGroupBox *frame, const FrameLook &look) : box(frame)
    {
        host.resize(640, 420);
        box->setParent(&host);
        box->setGeometry(QRect(QPoint(17, 13), look.size));
        box->setTitle(QString::fromLatin1(look.title));
        box->setCheckable(look.checkable);
        box->setEnabled(look.enabled);
        box->setFlat(look.flat);
    }
    void recaption(const QString &title, QSize size)
    {
        box->setTitle(title);
        box->resize(size);
    }
    QImage image() { return host.grab().toImage(); }

    QWidget host;
    QGroupBox *box;
};

TEST_P(FrameBoxLook, looksAsAGroupBoxBeforeAndAfterItsCaptionAndSizeChange)
{
    const FrameLook &look = GetParam();
    Framed ours(new FrameBox, look);
    Framed theirs(new QGroupBox, look);
    EXPECT_EQ(ours.image(), theirs.image());
    // The kept border follows a new caption and a new size.
    for (auto *framed : {&ours, &theirs}) {
        framed->recaption(QStringLiteral(" Another caption "), look.size + QSize(9, 5));
    }
    EXPECT_EQ(ours.image(), theirs.image());
}

INSTANTIATE_TEST_SUITE_P(
    ListPaint, FrameBoxLook,
    ::testing::Values(FrameLook{"", false, true, false, QSize(583, 354)},
                      FrameLook{" Find Vendor ", false, true, false, QSize(305, 137)},
                      FrameLook{" List to search  ", false, false, false, QSize(166, 55)},
                      FrameLook{"Checked", true, true, false, QSize(200, 80)},
                      FrameLook{"Flat", false, true, true, QSize(200, 80)}));

TEST_F(ShownList, theScrollBarShowsItsSliderWhereverRowsComingAndGoingPutIt)
{
    QScrollBar *bar = list.view()->verticalScrollBar();
    int moves = 0;
    QImage last = shown(bar);
    const auto check = [&] {
        list.flush();
        settle();
        const QImage piecewise = shown(bar);
        const QImage now = repainted(bar);
        moves += now != last ? 1 : 0;
        last = now;
        return piecewise == now;
    };
    for (int i = 0; i < 30; ++i) {
        list.Remove(list.Count());
        ASSERT_TRUE(check()) << list.Count() << " rows";
    }
    bar->setValue(bar->maximum());
    for (int i = 0; i < 60; ++i) {
        list.Add(QStringLiteral("9%1").arg(i, 2, 10, QLatin1Char('0')));
        ASSERT_TRUE(check()) << list.Count() << " rows";
    }
    EXPECT_GT(moves, 10);
}

} // namespace
