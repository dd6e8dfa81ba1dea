#include "foundation/keyring_secrets.h"

#include "foundation/app_log.h"

#include <memory>
#include <QEventLoop>
#include <qt6keychain/keychain.h>
#include <QTimer>

namespace vernalo {

namespace {

struct JobResult
{
    bool finished = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString errorText;
    QString text;
};

// Runs a job to its end or the limit. The job deletes itself when it ends, so one the keyring
// never answers outlives this call harmlessly.
JobResult runJob(QKeychain::Job *job, std::chrono::milliseconds limit)
{
    auto result = std::make_shared<JobResult>();
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [result, &loop](QKeychain::Job *done) {
        result->finished = true;
        result->error = done->error();
        result->errorText = done->errorString();
        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(done))
            result->text = read->textData();
        loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    job->setAutoDelete(true);
    job->start();
    if (!result->finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!result->finished)
        result->errorText = QStringLiteral("no answer");
    return *result;
}

} // namespace

KeyringSecrets::KeyringSecrets(QString service, std::chrono::milliseconds limit)
    : m_service(std::move(service))
    , m_limit(limit)
{ }

KeyringSecrets::Outcome KeyringSecrets::read(const QString &account, QString *value) const
{
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(account);
    const JobResult result = runJob(job, m_limit);
    if (result.finished && result.error == QKeychain::EntryNotFound)
        return Outcome::missing;
    if (!result.finished || result.error != QKeychain::NoError) {
        AppLog::write(QStringLiteral("keyring read failed account=%1 error=%2")
                          .arg(account, result.errorText));
        return Outcome::unavailable;
    }
    *value = result.text;
    return Outcome::ok;
}

bool KeyringSecrets::write(const QString &account, const QString &value) const
{
    auto *job = new QKeychain::WritePasswordJob(m_service);
    job->setKey(account);
    job->setTextData(value);
    const JobResult result = runJob(job, m_limit);
    const bool ok = result.finished && result.error == QKeychain::NoError;
    if (!ok)
        AppLog::write(QStringLiteral("keyring write failed account=%1 error=%2")
                          .arg(account, result.errorText));
    return ok;
}

bool KeyringSecrets::remove(const QString &account) const
{
    auto *job = new QKeychain::DeletePasswordJob(m_service);
    job->setKey(account);
    const JobResult result = runJob(job, m_limit);
    return result.finished &&
        (result.error == QKeychain::NoError || result.error == QKeychain::EntryNotFound);
}

} // namespace vernalo
