#include "merge/CollisionDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tarvo::merge {

namespace {

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setToolTip(text);
    return item;
}

} // namespace

CollisionDialog::CollisionDialog(const std::vector<CollisionRow> &rows, const QString &reason,
                                 QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("CollisionDialog"));
    setWindowTitle(tr("Changed by someone else"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(
        tr("Someone else changed %n of the vendors you changed since you loaded this center. "
           "Nothing was saved and all your changes are kept. Choose for each row whose value "
           "stays; your other changes are committed with the next \"Commit to Database\".",
           nullptr, static_cast<int>(rows.size())),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    if (!reason.isEmpty()) {
        auto *said = new QLabel(this);
        said->setObjectName(QStringLiteral("lblServerReason"));
        said->setWordWrap(true);
        said->setTextFormat(Qt::PlainText);
        said->setText(tr("The server said: %1").arg(reason));
        layout->addWidget(said);
    }

    auto *table = new QTableWidget(static_cast<int>(rows.size()), 6, this);
    table->setObjectName(QStringLiteral("tblCollisions"));
    table->setHorizontalHeaderLabels(
        {tr("ID"), tr("Name"), tr("Mine"), tr("Theirs"), tr("Changed by"), tr("Keep")});
    table->verticalHeader()->hide();
    table->setSelectionMode(QAbstractItemView::NoSelection);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const CollisionRow &row = rows[static_cast<std::size_t>(r)];
        table->setItem(r, 0, cell(row.vendorId));
        table->setItem(r, 1, cell(row.name));
        table->setItem(r, 2, cell(row.mine));
        table->setItem(r, 3, cell(row.theirs));
        table->setItem(r, 4, cell(row.changedBy.isEmpty() ? tr("not known") : row.changedBy));
        auto *box = new QComboBox(table);
        box->setObjectName(QStringLiteral("choice_%1").arg(row.vendorId));
        box->addItem(tr("Keep mine"));
        box->addItem(tr("Take theirs"));
        box->setAccessibleName(tr("Keep for vendor %1").arg(row.vendorId));
        table->setCellWidget(r, 5, box);
        m_boxes.push_back(box);
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table);

    auto *buttons = new QDialogButtonBox(this);
    auto *mine = buttons->addButton(tr("Keep all mine"), QDialogButtonBox::ActionRole);
    mine->setObjectName(QStringLiteral("cmdKeepAllMine"));
    auto *theirs = buttons->addButton(tr("Take all theirs"), QDialogButtonBox::ActionRole);
    theirs->setObjectName(QStringLiteral("cmdTakeAllTheirs"));
    auto *apply = buttons->addButton(tr("Apply choices"), QDialogButtonBox::AcceptRole);
    apply->setObjectName(QStringLiteral("cmdApplyChoices"));
    apply->setDefault(true);
    connect(mine, &QPushButton::clicked, this, [this] { chooseAll(replay::Choice::KeepMine); });
    connect(theirs, &QPushButton::clicked, this, [this] { chooseAll(replay::Choice::TakeTheirs); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(720, 160 + 32 * std::min<int>(static_cast<int>(rows.size()), 10));
}

void CollisionDialog::chooseAll(replay::Choice choice)
{
    for (auto *box : m_boxes) {
        box->setCurrentIndex(choice == replay::Choice::KeepMine ? 0 : 1);
    }
    accept();
}

std::vector<replay::Choice> CollisionDialog::choices() const
{
    std::vector<replay::Choice> result;
    for (auto *box : m_boxes) {
        result.push_back(box->currentIndex() == 1 ? replay::Choice::TakeTheirs
                                                  : replay::Choice::KeepMine);
    }
    return result;
}

} // namespace tarvo::merge
