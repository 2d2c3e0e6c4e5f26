#include "tools/host/Keyring.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

#include <string.h>

namespace picvoxhost {

namespace {

const QString kService = QStringLiteral("picvox-host");

// Runs a job to its end (or kWaitMs), with events served meanwhile; true when it succeeded. The
// job deletes itself when it finishes, also after we stopped waiting.
bool runJob(QKeychain::Job* job, QByteArray* data = nullptr) {
    job->setAutoDelete(true);
    // Never a plain-text file in place of the secret store.
    job->setInsecureFallback(false);
    QEventLoop loop;
    bool ok = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        ok = done->error() == QKeychain::NoError;
        if (ok && data) {
            if (auto* reader = qobject_cast<QKeychain::ReadPasswordJob*>(done))
                *data = reader->binaryData();
        }
        loop.quit();
    });
    QTimer::singleShot(DesktopKeyring::kWaitMs, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    return ok;
}

}  // namespace

std::string keyringItem(const std::string& recorder, const std::string& realm) {
    return recorder + " realm=\"" + realm + "\"";
}

std::optional<HostLogin> DesktopKeyring::read(const std::string& item) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(QString::fromStdString(item));
    QByteArray data;
    if (!runJob(job, &data))
        return std::nullopt;
    // "user\npassword"
    const qsizetype newline = data.indexOf('\n');
    std::optional<HostLogin> login;
    if (newline > 0)
        login = HostLogin{data.left(newline).toStdString(), data.mid(newline + 1).toStdString()};
    data.fill('\0');
    return login;
}

bool DesktopKeyring::write(const std::string& item, const HostLogin& login) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(QString::fromStdString(item));
    QByteArray data = QByteArray::fromStdString(login.user + "\n" + login.password);
    job->setBinaryData(data);
    data.fill('\0');
    return runJob(job);
}

void DesktopKeyring::forget(const std::string& item) {
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(QString::fromStdString(item));
    runJob(job);
}

}  // namespace picvoxhost
