#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// An answer of the web server: its status and JSON body, empty for none.
struct WebReply
{
    int status = 200;
    QByteArray body;

    static WebReply json(int status, const QJsonValue &value)
    {
        const QJsonDocument document =
            value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
        return {status, document.toJson(QJsonDocument::Compact)};
    }
    // A sentence for a person, and the field to mend when there is one.
    static WebReply error(int status, const QString &message, const QString &field = {})
    {
        QJsonObject object{{QStringLiteral("error"), message}};
        if (!field.isEmpty())
            object.insert(QStringLiteral("field"), field);
        return json(status, object);
    }
};
