#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// The web page's password. Only a salted slow hash of it is kept (Argon2id,
// through libsodium), in Skyvane's configuration file, which is then made
// readable by its owner alone.
namespace WebPassword {

// The stored hash; none when no password was set.
std::optional<QByteArray> storedHash();
// Hashes and stores the password. Empty, or why it could not be stored.
QString store(const QByteArray &password);

QByteArray hash(const QByteArray &password);
// Takes as long as hashing, whatever the password; false for a hash that
// is not one.
bool matches(const QByteArray &hash, const QByteArray &password);

} // namespace WebPassword
