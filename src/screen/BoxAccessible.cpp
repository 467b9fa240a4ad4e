#include "screen/BoxAccessible.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>

namespace tarvo::screen {

namespace {

const char *const BoxProperty = "tarvoAccessibleBox";

QAccessibleInterface *boxFactory(const QString &className, QObject *object)
{
    // Only the control's own boxes: the host's line edits keep Qt's interface.
    if (className == QLatin1String("QLineEdit") && object != nullptr &&
        object->property(BoxProperty).toBool()) {
        return new BoxAccessible(static_cast<QLineEdit *>(object));
    }
    return nullptr;
}

} // namespace

void useBoxAccessibility(QLineEdit *box)
{
    static const bool installed = [] {
        QAccessible::installFactory(boxFactory);
        return true;
    }();
    (void)installed;
    box->setProperty(BoxProperty, true);
}

void announceLock(QLineEdit *box)
{
    QAccessible::State changed;
    changed.editable = true;
    changed.readOnly = true;
    QAccessibleStateChangeEvent event(box, changed);
    QAccessible::updateAccessibility(&event);
}

BoxAccessible::BoxAccessible(QLineEdit *box) : QAccessibleWidget(box, QAccessible::EditableText) {}

QLineEdit *BoxAccessible::box() const
{
    return static_cast<QLineEdit *>(widget());
}

QAccessible::State BoxAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = box()->isReadOnly();
    s.editable = !s.readOnly;
    s.selectableText = true;
    return s;
}

QString BoxAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value) {
        return box()->text();
    }
    return QAccessibleWidget::text(t);
}

void BoxAccessible::setText(QAccessible::Text t, const QString &text)
{
    if (t != QAccessible::Value) {
        QAccessibleWidget::setText(t, text);
        return;
    }
    typeText(text);
}

void *BoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface) {
        return static_cast<QAccessibleTextInterface *>(this);
    }
    if (type == QAccessible::EditableTextInterface && !box()->isReadOnly()) {
        return static_cast<QAccessibleEditableTextInterface *>(this);
    }
    return QAccessibleWidget::interface_cast(type);
}

void BoxAccessible::typeText(const QString &text)
{
    if (box()->isReadOnly() || !box()->isEnabled()) {
        return;
    }
    QString typed = text;
    int position = 0;
    if (box()->validator() != nullptr &&
        box()->validator()->validate(typed, position) != QValidator::Acceptable) {
        return;
    }
    box()->setText(typed);
}

void BoxAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = 0;
    if (selectionIndex == 0 && box()->hasSelectedText()) {
        *startOffset = box()->selectionStart();
        *endOffset = *startOffset + box()->selectionLength();
    }
}

int BoxAccessible::selectionCount() const
{
    return box()->hasSelectedText() ? 1 : 0;
}

void BoxAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void BoxAccessible::removeSelection(int)
{
    box()->deselect();
}

void BoxAccessible::setSelection(int, int startOffset, int endOffset)
{
    box()->setSelection(startOffset, endOffset - startOffset);
}

int BoxAccessible::cursorPosition() const
{
    return box()->cursorPosition();
}

void BoxAccessible::setCursorPosition(int position)
{
    box()->setCursorPosition(position);
}

QString BoxAccessible::text(int startOffset, int endOffset) const
{
    if (startOffset > endOffset) {
        return {};
    }
    return box()->text().mid(startOffset, endOffset - startOffset);
}

int BoxAccessible::characterCount() const
{
    return static_cast<int>(box()->text().size());
}

QRect BoxAccessible::characterRect(int offset) const
{
    const QString text = box()->text();
    if (offset < 0 || offset >= text.size()) {
        return {};
    }
    // Where the box draws its text: inside its frame and margins, scrolled to the cursor only
    // when the text is wider than the box, which the control's short texts never are.
    QStyleOptionFrame option;
    option.initFrom(box());
    option.lineWidth = box()->hasFrame() ? 1 : 0;
    const QRect contents =
        box()->style()->subElementRect(QStyle::SE_LineEditContents, &option, box()) -
        box()->textMargins();
    const QFontMetrics metrics = box()->fontMetrics();
    const int left = contents.left() + metrics.horizontalAdvance(text.left(offset));
    const QRect local(left, contents.top(), metrics.horizontalAdvance(text.at(offset)),
                      contents.height());
    return QRect(box()->mapToGlobal(local.topLeft()), local.size());
}

int BoxAccessible::offsetAtPoint(const QPoint &point) const
{
    return box()->cursorPositionAt(box()->mapFromGlobal(point));
}

QString BoxAccessible::attributes(int, int *startOffset, int *endOffset) const
{
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

void BoxAccessible::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, {});
}

void BoxAccessible::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void BoxAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    QString replaced = box()->text();
    if (startOffset < 0 || startOffset > endOffset || endOffset > replaced.size()) {
        return;
    }
    typeText(replaced.replace(startOffset, endOffset - startOffset, text));
}

} // namespace tarvo::screen
