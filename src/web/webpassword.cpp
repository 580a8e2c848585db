#include "web/webpassword.h"

#include <sodium.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString hashKey = QStringLiteral("web/passwordHash");

QSettings configuration()
{
    return QSettings(QStringLiteral("Skyvane"), QStringLiteral("Skyvane"));
}

// libsodium's "interactive" cost: about a tenth of a second and 64 MiB, which
// a Raspberry Pi affords at each login and a guesser pays at each guess.
constexpr unsigned long long opsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr size_t memLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

} // namespace

namespace WebPassword {

std::optional<QByteArray> storedHash()
{
    const QByteArray stored = configuration().value(hashKey).toString().toLatin1();
    return stored.isEmpty() ? std::nullopt : std::optional(stored);
}

QString store(const QByteArray &password)
{
    const QByteArray hashed = hash(password);
    if (hashed.isEmpty())
        return QStringLiteral("the password could not be hashed (out of memory)");
    QSettings settings = configuration();
    // Made private before the hash is in it; rewrites keep the file's permissions.
    QFile file(settings.fileName());
    if (!file.exists() && QDir().mkpath(QFileInfo(file).absolutePath()) &&
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.close();
    if (!file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return QStringLiteral("%1 cannot be made private to its owner").arg(settings.fileName());
    settings.setValue(hashKey, QString::fromLatin1(hashed));
    settings.sync();
    if (settings.status() != QSettings::NoError)
        return QStringLiteral("%1 cannot be written").arg(settings.fileName());
    return {};
}

QByteArray hash(const QByteArray &password)
{
    if (sodium_init() < 0)
        return {};
    char text[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(text, password.constData(), size_t(password.size()), opsLimit,
                          memLimit) != 0)
        return {};
    return QByteArray(text);
}

bool matches(const QByteArray &hash, const QByteArray &password)
{
    if (sodium_init() < 0 || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    return crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                    size_t(password.size())) == 0;
}

} // namespace WebPassword
