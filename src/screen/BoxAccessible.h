// What assistive tools see of the control's text boxes. A locked box (the fee box at rest, the
// find boxes before a search) is read-only and reported so: Qt's own interface calls every line
// edit editable, locked or not, and screen readers then offer typing where none is possible.
#pragma once

#include <QAccessibleWidget>

class QLineEdit;

namespace tarvo::screen {

// Gives box the interface below; registers it with Qt once per process.
void useBoxAccessibility(QLineEdit *box);

// Tells assistive tools that box was locked or unlocked.
void announceLock(QLineEdit *box);

class BoxAccessible : public QAccessibleWidget,
                      public QAccessibleTextInterface,
                      public QAccessibleEditableTextInterface
{
public:
    explicit BoxAccessible(QLineEdit *box);

    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text t, const QString &text) override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

private:
    QLineEdit *box() const;
    // Typing through assistive tools obeys the lock and the box's typing limit as keys do.
    void typeText(const QString &text);
};

} // namespace tarvo::screen
