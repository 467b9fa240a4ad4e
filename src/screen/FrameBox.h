// A frame of the screen (a QGroupBox in every way a host or a test can see) that keeps its
// drawn border: the controls inside it are not opaque, so every change of one of them, even a
// button going down, paints the frame behind it again, and the style builds the border anew
// from its image parts each time. The caption is still drawn by the style.
#pragma once

#include <QFont>
#include <QGroupBox>
#include <QPixmap>
#include <QPointer>
#include <QStyleOptionGroupBox>

namespace tarvo::screen {

class FrameBox : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // What the border's look depends on; the kept border is drawn again when any of it changes.
    struct Look
    {
        QSize size;
        qreal pixelRatio = 0;
        QStyle::State state;
        Qt::LayoutDirection direction = Qt::LeftToRight;
        qint64 palette = 0;
        QFont font;
        QString text;
        int textAlignment = 0;
        QStyleOptionFrame::FrameFeatures features;
        int lineWidth = 0;
        int midLineWidth = 0;
        QStyle::SubControls subControls;
        QStyle::SubControls activeSubControls;
        bool operator==(const Look &other) const = default;
    };
    static Look lookOf(const QStyleOptionGroupBox &option, qreal pixelRatio);

    QPixmap m_border;
    // Where the caption and check box go, when the style draws either; empty when it does not.
    QRect m_restRect;
    Look m_look;
    QPointer<const QStyle> m_style;
};

} // namespace tarvo::screen
