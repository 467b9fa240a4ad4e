// What a change paints, and that the shortcuts taken while painting (rows from the change
// down, kept frames, plain cells, scroll bars left alone) show what painting whole shows.
#include "list/VendorList.h"
#include "list/VendorView.h"
#include "screen/FrameBox.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QStyleFactory>
#include <QTableView>
#include <QTest>
#include <cctype>
#include <gtest/gtest.h>
#include <string>

using tarvo::list::VendorList;

namespace {

void settle()
{
    for (int round = 0; round < 5; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

// The region of every paint event a widget receives while it watches.
struct PaintWatcher : QObject
{
    explicit PaintWatcher(QWidget *watched) { watched->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent *>(event)->region();
        }
        return false;
    }
    QRegion painted;
};

// A shown list of the ids "010".."400" with a name each.
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
        }
        list.flush();
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        settle();
    }

    QWidget *viewport() const { return list.view()->viewport(); }
    QRegion fromRowDown(int row0) const
    {
        const int top = std::max(list.view()->rowViewportPosition(row0), 0);
        return QRegion(0, top, viewport()->width(), viewport()->height() - top);
    }
    // A part of the window as the window shows it.
    QImage shown(QWidget *part) const
    {
        QImage window = host.screen()->grabWindow(host.winId()).toImage();
        const qreal scale = window.width() / static_cast<qreal>(host.width());
        const QRectF at(part->mapTo(&host, QPoint(0, 0)), part->size());
        window.setDevicePixelRatio(1);
        return window.copy(QRectF(at.topLeft() * scale, at.size() * scale).toRect());
    }
    // Whether what a change painted piece by piece is what painting the part whole shows.
    bool shownAsWhole(QWidget *part) const
    {
        const QImage piecewise = shown(part);
        part->repaint();
        settle();
        return piecewise == shown(part);
    }

    QWidget host;
    VendorList list;
};

constexpr int NothingPainted = -1;
constexpr int Scrolled = -2; // the view scrolls: only the pixels are checked

struct RowChange
{
    const char *what;
    int topRow0;
    bool insert; // "<id>5" after row1, else row1 removed
    int row1;
    int paintedFrom0;
};

class RowChangePaint : public ShownList, public ::testing::WithParamInterface<RowChange>
{
};

TEST_P(RowChangePaint, paintsTheListFromTheChangedRowDownAndNoHeader)
{
    const RowChange &change = GetParam();
    list.view()->verticalScrollBar()->setValue(change.topRow0);
    settle();
    PaintWatcher rows(viewport());
    PaintWatcher header(list.view()->horizontalHeader()->viewport());
    if (change.insert) {
        list.PlaceInOrder(list.Add(list.Text(change.row1) + QLatin1Char('5')));
    } else {
        list.Remove(change.row1);
    }
    list.flush();
    settle();
    if (change.paintedFrom0 != Scrolled) {
        EXPECT_EQ(rows.painted, change.paintedFrom0 == NothingPainted
                                    ? QRegion()
                                    : fromRowDown(change.paintedFrom0));
    }
    EXPECT_TRUE(header.painted.isEmpty());
    EXPECT_TRUE(shownAsWhole(viewport()));
}

INSTANTIATE_TEST_SUITE_P(
    ListPaint, RowChangePaint,
    ::testing::Values(RowChange{"remove a shown row", 0, false, 6, 5},
                      RowChange{"insert after a shown row", 0, true, 3, 3},
                      RowChange{"remove a row below the shown", 0, false, 40, NothingPainted},
                      RowChange{"remove a row above the shown", 10, false, 4, 10},
                      RowChange{"remove the last row shown at the end", 40, false, 40, Scrolled},
                      RowChange{"insert before the shown", 20, true, 2, 20}),
    [](const auto &info) {
        std::string name;
        bool upper = false;
        for (const char *c = info.param.what; *c != 0; ++c) {
            if (*c == ' ') {
                upper = true;
            } else {
                name += upper ? static_cast<char>(std::toupper(*c)) : *c;
                upper = false;
            }
        }
        return name;
    });

