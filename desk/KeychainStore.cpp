#include "KeychainStore.h"

#include <QDebug>
#include <qt6keychain/keychain.h>

namespace tarvo::desk {

namespace {

void startJob(QKeychain::Job *job, const QString &account,
              std::function<void(QKeychain::Job *)> done)
{
    job->setAutoDelete(true);
    job->setKey(account);
    QObject::connect(job, &QKeychain::Job::finished, job,
                     [done = std::move(done)](QKeychain::Job *finished) { done(finished); });
    job->start();
}

void warnOnError(QKeychain::Job *job)
{
    if (job->error() != QKeychain::NoError) {
        qWarning("keyring: %s", qUtf8Printable(job->errorString()));
    }
}

} // namespace

KeychainStore::KeychainStore(QString service) : m_service(std::move(service)) {}

void KeychainStore::read(const QString &account, std::function<void(const QString &)> done)
{
    startJob(new QKeychain::ReadPasswordJob(m_service), account,
             [done = std::move(done)](QKeychain::Job *job) {
                 // A missing entry is the ordinary case of a server never remembered.
                 if (job->error() != QKeychain::EntryNotFound) {
                     warnOnError(job);
                 }
                 done(job->error() == QKeychain::NoError
                          ? static_cast<QKeychain::ReadPasswordJob *>(job)->textData()
                          : QString());
             });
}

void KeychainStore::write(const QString &account, const QString &password)
{
    auto *job = new QKeychain::WritePasswordJob(m_service);
    job->setTextData(password);
    startJob(job, account, warnOnError);
}

void KeychainStore::remove(const QString &account)
{
    startJob(new QKeychain::DeletePasswordJob(m_service), account, warnOnError);
}

} // namespace tarvo::desk
