// A center chosen from a server's list or typed as an id ("12", "12 - Harbour" or a name). Its
// width is bounded: a long name is shown shortened in the middle, so that the id stays in view.
#pragma once

#include "CenterDirectory.h"

#include <QComboBox>
#include <optional>

namespace tarvo::desk {

class CenterBox : public QComboBox
{
    Q_OBJECT
public:
    explicit CenterBox(QWidget *parent = nullptr);

    // Offers `centers`, keeping the text the box shows.
    void setCenters(const QList<CenterEntry> &centers);
    const QList<CenterEntry> &centers() const { return m_centers; }
    // Shows `id`, by its entry when the list has one.
    void showCenter(qint32 id);
    // The center the text names; empty when it names none.
    std::optional<qint32> chosenCenter() const;
    // The entry's caption, "12 - Harbour".
    static QString caption(const CenterEntry &entry);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Shows the current entry's caption shortened to the box, its whole text in the tooltip.
    void elide();

    QList<CenterEntry> m_centers;
    QString m_elided; // the current entry as shortened, while the box shows it so
};

} // namespace tarvo::desk
