#include "list/VendorView.h"

#include "list/CellDelegate.h"
#include "list/VendorViewAccessible.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <optional>

namespace tarvo::list {

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

// A scroll bar that is not painted again when a change of its range or value leaves it looking
// the same: one row more or fewer of thousands seldom moves the slider by a pixel.
class SteadyScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        if (change != SliderOrientationChange && m_shown.has_value() && look() == *m_shown) {
            return;
        }
        QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent *event) override
    {
        m_shown = look();
        QScrollBar::paintEvent(event);
    }

    void changeEvent(QEvent *event) override
    {
        m_shown.reset();
        QScrollBar::changeEvent(event);
    }

private:
    // What the style paints a scroll bar from, with the slider reduced to where it is drawn.
    struct Look
    {
        QRect rect;
        QRect slider;
        QStyle::State state;
        QStyle::SubControls active;
        qint64 palette = 0;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &other) const = default;
    };

    Look look() const
    {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {option.rect,
                style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                option.state,
                option.activeSubControls,
                option.palette.cacheKey(),
                option.sliderPosition <= option.minimum,
                option.sliderPosition >= option.maximum};
    }

    std::optional<Look> m_shown;
};

enum class KeyCommand { None, Activate, Delete, Menu };

KeyCommand keyCommand(const QKeyEvent &event)
{
    const auto modifiers = event.modifiers() & ~Qt::KeypadModifier;
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return modifiers == Qt::NoModifier ? KeyCommand::Activate : KeyCommand::None;
    case Qt::Key_Delete:
        return modifiers == Qt::NoModifier ? KeyCommand::Delete : KeyCommand::None;
    case Qt::Key_Menu:
        return KeyCommand::Menu;
    case Qt::Key_F10:
        return modifiers == Qt::ShiftModifier ? KeyCommand::Menu : KeyCommand::None;
    default:
        return KeyCommand::None;
    }
}
} // namespace

VendorView::VendorView(QWidget *parent) : QTableView(parent)
{
    installListAccessibility();
    // Every row has one line of text and one fixed height, so no row is ever measured.
    auto *rows = verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(0);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    fitRowHeight();
    setShowGrid(false);
    setItemDelegate(new CellDelegate(this));
    setWordWrap(false);
    setCornerButtonEnabled(false);
    // Tab leaves the list, as it leaves every other control.
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    // Big enough for the pending markers to show their shape, small enough not to grow a row.
    setIconSize(QSize(10, 10));
    // The id and name columns fill the list exactly; a scroll bar for the hidden ones is noise.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, this));
    auto *columns = horizontalHeader();
    columns->setSectionsClickable(true);
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setStretchLastSection(false);
    columns->setMinimumSectionSize(0);
    columns->setSortIndicatorShown(true);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { Q_EMIT ColumnClick(logical + 1); });
    // Rows are dragged out and dropped in by our own handlers; the model takes no part.
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDropIndicatorShown(false);
    viewport()->setAcceptDrops(true);
}

void VendorView::setModel(QAbstractItemModel *model)
{
    if (model == this->model()) {
        return;
    }
    for (const auto &connection : m_modelConnections) {
        disconnect(connection);
    }
    m_modelConnections.clear();
    QTableView::setModel(model);
    noteWholeLayout();
    if (model == nullptr) {
        return;
    }
    // Changes that move more than the rows below one place: the whole list is laid out.
    m_modelConnections = {
        connect(model, &QAbstractItemModel::layoutChanged, this, &VendorView::noteWholeLayout),
        connect(model, &QAbstractItemModel::rowsMoved, this, &VendorView::noteWholeLayout),
        connect(model, &QAbstractItemModel::columnsInserted, this, &VendorView::noteWholeLayout),
        connect(model, &QAbstractItemModel::columnsRemoved, this, &VendorView::noteWholeLayout),
        connect(model, &QAbstractItemModel::columnsMoved, this, &VendorView::noteWholeLayout)};
}

void VendorView::setSelectionModel(QItemSelectionModel *selectionModel)
{
    QTableView::setSelectionModel(selectionModel);
    // Each header is a view of its own on the same selection; a full-row selection spans
    // every column, so it would paint the whole header at every click and move.
    for (QHeaderView *header : {horizontalHeader(), verticalHeader()}) {
        disconnect(selectionModel, nullptr, header, nullptr);
    }
}

void VendorView::noteRowsChangedFrom(int row)
{
    m_rowsChangedFrom = m_rowsChangedFrom == NoRowChange ? row : std::min(m_rowsChangedFrom, row);
}

