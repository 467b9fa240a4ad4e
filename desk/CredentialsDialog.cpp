#include "CredentialsDialog.h"

#include "ConnectionDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvo::desk {

CredentialsDialog::CredentialsDialog(const QString &server, const QString &user, bool rejected,
                                     const QString &note, QWidget *parent)
    : QDialog(parent), m_user(new QLineEdit(user, this)), m_password(new QLineEdit(this)),
      m_remember(new QCheckBox(tr("&Remember"), this))
{
    setWindowTitle(tr("Sign in"));
    m_user->setObjectName(QStringLiteral("user"));
    m_password->setObjectName(QStringLiteral("password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_remember->setObjectName(QStringLiteral("remember"));
    m_remember->setToolTip(tr("Keep the password in the desktop's keyring"));

    auto *layout = new QVBoxLayout(this);
    auto *lead = new QLabel(tr("%1 asks for a user name and password.").arg(server), this);
    lead->setWordWrap(true);
    layout->addWidget(lead);
    if (rejected) {
        auto *refused = new QLabel(tr("The user name or password was not accepted."), this);
        refused->setObjectName(QStringLiteral("refused"));
        layout->addWidget(refused);
    }
    if (!note.isEmpty()) {
        auto *noted = new QLabel(note, this);
        noted->setObjectName(QStringLiteral("note"));
        noted->setWordWrap(true);
        layout->addWidget(noted);
    }
    auto *form = new QFormLayout;
    form->addRow(tr("&User name:"), m_user);
    form->addRow(tr("&Password:"), m_password);
    form->addRow(QString(), m_remember);
    layout->addLayout(form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Sign in"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    (user.isEmpty() ? m_user : m_password)->setFocus();
}

CredentialsAnswer CredentialsDialog::answer() const
{
    return {{m_user->text(), m_password->text()}, m_remember->isChecked()};
}

std::optional<CredentialsAnswer> CredentialsDialog::ask(QWidget *parent, const QString &server,
                                                        const QString &user, bool rejected,
                                                        const QString &note)
{
    CredentialsDialog dialog(server, user, rejected, note, parent);
    centreOn(dialog, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.answer();
}

} // namespace tarvo::desk
