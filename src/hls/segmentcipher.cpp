#include "hls/segmentcipher.h"

#include <algorithm>
#include <memory>

#include <openssl/evp.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype blockSize = 16; // AES's block, key and IV alike
// EVP counts in int: a segment goes through in pieces of whole blocks.
constexpr qsizetype pieceSize = 1024 * 1024;

struct CipherContextDeleter
{
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContextPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

const unsigned char *bytesOf(QByteArrayView bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.data());
}

std::optional<QByteArray> refused(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

QByteArray SegmentCipher::sequenceIv(qint64 sequence)
{
    QByteArray iv(blockSize, '\0');
    auto value = quint64(sequence);
    for (qsizetype i = blockSize - 1; i >= blockSize - 8; --i) {
        iv[i] = char(value & 0xff);
        value >>= 8;
    }
    return iv;
}

std::optional<QByteArray> SegmentCipher::decrypt(QByteArrayView cipherText, QByteArrayView key,
                                                 QByteArrayView iv, QString *error)
{
    if (key.size() != blockSize)
        return refused(error, u"The segment's key is %1 bytes long, not 16."_s.arg(key.size()));
    if (iv.size() != blockSize)
        return refused(error, u"The segment's IV is %1 bytes long, not 16."_s.arg(iv.size()));
    if (cipherText.isEmpty() || cipherText.size() % blockSize != 0)
        return refused(error,
                       u"The encrypted segment is %1 bytes long, not whole AES blocks."_s.arg(
                           cipherText.size()));
    const CipherContextPtr context(EVP_CIPHER_CTX_new());
    if (!context || EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, bytesOf(key),
                                       bytesOf(iv)) != 1)
        return refused(error, u"OpenSSL could not start AES-128 decryption."_s);
    // OpenSSL asks for a block's room beyond what it takes.
    QByteArray plain(cipherText.size() + blockSize, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(plain.data());
    qsizetype written = 0;
    for (qsizetype at = 0; at < cipherText.size(); at += pieceSize) {
        const QByteArrayView piece =
            cipherText.sliced(at, std::min(pieceSize, cipherText.size() - at));
        int count = 0;
        if (EVP_DecryptUpdate(context.get(), out + written, &count, bytesOf(piece),
                              int(piece.size())) != 1)
            return refused(error, u"OpenSSL could not decrypt the segment."_s);
        written += count;
    }
    int count = 0;
    if (EVP_DecryptFinal_ex(context.get(), out + written, &count) != 1)
        return refused(error,
                       u"The segment does not decrypt with its key: its padding is wrong."_s);
    plain.truncate(written + count);
    return plain;
}
