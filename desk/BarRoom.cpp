#include "BarRoom.h"

#include "MessageBar.h"

#include <QEvent>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <algorithm>

namespace tarvo::desk {

BarRoom::BarRoom(QMainWindow &window, MessageBar &bar, QWidget &control, QScrollArea &area)
    : QObject(&window), m_window(window), m_bar(bar), m_control(control), m_area(area)
{
    m_bar.installEventFilter(this);
}

bool BarRoom::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_bar) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Resize:
            makeRoom();
            break;
        case QEvent::Hide:
            giveBack();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void BarRoom::giveBack()
{
    if (m_room > 0 && !m_window.isMaximized() && !m_window.isFullScreen()) {
        m_window.resize(m_window.width(), m_window.height() - m_room);
    }
    m_room = 0;
}

void BarRoom::makeRoom()
{
    // Measured once the layout has given the bar its height at this width (its wrapped text
    // decides it, and may take a second pass): only what the control would lose, so a window
    // the user made taller already has room, and never more than the bar itself takes.
    QTimer::singleShot(0, this, [this] {
        if (!m_bar.isVisible() || m_window.isMaximized() || m_window.isFullScreen()) {
            return;
        }
        int grow =
            std::min(m_control.height() - m_area.viewport()->height(), m_bar.height() - m_room);
        if (const QScreen *where = m_window.screen(); where != nullptr) {
            grow = std::min(grow, where->availableGeometry().bottom() -
                                      m_window.frameGeometry().bottom());
        }
        if (grow > 0) {
            m_room += grow;
            m_window.resize(m_window.width(), m_window.height() + grow);
        }
    });
}

} // namespace tarvo::desk
