// Remembered passwords in the desktop's keyring (Secret Service, KWallet) through QtKeychain.
#pragma once

#include "Credentials.h"

namespace tarvo::desk {

class KeychainStore : public PasswordStore
{
public:
    // Entries are filed under `service`, one per account.
    explicit KeychainStore(QString service);

    // Without a keyring the answer is an empty password, never an error to the user.
    void read(const QString &account, std::function<void(const QString &)> done) override;
    void write(const QString &account, const QString &password) override;
    void remove(const QString &account) override;

private:
    QString m_service;
};

} // namespace tarvo::desk