void VendorView::noteWholeLayout()
{
    m_wholeLayout = true;
}

void VendorView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    noteRowsChangedFrom(start);
    QTableView::rowsInserted(parent, start, end);
}

void VendorView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    noteRowsChangedFrom(start);
    QTableView::rowsAboutToBeRemoved(parent, start, end);
}

void VendorView::reset()
{
    noteWholeLayout();
    QTableView::reset();
}

void VendorView::doItemsLayout()
{
    const int from = m_rowsChangedFrom;
    const bool whole = m_wholeLayout || from == NoRowChange;
    m_rowsChangedFrom = NoRowChange;
    m_wholeLayout = false;
    if (whole) {
        QTableView::doItemsLayout();
        return;
    }
    // The base class lays out and paints every row; only those from the change down moved.
    QWidget *const port = viewport();
    const bool disabled = port->testAttribute(Qt::WA_UpdatesDisabled);
    const int offset = verticalOffset();
    port->setAttribute(Qt::WA_UpdatesDisabled, true);
    QTableView::doItemsLayout();
    port->setAttribute(Qt::WA_UpdatesDisabled, disabled);
    // A list that had to scroll (the last rows removed while they were shown) scrolled
    // without moving what it showed.
    if (verticalOffset() != offset) {
        port->update();
        return;
    }
    const int rows = model() != nullptr ? model()->rowCount(rootIndex()) : 0;
    int top = 0;
    if (from < rows) {
        top = rowViewportPosition(from);
    } else if (rows > 0) {
        top = rowViewportPosition(rows - 1) + rowHeight(rows - 1);
    }
    top = std::max(top, 0);
    if (top < port->height()) {
        port->update(QRect(0, top, port->width(), port->height() - top));
    }
}

bool VendorView::event(QEvent *event)
{
    // The corner between two scroll bars, the other thing painted here, never shows: the
    // list has no horizontal scroll bar.
    if (event->type() == QEvent::Paint && horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff) {
        paintFrame();
        return true;
    }
    return QTableView::event(event);
}

void VendorView::paintFrame()
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    const FrameLook look{option.rect.size(),
                         devicePixelRatio(),
                         static_cast<int>(option.state),
                         option.palette.cacheKey(),
                         frameStyle(),
                         option.lineWidth,
                         option.midLineWidth,
                         static_cast<int>(option.direction),
                         style()};
    auto kept = std::find_if(m_frames.begin(), m_frames.end(), [&](const KeptFrame &frame) {
        return !frame.image.isNull() && frame.look == look;
    });
    if (kept == m_frames.end()) {
        kept = m_frames.begin() + static_cast<std::ptrdiff_t>(m_nextFrame);
        m_nextFrame = (m_nextFrame + 1) % m_frames.size();
        kept->look = look;
        kept->image = QPixmap(size() * look.pixelRatio);
        kept->image.setDevicePixelRatio(look.pixelRatio);
        kept->image.fill(Qt::transparent);
        QPainter onFrame(&kept->image);
        drawFrame(&onFrame);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, kept->image);
}

void VendorView::fitRowHeight()
{
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameVMargin, nullptr, this) + 1;
    verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height(), iconSize().height()) +
                                            2 * margin);
}

void VendorView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        m_frames = {};
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        noteWholeLayout();
        fitRowHeight();
    }
}

template <typename Handle> void VendorView::withCurrentRowRepaint(Handle handle)
{
    // The attribute alone, not setUpdatesEnabled(), which would repaint everything on the way
    // back; QWidget::update() of the list and of its viewport does nothing while it is set.
    QWidget *const parts[] = {this, viewport()};
    bool disabled[2] = {};
    for (std::size_t i = 0; i < 2; ++i) {
        disabled[i] = parts[i]->testAttribute(Qt::WA_UpdatesDisabled);
        parts[i]->setAttribute(Qt::WA_UpdatesDisabled, true);
    }
    handle();
    for (std::size_t i = 0; i < 2; ++i) {
        parts[i]->setAttribute(Qt::WA_UpdatesDisabled, disabled[i]);
    }
    const QModelIndex current = currentIndex();
    if (current.isValid()) {
        viewport()->update(QRect(0, rowViewportPosition(current.row()), viewport()->width(),
                                 rowHeight(current.row())));
    }
}

void VendorView::focusInEvent(QFocusEvent *event)
{
    withCurrentRowRepaint([&] { QTableView::focusInEvent(event); });
}

