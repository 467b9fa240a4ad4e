// Asks for the user name and password a server wants, with "Remember" for the keyring.
#pragma once

#include "ServerAccess.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace tarvo::desk {

class CredentialsDialog : public QDialog
{
    Q_OBJECT
public:
    // `rejected` adds a line saying that the last user name and password were refused; a
    // `note` is shown as given.
    CredentialsDialog(const QString &server, const QString &user, bool rejected,
                      const QString &note = {}, QWidget *parent = nullptr);

    CredentialsAnswer answer() const;

    // Runs the dialog modally; empty when the user cancelled.
    static std::optional<CredentialsAnswer> ask(QWidget *parent, const QString &server,
                                                const QString &user, bool rejected,
                                                const QString &note = {});

private:
    QLineEdit *m_user;
    QLineEdit *m_password;
    QCheckBox *m_remember;
};

} // namespace tarvo::desk
