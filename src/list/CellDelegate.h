// Paints the lists' cells as the style does, but keeps what repeats from cell to cell: the
// laid-out text of the cells shown lately (a row that moves, or a list that scrolls, paints the
// same texts again, and shaping them anew was most of the cost of a repaint), where the style
// puts a cell's text, and whether it draws anything at all for a cell that is neither
// selected, current nor marked. Such plain cells, most of a list, get their text alone.
#pragma once

#include <QFont>
#include <QHash>
#include <QPointer>
#include <QRect>
#include <QStaticText>
#include <QStyledItemDelegate>

class QStyle;

namespace tarvo::list {

class CellDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    struct Layout
    {
        QSize size;
        QStyleOptionViewItem::ViewItemFeatures features;
        QSize decorationSize;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        bool operator==(const Layout &other) const = default;
    };
    friend size_t qHash(const Layout &layout, size_t seed);

    const QStaticText &laidOut(const QString &text) const;
    // Where the style puts the text of a cell like opt (its text already cleared), relative to
    // the cell's top left corner.
    QRect textRect(const QStyleOptionViewItem &opt, const QStyle *style) const;
    // Whether the style paints nothing but the text of a cell that is neither selected nor
    // current, has no marker, check box or background of its own, and is not under the mouse.
    bool plainCellsBare(const QStyleOptionViewItem &opt, const QStyle *style) const;
    // Drops what was kept for another font or style.
    void follow(const QFont &font, const QStyle *style) const;

    mutable QHash<QString, QStaticText> m_texts;
    mutable QHash<Layout, QRect> m_textRects;
    mutable QFont m_font;
    mutable QPointer<const QStyle> m_style;
    mutable int m_bare = -1; // unknown, 0 or 1 for m_style
};

} // namespace tarvo::list
