#pragma once

#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Decrypts HLS segments of METHOD=AES-128: AES-128-CBC with PKCS#7 padding,
// through OpenSSL.
namespace SegmentCipher {

// The IV of a segment whose key gives none: its media sequence number as a
// 16-byte big-endian integer.
QByteArray sequenceIv(qint64 sequence);

// The plain segment, or nullopt with *error set (a key or IV that is not 16
// bytes, a length that is not whole blocks, bad padding).
std::optional<QByteArray> decrypt(QByteArrayView cipherText, QByteArrayView key, QByteArrayView iv,
                                  QString *error);

} // namespace SegmentCipher
