#include "model/keyedarchive.h"

#include <cmath>
#include <limits>

#include <QJsonArray>

void KeyedArchiver::encodeBool(bool value, const QString &key)
{
    m_object.insert(key, value);
}

void KeyedArchiver::encodeInt(qint32 value, const QString &key)
{
    m_object.insert(key, value);
}

void KeyedArchiver::encodeDouble(double value, const QString &key)
{
    m_object.insert(key, value);
}

void KeyedArchiver::encodeObject(const QString &value, const QString &key)
{
    m_object.insert(key, value);
}

void KeyedArchiver::encodeBytes(const QByteArray &bytes, const QString &key)
{
    QJsonArray array;
    for (const char byte : bytes)
        array.append(int(byte));
    m_object.insert(key, array);
}

bool KeyedUnarchiver::containsValueForKey(const QString &key) const
{
    return m_object.contains(key);
}

std::optional<bool> KeyedUnarchiver::decodeBoolForKey(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

namespace {
std::optional<qint32> integerOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::trunc(number) || number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(number);
}
} // namespace

std::optional<qint32> KeyedUnarchiver::decodeIntForKey(const QString &key) const
{
    return integerOf(m_object.value(key));
}

std::optional<double> KeyedUnarchiver::decodeDoubleForKey(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    return value.toDouble();
}

std::optional<QString> KeyedUnarchiver::decodeObjectForKey(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QByteArray> KeyedUnarchiver::decodeBytesForKey(const QString &key,
                                                             qsizetype maxLength) const
{
    const QJsonValue value = m_object.value(key);
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    QByteArray bytes;
    for (qsizetype i = 0; i < array.size() && i < maxLength; ++i)
        bytes.append(char(integerOf(array.at(i)).value_or(0) != 0 ? 1 : 0));
    return bytes;
}
