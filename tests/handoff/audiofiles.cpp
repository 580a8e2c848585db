#include "audiofiles.h"

#include <QList>
#include <QtEndian>

namespace {

void appendLittleEndian(QByteArray &out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// The Ogg checksum: CRC-32 with polynomial 0x04C11DB7, no reflection, no final xor.
quint32 oggChecksum(const QByteArray &page)
{
    quint32 crc = 0;
    for (const char byte : page) {
        crc ^= quint32(quint8(byte)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

QByteArray oggPage(const QList<QByteArray> &packets, quint8 flags, quint64 granule,
                   quint32 sequence)
{
    QByteArray lacing;
    QByteArray body;
    for (const QByteArray &packet : packets) {
        // A packet is laced as runs of 255 ended by one value below 255.
        lacing.append(QByteArray(packet.size() / 255, char(255)));
        lacing.append(char(packet.size() % 255));
        body.append(packet);
    }
    QByteArray page("OggS");
    page.append(char(0)); // stream structure version
    page.append(char(flags));
    appendLittleEndian(page, granule, 8);
    appendLittleEndian(page, 0x5379u, 4); // serial number
    appendLittleEndian(page, sequence, 4);
    appendLittleEndian(page, 0, 4); // checksum, filled in below
    page.append(char(lacing.size()));
    page.append(lacing);
    page.append(body);
    const quint32 checksum = oggChecksum(page);
    qToLittleEndian(checksum, page.data() + 22);
    return page;
}

QByteArray vorbisIdentification()
{
    QByteArray header("\x01vorbis");
    appendLittleEndian(header, 0, 4);      // version
    header.append(char(2));                // channels
    appendLittleEndian(header, 44100, 4);  // sample rate
    appendLittleEndian(header, 0, 4);      // maximum bit rate
    appendLittleEndian(header, 128000, 4); // nominal bit rate
    appendLittleEndian(header, 0, 4);      // minimum bit rate
    header.append(char(0xb8));             // block sizes 2^8 and 2^11
    header.append(char(1));                // framing bit
    return header;
}

QByteArray vorbisComments()
{
    const QByteArray vendor("Skyvane test");
    QByteArray header("\x03vorbis");
    appendLittleEndian(header, quint64(vendor.size()), 4);
    header.append(vendor);
    appendLittleEndian(header, 0, 4); // no comments yet
    header.append(char(1));           // framing bit
    return header;
}

} // namespace

namespace AudioFiles {

QByteArray mp3(int frames)
{
    // 144 * 128000 / 44100 bytes per frame, without padding.
    constexpr qsizetype frameSize = 417;
    QByteArray frame(frameSize, '\0');
    frame[0] = char(0xff);
    frame[1] = char(0xfb);
    frame[2] = char(0x90);
    frame[3] = char(0x64);
    return frame.repeated(frames);
}

QByteArray oggVorbis()
{
    constexpr quint8 firstPage = 0x02;
    constexpr quint8 lastPage = 0x04;
    const QByteArray setup = QByteArray("\x05vorbis") + QByteArray(32, '\0');
    return oggPage({vorbisIdentification()}, firstPage, 0, 0) +
           oggPage({vorbisComments(), setup}, 0, 0, 1) +
           oggPage({QByteArray(300, '\0')}, lastPage, 44100, 2);
}

} // namespace AudioFiles
