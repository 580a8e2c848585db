#pragma once

#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The keyed coder of one record: a JSON object whose keys are the record's
// archive keys. Decoding is forgiving: a value of the wrong JSON type reads as
// absent, so the field keeps its default.
class KeyedArchiver
{
public:
    void encodeBool(bool value, const QString &key);
    void encodeInt(qint32 value, const QString &key);
    void encodeDouble(double value, const QString &key);
    void encodeObject(const QString &value, const QString &key);
    // Bytes of 0 or 1 flags, stored as an array of integers.
    void encodeBytes(const QByteArray &bytes, const QString &key);

    const QJsonObject &object() const { return m_object; }

private:
    QJsonObject m_object;
};

class KeyedUnarchiver
{
public:
    explicit KeyedUnarchiver(QJsonObject object) : m_object(std::move(object)) {}

    bool containsValueForKey(const QString &key) const;
    std::optional<bool> decodeBoolForKey(const QString &key) const;
    std::optional<qint32> decodeIntForKey(const QString &key) const;
    std::optional<double> decodeDoubleForKey(const QString &key) const;
    std::optional<QString> decodeObjectForKey(const QString &key) const;
    // At most maxLength entries; an entry that is not an integer reads as 0.
    std::optional<QByteArray> decodeBytesForKey(const QString &key, qsizetype maxLength) const;

private:
    QJsonObject m_object;
};
