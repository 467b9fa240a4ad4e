#include "list/CellDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace tarvo::list {

namespace {
// A few screens of both columns; past that the cache starts again.
constexpr qsizetype MaxTexts = 512;
} // namespace

const QStaticText &CellDelegate::laidOut(const QString &text, const QFont &font) const
{
    if (font != m_font || m_texts.size() >= MaxTexts) {
        m_texts.clear();
        m_font = font;
    }
    auto found = m_texts.find(text);
    if (found == m_texts.end()) {
        QStaticText laid(text);
        laid.setTextFormat(Qt::PlainText);
        laid.prepare(QTransform(), font);
        found = m_texts.insert(text, laid);
    }
    return *found;
}

void CellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = opt.text;
    const bool plain = opt.direction == Qt::LeftToRight && !text.contains(QChar::LineFeed) &&
                       opt.displayAlignment == (Qt::AlignLeft | Qt::AlignVCenter);
    if (text.isEmpty() || !plain) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QWidget *widget = opt.widget;
    QStyle *style = widget != nullptr ? widget->style() : QApplication::style();
    // The style draws background, marker and focus, and places the text, without the text: it
    // would measure it by shaping it.
    opt.text.clear();
    QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    textRect.adjust(margin, 0, -margin, 0);
    // The list never scrolls sideways: a name that runs past the visible edge is elided there.
    if (const auto *view = qobject_cast<const QAbstractItemView *>(widget)) {
        textRect.setRight(std::min(textRect.right(), view->viewport()->width() - 1 - margin));
    }
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled)  ? QPalette::Disabled
                                       : !(opt.state & QStyle::State_Active) ? QPalette::Inactive
                                                                             : QPalette::Normal;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(
        group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
    const QStaticText &laid = laidOut(text, opt.font);
    if (laid.size().width() <= textRect.width()) {
        const int top = textRect.top() + (textRect.height() - qRound(laid.size().height())) / 2;
        painter->setClipRect(textRect, Qt::IntersectClip);
        painter->drawStaticText(QPoint(textRect.left(), top), laid);
    } else {
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                          opt.fontMetrics.elidedText(text, opt.textElideMode, textRect.width()));
    }
    painter->restore();
}

} // namespace tarvo::list
