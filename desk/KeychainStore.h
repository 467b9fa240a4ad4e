// Remembered passwords in the desktop's keyring (Secret Service, KWallet) through QtKeychain.
#pragma once

#include "Credentials.h"

namespace tarvo::desk {

class KeychainStore : public PasswordStore
{
public:
    // Entries are filed under `service`, one per account.
    explicit KeychainStore(QString service);

    // Without a keyring every answer is Failed, with QtKeychain's reason.
    void read(const QString &account, std::function<void(const StoreResult &)> done) override;
    void write(const QString &account, const QString &password,
               std::function<void(const StoreResult &)> done) override;
    void remove(const QString &account) override;

private:
    QString m_service;
};

} // namespace tarvo::desk
