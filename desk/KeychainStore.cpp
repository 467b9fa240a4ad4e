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

void KeychainStore::read(const QString &account, std::function<void(const StoreResult &)> done)
{
    startJob(new QKeychain::ReadPasswordJob(m_service), account,
             [done = std::move(done)](QKeychain::Job *job) {
                 if (job->error() == QKeychain::NoError) {
                     done({StoreResult::Status::Ok,
                           {},
                           static_cast<QKeychain::ReadPasswordJob *>(job)->textData()});
                 } else if (job->error() == QKeychain::EntryNotFound) {
                     // The ordinary case of a server never remembered.
                     done({StoreResult::Status::NotFound, {}, {}});
                 } else {
                     warnOnError(job);
                     done({StoreResult::Status::Failed, job->errorString(), {}});
                 }
             });
}

void KeychainStore::write(const QString &account, const QString &password,
                          std::function<void(const StoreResult &)> done)
{
    auto *job = new QKeychain::WritePasswordJob(m_service);
    job->setTextData(password);
    startJob(job, account, [done = std::move(done)](QKeychain::Job *finished) {
        warnOnError(finished);
        done(finished->error() == QKeychain::NoError
                 ? StoreResult{}
                 : StoreResult{StoreResult::Status::Failed, finished->errorString(), {}});
    });
}

void KeychainStore::remove(const QString &account)
{
    startJob(new QKeychain::DeletePasswordJob(m_service), account, warnOnError);
}

} // namespace tarvo::desk
