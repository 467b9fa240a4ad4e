// Table model over a VendorList's rows. It announces rows to the view lazily: appends are
// announced in one insert, and any other change of structure in one reset, when the list is
// flushed.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

namespace tarvo::list {

class VendorList;

class VendorListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit VendorListModel(VendorList &list);

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Dragged rows travel as their ids and the view they left; dropping them changes no
    // model, so the drop side of the model only names the one action a drag offers.
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;

    void addHeader(const QString &text);

    // True when the view knows every row as it stands.
    bool inSync() const;
    // Rows were reordered or removed behind the view's back.
    void structureChanged() { m_needReset = true; }
    // Announces pending appends or resets; returns true after a reset.
    bool sync();
    // Removes or inserts one row through erase or insert, announcing it precisely when the
    // view knows the rows around it (keeps the scroll place, lays out no other row).
    template <typename Eraser> void eraseRow(int row0, Eraser erase)
    {
        if (m_needReset || row0 >= m_announced) {
            erase();
            return;
        }
        beginRemoveRows({}, row0, row0);
        erase();
        --m_announced;
        endRemoveRows();
    }
    template <typename Inserter> void insertRow(int row0, Inserter insert)
    {
        if (m_needReset || row0 > m_announced) {
            insert();
            return;
        }
        beginInsertRows({}, row0, row0);
        insert();
        ++m_announced;
        endInsertRows();
    }
    void cellChanged(int row0, int column);

private:
    VendorList &m_list;
    QStringList m_headers;
    int m_announced = 0;
    bool m_needReset = false;
};

} // namespace tarvo::list
