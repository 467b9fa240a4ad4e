// Room for the message bar: grows the window by what the bar would take from the control, so
// that a message never hides part of the lists, and gives the room back when the bar goes.
#pragma once

#include <QObject>

class QMainWindow;
class QScrollArea;

namespace tarvo::desk {

class MessageBar;

class BarRoom : public QObject
{
public:
    // `area` shows the control; none of the arguments is owned.
    BarRoom(QMainWindow &window, MessageBar &bar, QWidget &control, QScrollArea &area);

    // Shrinks the window by what it grew for the bar (before its geometry is kept).
    void giveBack();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void makeRoom();

    QMainWindow &m_window;
    MessageBar &m_bar;
    QWidget &m_control;
    QScrollArea &m_area;
    int m_room = 0; // what the window grew by for the bar
};

} // namespace tarvo::desk
