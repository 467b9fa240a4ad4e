// The view of one vendor list: a tree view in report form whose mouse events are turned into
// the list's Click, DblClick, MouseUp and ColumnClick events.
#pragma once

#include <TarvoCenterVendor/TarvoCenterVendorExport.h>

#include <QTreeView>

namespace tarvo {

class TARVOCENTERVENDOR_EXPORT VendorView : public QTreeView
{
    Q_OBJECT
public:
    explicit VendorView(QWidget *parent = nullptr);

    // Single selection while off, Ctrl/Shift extended selection while on.
    void setMultiSelect(bool on);

Q_SIGNALS:
    // A left press and release anywhere on the viewport, rows or empty space alike.
    void Click();
    void DblClick();
    // Button code 1 left, 2 right, 4 middle; globalPos is where a pop-up belongs.
    void MouseUp(int button, const QPoint &globalPos);
    // 1-based index of the clicked header.
    void ColumnClick(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    bool m_leftPressed = false;
    bool m_afterDoubleClick = false;
};

} // namespace tarvo
