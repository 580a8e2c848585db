#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

// Stream titles are decoded with the encoding the recording names, by the
// numbers of the reference platform's text-encoding list (UTF-8 is 134217984),
// which stored recordings keep. ICU does the decoding.
namespace TextEncodings {

constexpr quint32 utf8 = 134217984;

struct Encoding
{
    quint32 number;
    QString displayName;
};

// The encodings on offer, UTF-8 first, in a stable order: those of the table
// that ICU can open here.
const QList<Encoding> &available();

// Decodes exactly these bytes (no byte-order-mark handling). Bytes that are not
// valid in the encoding, or an unknown number, decode as ISO-8859-1 instead,
// which accepts every byte.
QString decode(QByteArrayView bytes, quint32 encodingNumber);

} // namespace TextEncodings
