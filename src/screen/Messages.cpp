#include "screen/Messages.h"

#include <QMessageBox>

namespace tarvo::screen {

void showMessage(QWidget *parent, const QString &text, int flags, const QString &title,
                 const QString &informative)
{
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("CenterVendorMessage"));
    box.setWindowTitle(title.isEmpty() ? QString::fromLatin1(DefaultMessageTitle) : title);
    box.setText(text);
    // Server answers are shown as they came; never let a tag in them turn into markup.
    box.setTextFormat(Qt::PlainText);
    if (!informative.isEmpty()) {
        box.setInformativeText(informative);
    }
    switch (flags & 0x70) {
    case vbCritical:
        box.setIcon(QMessageBox::Critical);
        break;
    case vbInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace tarvo::screen
