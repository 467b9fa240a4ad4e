#include "list/CellDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <algorithm>

namespace tarvo::list {

namespace {
// A few screens of both columns; past that the cache starts again.
constexpr qsizetype MaxTexts = 512;
constexpr qsizetype MaxLayouts = 64;

constexpr QStyle::State NotPlain =
    QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver;
constexpr QStyleOptionViewItem::ViewItemFeatures NotPlainFeatures =
    QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
    QStyleOptionViewItem::Alternate;
} // namespace

size_t qHash(const CellDelegate::Layout &layout, size_t seed)
{
    return qHashMulti(seed, layout.size.width(), layout.size.height(),
                      static_cast<int>(layout.features), layout.decorationSize.width(),
                      layout.decorationSize.height(), static_cast<int>(layout.direction));
}

void CellDelegate::follow(const QFont &font, const QStyle *style) const
{
    if (font != m_font || style != m_style) {
        m_texts.clear();
        m_textRects.clear();
        m_font = font;
        m_style = style;
        m_bare = -1;
    }
}

const QStaticText &CellDelegate::laidOut(const QString &text) const
{
    if (m_texts.size() >= MaxTexts) {
        m_texts.clear();
    }
    auto found = m_texts.find(text);
    if (found == m_texts.end()) {
        QStaticText laid(text);
        laid.setTextFormat(Qt::PlainText);
        laid.prepare(QTransform(), m_font);
        found = m_texts.insert(text, laid);
    }
    return *found;
}

QRect CellDelegate::textRect(const QStyleOptionViewItem &opt, const QStyle *style) const
{
    const Layout key{opt.rect.size(), opt.features, opt.decorationSize, opt.direction};
    auto found = m_textRects.constFind(key);
    if (found == m_textRects.constEnd()) {
        if (m_textRects.size() >= MaxLayouts) {
            m_textRects.clear();
        }
        QStyleOptionViewItem at = opt;
        at.rect.moveTopLeft(QPoint(0, 0));
        found = m_textRects.insert(
            key, style->subElementRect(QStyle::SE_ItemViewItemText, &at, opt.widget));
    }
    return found->translated(opt.rect.topLeft());
}

bool CellDelegate::plainCellsBare(const QStyleOptionViewItem &opt, const QStyle *style) const
{
    if (m_bare < 0) {
        // Asked of the style once: a style that draws rules, stripes or anything else under
        // every cell keeps being asked to draw each one.
        QImage probe(std::max(opt.rect.width(), 1), std::max(opt.rect.height(), 1),
                     QImage::Format_ARGB32_Premultiplied);
        probe.fill(Qt::transparent);
        QStyleOptionViewItem plain = opt;
        plain.rect = probe.rect();
        plain.text.clear();
        {
            QPainter p(&probe);
            style->drawControl(QStyle::CE_ItemViewItem, &plain, &p, opt.widget);
        }
        const QImage blank = [&] {
            QImage b(probe.size(), probe.format());
            b.fill(Qt::transparent);
            return b;
        }();
        m_bare = probe == blank ? 1 : 0;
    }
    return m_bare == 1;
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
    const QStyle *style = widget != nullptr ? widget->style() : QApplication::style();
    follow(opt.font, style);
    // The style draws background, marker and focus, and places the text, without the text: it
    // would measure it by shaping it.
    opt.text.clear();
    QRect rect = textRect(opt, style);
    const bool bare = !(opt.state & NotPlain) && !(opt.features & NotPlainFeatures) &&
                      opt.backgroundBrush.style() == Qt::NoBrush;
    if (!bare || !plainCellsBare(opt, style)) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    }

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    rect.adjust(margin, 0, -margin, 0);
    // The list never scrolls sideways: a name that runs past the visible edge is elided there.
    if (const auto *view = qobject_cast<const QAbstractItemView *>(widget)) {
        rect.setRight(std::min(rect.right(), view->viewport()->width() - 1 - margin));
    }
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled)  ? QPalette::Disabled
                                       : !(opt.state & QStyle::State_Active) ? QPalette::Inactive
                                                                             : QPalette::Normal;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(
        group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
    const QStaticText &laid = laidOut(text);
    if (laid.size().width() <= rect.width()) {
        const int top = rect.top() + (rect.height() - qRound(laid.size().height())) / 2;
        painter->setClipRect(rect, Qt::IntersectClip);
        painter->drawStaticText(QPoint(rect.left(), top), laid);
    } else {
        painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter,
                          opt.fontMetrics.elidedText(text, opt.textElideMode, rect.width()));
    }
    painter->restore();
}

} // namespace tarvo::list