TEST_F(ShownList, aClickPaintsTheRowsItSelectsAndNoHeader)
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

TEST_F(ShownList, theScrollBarShowsItsSliderWhereverRowsComingAndGoingPutIt)
{
    QScrollBar *bar = list.view()->verticalScrollBar();
    QImage last = shown(bar);
    int moved = 0;
    for (int step = 0; step < 90; ++step) {
        if (step < 30) {
            list.Remove(list.Count());
        } else {
            bar->setValue(bar->maximum());
            list.Add(QStringLiteral("9%1").arg(step, 2, 10, QLatin1Char('0')));
        }
        list.flush();
        settle();
        ASSERT_TRUE(shownAsWhole(bar)) << list.Count() << " rows";
        moved += shown(bar) != last ? 1 : 0;
        last = shown(bar);
    }
    EXPECT_GT(moved, 10);
}

// A style that rules a line under every cell.
struct RuledStyle : QProxyStyle
{
    RuledStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element == CE_ItemViewItem) {
            const QRect &r = option->rect;
            painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), Qt::red);
        }
    }
};

TEST_F(ShownList, aStyleThatDrawsUnderEveryCellIsAskedForPlainCellsToo)
{
    RuledStyle style;
    list.view()->setStyle(&style);
    const QImage cells = viewport()->grab().toImage();
    for (int row0 = 0; row0 < 8; ++row0) {
        for (int column = 0; column < 2; ++column) {
            const QRect cell = list.view()->visualRect(list.view()->model()->index(row0, column));
            const QPointF under(cell.center().x(), cell.bottom());
            EXPECT_EQ(cells.pixelColor((under * cells.devicePixelRatio()).toPoint()),
                      QColor(Qt::red));
        }
    }
    list.view()->setStyle(nullptr);
}

// Whether two hosts of one size look the same, but for the pixels inside skipped.
bool looksAs(QWidget &ours, QWidget &theirs, const QRect &skipped = {})
{
    const QImage images[2] = {ours.grab().toImage(), theirs.grab().toImage()};
    const qreal scale = images[0].devicePixelRatio();
    const QRect skippedPixels =
        QRectF(QPointF(skipped.topLeft()) * scale, QSizeF(skipped.size()) * scale).toRect();
    for (int y = 0; y < images[0].height(); ++y) {
        for (int x = 0; x < images[0].width(); ++x) {
            if (!skippedPixels.contains(x, y) && images[0].pixel(x, y) != images[1].pixel(x, y)) {
                return false;
            }
        }
    }
    return images[0].size() == images[1].size();
}

TEST(ListPaint, framesLookAsQtDrawsThemWhateverTheirCaptionAndState)
{
    const QRect place(17, 13, 583, 354);
    for (const char *title : {"", " Find Vendor "}) {
        for (const bool enabled : {true, false}) {
            QWidget hosts[2];
            QGroupBox *const boxes[2] = {new tarvo::screen::FrameBox(&hosts[0]),
                                         new QGroupBox(&hosts[1])};
            for (QGroupBox *box : boxes) {
                box->parentWidget()->resize(640, 420);
                box->setGeometry(place);
                box->setTitle(QString::fromLatin1(title));
                box->setEnabled(enabled);
            }
            EXPECT_TRUE(looksAs(hosts[0], hosts[1])) << title << enabled;
            // The kept border follows a new caption.
            for (QGroupBox *box : boxes) {
                box->setTitle(QStringLiteral(" List to search  "));
            }
            EXPECT_TRUE(looksAs(hosts[0], hosts[1])) << title << enabled;
        }
    }
    QWidget hosts[2];
    VendorList list(&hosts[0]);
    QTableView *const table = new QTableView(&hosts[1]);
    const int frame = table->frameWidth();
    for (QAbstractItemView *view :
         {static_cast<QAbstractItemView *>(list.view()), static_cast<QAbstractItemView *>(table)}) {
        view->parentWidget()->resize(640, 420);
        view->setGeometry(place);
    }
    EXPECT_TRUE(looksAs(hosts[0], hosts[1], place.adjusted(frame, frame, -frame, -frame)));
}

} // namespace
