#include "CenterBox.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QLineEdit>
#include <QRegularExpression>

namespace tarvo::desk {

namespace {

// Qt names a combo box on Linux by the text it holds and leaves the label to a relation; a
// screen reader then announces a center's name where it should say which box this is. This
// one is named "Center", and says its text as its value.
class CenterBoxAccessible : public QAccessibleWidget
{
public:
    explicit CenterBoxAccessible(QWidget *box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        const auto *box = static_cast<const QComboBox *>(widget());
        if (t == QAccessible::Name) {
            return box->accessibleName();
        }
        if (t == QAccessible::Value) {
            return box->currentText();
        }
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }
    void doAction(const QString &action) override
    {
        if (action == showMenuAction()) {
            static_cast<QComboBox *>(widget())->showPopup();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }
};

QAccessibleInterface *centerBoxAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String(CenterBox::staticMetaObject.className()) && object->isWidgetType()) {
        return new CenterBoxAccessible(static_cast<QWidget *>(object));
    }
    return nullptr;
}

} // namespace

CenterBox::CenterBox(QWidget *parent) : QComboBox(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(centerBoxAccessible);
        return true;
    }();
    Q_UNUSED(installed);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(28);
    view()->setTextElideMode(Qt::ElideMiddle);
    lineEdit()->setPlaceholderText(tr("center id"));
    // A screen reader names the box, not whatever it holds.
    setAccessibleName(tr("Center"));
    lineEdit()->setAccessibleName(tr("Center"));
}

void CenterBox::resizeEvent(QResizeEvent *event)
{
    QComboBox::resizeEvent(event);
    elide();
}

void CenterBox::elide()
{
    m_elided.clear();
    if (currentIndex() < 0 || lineEdit()->hasFocus()) {
        setToolTip(QString());
        return;
    }
    const QString whole = itemText(currentIndex());
    const QString shown = lineEdit()->fontMetrics().elidedText(
        whole, Qt::ElideMiddle, lineEdit()->contentsRect().width() - 8);
    const QSignalBlocker quiet(this);
    m_elided = shown;
    lineEdit()->setText(shown);
    lineEdit()->setCursorPosition(0);
    setToolTip(whole == shown ? QString() : whole);
}

QString CenterBox::caption(const CenterEntry &entry)
{
    return entry.name.isEmpty() ? QString::number(entry.id)
                                : QStringLiteral("%1 - %2").arg(entry.id).arg(entry.name);
}

void CenterBox::setCenters(const QList<CenterEntry> &centers)
{
    const QString shown = currentText();
    m_centers = centers;
    const QSignalBlocker quiet(this);
    clear();
    for (const CenterEntry &entry : centers) {
        addItem(caption(entry), entry.id);
    }
    setCurrentIndex(-1);
    setEditText(shown);
    // A center typed or shown before the list came is shown by its entry.
    if (const auto id = chosenCenter(); id && findData(*id) >= 0) {
        setCurrentIndex(findData(*id));
        elide();
    }
}

void CenterBox::showCenter(qint32 id)
{
    const QSignalBlocker quiet(this);
    const int index = findData(id);
    setCurrentIndex(index);
    if (index < 0) {
        setEditText(QString::number(id));
    }
    elide();
}

std::optional<qint32> CenterBox::chosenCenter() const
{
    if (currentIndex() >= 0 && !m_elided.isEmpty() && currentText() == m_elided) {
        return itemData(currentIndex()).toInt();
    }
    const QString text = currentText().trimmed();
    for (const CenterEntry &entry : m_centers) {
        if (text == caption(entry) || text.compare(entry.name, Qt::CaseInsensitive) == 0) {
            return entry.id;
        }
    }
    static const QRegularExpression leadingId(QStringLiteral("^(-?\\d+)(\\s|$)"));
    const auto match = leadingId.match(text);
    bool ok = false;
    const qint32 id = match.hasMatch() ? match.captured(1).toInt(&ok) : 0;
    return ok ? std::optional<qint32>(id) : std::nullopt;
}

} // namespace tarvo::desk
