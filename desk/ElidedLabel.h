// A one-line label that ends in "…" when its text does not fit, the whole text in its tooltip.
#pragma once

#include <QLabel>

namespace tarvo::desk {

class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    // The whole text; text() is what is shown.
    void setFullText(const QString &text);
    QString fullText() const { return m_full; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString m_full;
};

} // namespace tarvo::desk
