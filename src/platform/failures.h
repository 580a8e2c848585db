#pragma once

#include <stdexcept>
#include <string>

#include <QString>

// A broken consistency between tables, records and forms: a programming error,
// raised with the name of the operation that found it.
class InternalInconsistency : public std::logic_error
{
public:
    InternalInconsistency(QString operation, QString description)
        : std::logic_error((operation + QStringLiteral(": ") + description).toStdString()),
          m_operation(std::move(operation)), m_description(std::move(description))
    {}

    const QString &operation() const { return m_operation; }
    const QString &description() const { return m_description; }

private:
    QString m_operation;
    QString m_description;
};

// A named failure of the data path ("FileOpenFailed", "LostStreamSync",
// "FileAddFailed", ...). The capture's one guard catches it and logs the reason.
class NamedFailure : public std::runtime_error
{
public:
    NamedFailure(QString name, QString reason)
        : std::runtime_error(reason.toStdString()), m_name(std::move(name)),
          m_reason(std::move(reason))
    {}

    const QString &name() const { return m_name; }
    const QString &reason() const { return m_reason; }

private:
    QString m_name;
    QString m_reason;
};
