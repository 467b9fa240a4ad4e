// The view of one vendor list: a table in report form (no grid, no row header) whose mouse and
// key events are turned into the list's Click, DblClick, MouseUp and ColumnClick events, and
// from which the selected rows can be dragged onto the other list of the control. A table
// inserts or removes one row of 32767 without laying out the others, which a tree view cannot.
#pragma once

#include <QHeaderView>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <array>
#include <vector>

class QMimeData;

namespace tarvo::list {

class VendorView : public QTableView
{
    Q_OBJECT
public:
    explicit VendorView(QWidget *parent = nullptr);

    // Single selection while off, Ctrl/Shift extended selection while on.
    void setMultiSelect(bool on);

    // The column headers.
    QHeaderView *header() const { return horizontalHeader(); }

    // Only rows dragged from partner may be dropped here; null refuses every drop.
    void acceptDropsFrom(const VendorView *partner);

    // Scrolls up and down only: the id column, with its pending marker, always stays in sight.
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;

    void setModel(QAbstractItemModel *model) override;
    // The column headers take no part in the selection (no section is ever highlighted), so
    // they are not painted again when it changes.
    void setSelectionModel(QItemSelectionModel *selectionModel) override;
    // After rows were only inserted or removed, paints the viewport from the first changed
    // row down, not all of it; anything else lays out and paints the whole list.
    void doItemsLayout() override;
    void reset() override;

Q_SIGNALS:
    // A left press and release anywhere on the viewport, rows or empty space alike; also a
    // selection or current row changed with the keys, and the start of a drag.
    void Click();
    // A double click, or Return / Enter while the list has a current row.
    void DblClick();
    // Button code 1 left, 2 right, 4 middle; globalPos is where a pop-up belongs. The menu
    // key and Shift+F10 report button 2 over the current row.
    void MouseUp(int button, const QPoint &globalPos);
    // 1-based index of the clicked header.
    void ColumnClick(int index);
    // The Delete key; a view nobody listens to leaves the key to its parents.
    void DeleteKey();
    // Rows of the partner dropped here, their ids in the partner's list order. The model is
    // never changed by the drop itself: what moves is up to the receiver.
    void RowsDropped(const QStringList &ids);

protected:
    // The list's frame is drawn from a kept image: the buttons and labels beside the list
    // overlap it by a pixel or two, so each change of one of them paints the frame again.
    bool event(QEvent *event) override;
    // The name column may end a few pixels past the viewport (the two columns fill the list's
    // width, frame and scroll bar included); no hidden horizontal scrolling reaches them.
    void updateGeometries() override;
    // Tell assistive tools of the current and selected rows by the cells they are shown, the
    // visible columns' (the table's own events count the hidden columns too).
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    // Keys move between rows as in a list: Home and End go to the first and last row, left
    // and right stay on the row.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void changeEvent(QEvent *event) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    // Only the current row shows whether the list has the focus: the rest of it is not painted
    // again when the focus comes or goes (a move's click on a button takes it away).
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void fitRowHeight();
    // Runs the base class's focus handling without the whole-list repaint it asks for, then
    // repaints the current row.
    template <typename Handle> void withCurrentRowRepaint(Handle handle);
    // The pop-up belongs over the current row, or the list's corner without one.
    QPoint currentRowGlobalPos();
    // The dragged ids when the data comes from the partner, else an empty list.
    QStringList partnerRows(const QMimeData *data) const;

    // The next layout paints from this row down; NoRowChange when no row was inserted or
    // removed since the last one, and every row after a change of any other kind.
    static constexpr int NoRowChange = -1;
    void noteRowsChangedFrom(int row);
    void noteWholeLayout();
    int m_rowsChangedFrom = NoRowChange;
    bool m_wholeLayout = false;
    std::vector<QMetaObject::Connection> m_modelConnections;

    void paintFrame();
    // Everything the style may draw the frame from.
    struct FrameLook
    {
        QSize size;
        qreal pixelRatio = 0;
        int state = 0;
        qint64 palette = 0;
        int frameStyle = 0;
        int lineWidth = 0;
        int midLineWidth = 0;
        int direction = 0;
        const void *style = nullptr;
        bool operator==(const FrameLook &other) const = default;
    };
    // The frame with and without the keyboard focus, say: the two it switches between.
    struct KeptFrame
    {
        FrameLook look;
        QPixmap image;
    };
    std::array<KeptFrame, 2> m_frames;
    std::size_t m_nextFrame = 0;

    bool m_leftPressed = false;
    bool m_afterDoubleClick = false;
    QPointer<const VendorView> m_dropPartner;
};

} // namespace tarvo::list
