#include "screen/FrameBox.h"

#include <QPaintEvent>
#include <QStyle>
#include <QStylePainter>

namespace tarvo::screen {

FrameBox::Look FrameBox::lookOf(const QStyleOptionGroupBox &option, qreal pixelRatio)
{
    Look look;
    look.size = option.rect.size();
    look.pixelRatio = pixelRatio;
    look.state = option.state;
    look.direction = option.direction;
    look.palette = option.palette.cacheKey();
    look.text = option.text;
    look.textAlignment = static_cast<int>(option.textAlignment);
    look.features = option.features;
    look.lineWidth = option.lineWidth;
    look.midLineWidth = option.midLineWidth;
    look.subControls = option.subControls;
    look.activeSubControls = option.activeSubControls;
    return look;
}

void FrameBox::paintEvent(QPaintEvent *event)
{
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const QStyle *style = this->style();
    // As QGroupBox paints: a style painter scales the border's image parts smoothly.
    QStylePainter painter(this);
    if (!(option.subControls & QStyle::SC_GroupBoxFrame)) {
        style->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, this);
        return;
    }
    Look look = lookOf(option, devicePixelRatio());
    look.font = font();
    if (m_border.isNull() || look != m_look || style != m_style) {
        // The border alone, on nothing: drawn over the frame's background it gives the very
        // pixels the style gives when it draws there itself.
        m_border = QPixmap(option.rect.size() * look.pixelRatio);
        m_border.setDevicePixelRatio(look.pixelRatio);
        m_border.fill(Qt::transparent);
        QStyleOptionGroupBox border = option;
        border.subControls = QStyle::SC_GroupBoxFrame;
        QStylePainter onBorder(&m_border, this);
        onBorder.setFont(painter.font());
        onBorder.setPen(painter.pen());
        onBorder.setBrush(painter.brush());
        style->drawComplexControl(QStyle::CC_GroupBox, &border, &onBorder, this);
        m_restRect = QRect();
        // An empty caption is not drawn.
        if ((option.subControls & QStyle::SC_GroupBoxLabel) && !option.text.isEmpty()) {
            m_restRect |=
                style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
        }
        if (option.subControls & QStyle::SC_GroupBoxCheckBox) {
            m_restRect |= style->subControlRect(QStyle::CC_GroupBox, &option,
                                                QStyle::SC_GroupBoxCheckBox, this);
        }
        m_look = look;
        m_style = style;
    }
    painter.drawPixmap(0, 0, m_border);
    if (!m_restRect.isEmpty() && event->region().intersects(m_restRect)) {
        QStyleOptionGroupBox rest = option;
        rest.subControls &= ~QStyle::SC_GroupBoxFrame;
        style->drawComplexControl(QStyle::CC_GroupBox, &rest, &painter, this);
    }
}

} // namespace tarvo::screen
