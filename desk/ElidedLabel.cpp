#include "ElidedLabel.h"

namespace tarvo::desk {

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString &text)
{
    m_full = text;
    setToolTip(text);
    setAccessibleDescription(text);
    updateGeometry();
    elide();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {fontMetrics().horizontalAdvance(QStringLiteral("Mmmm…")),
            QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins m = contentsMargins();
    return {fontMetrics().horizontalAdvance(m_full) + m.left() + m.right(),
            QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide()
{
    // The first line only: a server's answer may run over several.
    QString line = m_full.section(u'\n', 0, 0).trimmed();
    if (line != m_full.trimmed()) {
        line += QStringLiteral(" …");
    }
    setText(fontMetrics().elidedText(line, Qt::ElideRight, contentsRect().width()));
}

} // namespace tarvo::desk
