// The window's one message bar, above the control: a message that does not stop the work, the
// commands that answer it, and technical details one click away.
#pragma once

#include <QFrame>
#include <QList>

class QAction;
class QHBoxLayout;
class QLabel;
class QToolButton;

namespace tarvo::desk {

class MessageBar : public QFrame
{
    Q_OBJECT
public:
    enum class Kind { Information, Warning, Error };
    // What a message is about, so that the end of a load clears only a load's message.
    enum class Topic { None, Load, Commit, Keyring, Connection, Changed };

    explicit MessageBar(QWidget *parent = nullptr);

    // Shows `text` in place of any message shown before, with a button per action (the bar
    // takes no ownership; the first is the default for Return). `details`, when not empty, stay
    // folded behind "Details". The bar is announced to screen readers as an alert.
    void showMessage(Topic topic, Kind kind, const QString &text,
                     const QList<QAction *> &actions = {}, const QString &details = {});
    // Hides the bar; a message shown afterwards starts folded again.
    void clear();
    // Hides the bar when its message is about `topic`.
    void clear(Topic topic);
    // What the shown message is about; None when the bar is hidden.
    Topic topic() const { return m_topic; }

    Kind kind() const { return m_kind; }
    QString text() const;
    QString details() const;
    // The buttons of the current message's actions, in their order.
    QList<QToolButton *> actionButtons() const { return m_buttons; }

private:
    void showDetails(bool shown);

    Kind m_kind = Kind::Information;
    Topic m_topic = Topic::None;
    QLabel *m_icon;
    QLabel *m_text;
    QLabel *m_details;
    QToolButton *m_detailsButton;
    QToolButton *m_close;
    QHBoxLayout *m_actions;
    QList<QToolButton *> m_buttons;
};

} // namespace tarvo::desk
