#include "ui/VendorView.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace tarvo {

namespace {
int buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}
} // namespace

VendorView::VendorView(QWidget *parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    // Every row has one line of text; uniform heights let the view skip measuring 32767 rows.
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(8, 8));
    // The id and name columns fill the list exactly; a scroll bar for the hidden ones is noise.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(0);
    header()->setSortIndicatorShown(true);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { Q_EMIT ColumnClick(logical + 1); });
}

void VendorView::setMultiSelect(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection
                        : QAbstractItemView::SingleSelection);
}

void VendorView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        // A right press must keep the selection that the pop-up menu acts on.
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    m_leftPressed = event->button() == Qt::LeftButton;
    // Not every double click ends with a release; a new press starts a new click either way.
    m_afterDoubleClick = false;
    QTreeView::mousePressEvent(event);
}

void VendorView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::RightButton) {
        QTreeView::mouseReleaseEvent(event);
    } else {
        event->accept();
    }
    const bool click = event->button() == Qt::LeftButton && m_leftPressed && !m_afterDoubleClick;
    if (event->button() == Qt::LeftButton) {
        m_leftPressed = false;
        m_afterDoubleClick = false;
    }
    Q_EMIT MouseUp(buttonCode(event->button()), event->globalPosition().toPoint());
    if (click) {
        Q_EMIT Click();
    }
}

void VendorView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    QTreeView::mouseDoubleClickEvent(event);
    // The release that ends a double click is not another click.
    m_afterDoubleClick = true;
    Q_EMIT DblClick();
}

} // namespace tarvo