void VendorView::focusOutEvent(QFocusEvent *event)
{
    withCurrentRowRepaint([&] { QTableView::focusOutEvent(event); });
}

QModelIndex VendorView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex current = currentIndex();
    const int rowCount = model() != nullptr ? model()->rowCount() : 0;
    switch (action) {
    case MoveHome:
    case MoveEnd:
        if (rowCount == 0) {
            return {};
        }
        return model()->index(action == MoveHome ? 0 : rowCount - 1,
                              current.isValid() ? current.column() : 0);
    case MoveLeft:
    case MoveRight:
        return current;
    default:
        return QTableView::moveCursor(action, modifiers);
    }
}

void VendorView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    QTableView::scrollTo(index.isValid() ? index.siblingAtColumn(0) : index, hint);
}

void VendorView::updateGeometries()
{
    QTableView::updateGeometries();
    horizontalScrollBar()->setRange(0, 0);
}

namespace {
void tellAssistiveTools(QTableView *view, QAccessible::Event type, const QModelIndex &index)
{
    const int child = accessibleChild(view, index);
    if (child >= 0) {
        QAccessibleEvent event(view, type);
        event.setChild(child);
        QAccessible::updateAccessibility(&event);
    }
}
} // namespace

void VendorView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        tellAssistiveTools(this, QAccessible::Focus, current);
    }
    // QTableView's own only adds events numbered by every column, hidden ones included.
    QAbstractItemView::currentChanged(current, previous); // NOLINT(bugprone-parent-virtual-call)
}

void VendorView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    if (QAccessible::isActive()) {
        if (!selected.isEmpty()) {
            tellAssistiveTools(this, QAccessible::SelectionAdd, selected.first().topLeft());
        }
        if (!deselected.isEmpty()) {
            tellAssistiveTools(this, QAccessible::SelectionRemove, deselected.first().topLeft());
        }
    }
    // As for the current row: QTableView's own only adds its events.
    // NOLINTNEXTLINE(bugprone-parent-virtual-call)
    QAbstractItemView::selectionChanged(selected, deselected);
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
    QTableView::mousePressEvent(event);
}

void VendorView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::RightButton) {
        QTableView::mouseReleaseEvent(event);
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
    QTableView::mouseDoubleClickEvent(event);
    // The release that ends a double click is not another click.
    m_afterDoubleClick = true;
    Q_EMIT DblClick();
}

void VendorView::keyPressEvent(QKeyEvent *event)
{
    switch (keyCommand(*event)) {
    case KeyCommand::Activate:
        if (currentIndex().isValid()) {
            event->accept();
            Q_EMIT DblClick();
            return;
        }
        break;
    case KeyCommand::Delete:
        if (isSignalConnected(QMetaMethod::fromSignal(&VendorView::DeleteKey))) {
            event->accept();
            Q_EMIT DeleteKey();
            return;
        }
        break;
    case KeyCommand::Menu:
        if (isSignalConnected(QMetaMethod::fromSignal(&VendorView::MouseUp))) {
            event->accept();
            Q_EMIT MouseUp(2, currentRowGlobalPos());
            return;
        }
        break;
    case KeyCommand::None:
        break;
    }
    // Whatever key moved the selection or the current row (arrows, Shift, Ctrl+Space, Ctrl+A,
    // Home, End, the page keys, typing an id) is a click for the control: the move buttons
    // and the fee area must follow it as they follow the mouse.
    const QItemSelection before = selectionModel()->selection();
    const QPersistentModelIndex current = currentIndex();
    QTableView::keyPressEvent(event);
    if (selectionModel()->selection() != before || current != currentIndex()) {
        Q_EMIT Click();
    }
}

void VendorView::contextMenuEvent(QContextMenuEvent *event)
{
    // The mouse's menu comes with the right-button release. One asked for from the keyboard
    // (the menu key on platforms that turn it into this event, assistive tools) goes over the
    // current row like the menu key's own.
    if (event->reason() == QContextMenuEvent::Keyboard &&
        isSignalConnected(QMetaMethod::fromSignal(&VendorView::MouseUp))) {
        event->accept();
        Q_EMIT MouseUp(2, currentRowGlobalPos());
        return;
    }
    QTableView::contextMenuEvent(event);
}

QPoint VendorView::currentRowGlobalPos()
{
    const QModelIndex current = currentIndex();
    if (!current.isValid()) {
        return viewport()->mapToGlobal(QPoint(0, 0));
    }
    scrollTo(current);
    return viewport()->mapToGlobal(visualRect(current).center());
}

} // namespace tarvo::list
