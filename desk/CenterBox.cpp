#include "CenterBox.h"

#include <QLineEdit>
#include <QRegularExpression>

namespace tarvo::desk {

CenterBox::CenterBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    setMinimumContentsLength(16);
    lineEdit()->setPlaceholderText(tr("center id"));
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
}

std::optional<qint32> CenterBox::chosenCenter() const
{
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
