#pragma once

#include <cmath>
#include <cstring>

#include <QString>

#include "model/fielddirectory.h"
#include "model/form.h"
#include "model/keyedarchive.h"
#include "model/valueinfo.h"
#include "platform/failures.h"
#include "platform/textscan.h"

// The generic field engine: defaults, copy, storage and editor binding of a
// record's table fields, driven by one static ValueInfo table. It knows nothing
// of any particular record: Record only has to offer
//   static FieldDirectory<Record> fieldDirectory();
// Every operation visits the rows in table order and stops at the first row
// that does not match the record or the form, raising InternalInconsistency.
template<class Record> class UIValueManager
{
public:
    UIValueManager(const ValueInfo *info, quint32 count) : m_info(info), m_count(count) {}

    quint32 count() const { return m_count; }
    const ValueInfo *info() const { return m_info; }

    void initObject(Record &record) const
    {
        for (const ValueInfo &row : rows())
            applyDefault(record, row, field(row, "initObject"), "initObject");
    }

    // Drops every string value. Fields of other types are passed over silently.
    void deallocObject(Record &record) const
    {
        for (const ValueInfo &row : rows()) {
            const FieldEntry<Record> &entry = field(row, "deallocObject");
            if (const auto member = std::get_if<QString Record::*>(&entry.member))
                (record.*(*member)).clear();
        }
    }

    void copyObject(Record &target, const Record &source) const
    {
        for (const ValueInfo &row : rows()) {
            const FieldEntry<Record> &entry = field(row, "copyObject");
            std::visit(
                [&](auto member) {
                    if constexpr (std::is_same_v<decltype(member), std::monostate>)
                        unknownType(entry, "copyObject");
                    else
                        target.*member = source.*member;
                },
                entry.member);
        }
    }

    void encodeObject(const Record &record, KeyedArchiver &coder) const
    {
        for (const ValueInfo &row : rows()) {
            if (row.flags & ValueFlags::notArchived)
                continue;
            const FieldEntry<Record> &entry = field(row, "encodeObject");
            const QString key = QString::fromUtf8(row.fieldName);
            std::visit(
                [&](auto member) {
                    using Member = decltype(member);
                    if constexpr (std::is_same_v<Member, std::monostate>)
                        unknownType(entry, "encodeObject");
                    else if constexpr (std::is_same_v<Member, bool Record::*>)
                        coder.encodeBool(record.*member, key);
                    else if constexpr (std::is_same_v<Member, qint32 Record::*>)
                        coder.encodeInt(record.*member, key);
                    else if constexpr (std::is_same_v<Member, double Record::*>)
                        coder.encodeDouble(record.*member, key);
                    else
                        coder.encodeObject(record.*member, key);
                },
                entry.member);
        }
    }

    void decodeObject(Record &record, const KeyedUnarchiver &coder) const
    {
        initObject(record);
        for (const ValueInfo &row : rows()) {
            if (row.flags & ValueFlags::notArchived)
                continue;
            const FieldEntry<Record> &entry = field(row, "decodeObject");
            const QString key = QString::fromUtf8(row.fieldName);
            if (!coder.containsValueForKey(key))
                continue;
            std::visit(
                [&](auto member) {
                    using Member = decltype(member);
                    if constexpr (std::is_same_v<Member, std::monostate>)
                        unknownType(entry, "decodeObject");
                    else if constexpr (std::is_same_v<Member, bool Record::*>)
                        assignIf(record.*member, coder.decodeBoolForKey(key));
                    else if constexpr (std::is_same_v<Member, qint32 Record::*>)
                        assignIf(record.*member, coder.decodeIntForKey(key));
                    else if constexpr (std::is_same_v<Member, double Record::*>)
                        assignIf(record.*member, coder.decodeDoubleForKey(key));
                    else
                        assignIf(record.*member, coder.decodeObjectForKey(key));
                },
                entry.member);
        }
    }

    void loadObject(const Record &record, const Form &form) const
    {
        for (const ValueInfo &row : rows()) {
            if (!row.uiName)
                continue;
            const FieldEntry<Record> &entry = field(row, "loadObject");
            FormControl *control = controlFor(row, form, "loadObject");
            if (auto *button = dynamic_cast<ButtonControl *>(control)) {
                button->setState(record.*booleanMember(entry, "loadObject") ? ButtonControl::On
                                                                            : ButtonControl::Off);
                continue;
            }
            auto *value = static_cast<ValueControl *>(control);
            if (const auto m = std::get_if<qint32 Record::*>(&entry.member))
                value->setIntValue(record.**m);
            else if (const auto d = std::get_if<double Record::*>(&entry.member))
                value->setDoubleValue(record.**d);
            else if (const auto s = std::get_if<QString Record::*>(&entry.member))
                value->setStringValue(record.**s);
            else
                unknownType(entry, "loadObject");
        }
    }

    void saveUI(const Form &form, Record &record) const
    {
        for (const ValueInfo &row : rows()) {
            if (!row.uiName)
                continue;
            const FieldEntry<Record> &entry = field(row, "saveUI");
            FormControl *control = controlFor(row, form, "saveUI");
            if (auto *button = dynamic_cast<ButtonControl *>(control)) {
                record.*booleanMember(entry, "saveUI") = button->state() == ButtonControl::On;
                continue;
            }
            auto *value = static_cast<ValueControl *>(control);
            if (const auto m = std::get_if<qint32 Record::*>(&entry.member)) {
                record.**m = value->intValue();
            } else if (const auto d = std::get_if<double Record::*>(&entry.member)) {
                record.**d = value->doubleValue();
            } else if (const auto s = std::get_if<QString Record::*>(&entry.member)) {
                const QString text = value->stringValue();
                record.**s = (row.flags & ValueFlags::keepWhitespace)
                                 ? text
                                 : TextScan::trimInlineWhitespace(text);
            } else {
                unknownType(entry, "saveUI");
            }
        }
    }

private:
    std::span<const ValueInfo> rows() const { return {m_info, m_count}; }

    [[noreturn]] static void fail(const char *operation, const QString &description)
    {
        throw InternalInconsistency(QString::fromLatin1(operation), description);
    }

    [[noreturn]] static void unknownType(const FieldEntry<Record> &entry, const char *operation)
    {
        fail(operation, QStringLiteral("Unknown type: %1").arg(QString::fromUtf8(entry.typeCode)));
    }

    static const FieldEntry<Record> &field(const ValueInfo &row, const char *operation)
    {
        const FieldEntry<Record> *entry = findField(Record::fieldDirectory(), row.fieldName);
        if (!entry)
            fail(operation, QStringLiteral("Instance variable %1 not found")
                                .arg(QString::fromUtf8(row.fieldName)));
        return *entry;
    }

    static FormControl *controlFor(const ValueInfo &row, const Form &form, const char *operation)
    {
        FormControl *control = form.controlNamed(row.uiName);
        if (!control ||
            (!dynamic_cast<ButtonControl *>(control) && !dynamic_cast<ValueControl *>(control)))
            fail(operation, QStringLiteral("UI Instance variable not found"));
        return control;
    }

    static bool Record::*booleanMember(const FieldEntry<Record> &entry, const char *operation)
    {
        const auto member = std::get_if<bool Record::*>(&entry.member);
        if (!member)
            fail(operation, QStringLiteral("Value for button should be BOOL, is actually %1")
                                .arg(QString::fromUtf8(entry.typeCode)));
        return *member;
    }

    static void applyDefault(Record &record, const ValueInfo &row, const FieldEntry<Record> &entry,
                             const char *operation)
    {
        std::visit(
            [&](auto member) {
                using Member = decltype(member);
                if constexpr (std::is_same_v<Member, std::monostate>) {
                    unknownType(entry, operation);
                } else if constexpr (std::is_same_v<Member, bool Record::*>) {
                    // The low 8 bits of the truncated number, as a signed byte would hold it.
                    record.*member = (qint64(std::trunc(row.defaultNumber)) & 0xff) != 0;
                } else if constexpr (std::is_same_v<Member, qint32 Record::*>) {
                    record.*member = qint32(std::trunc(row.defaultNumber));
                } else if constexpr (std::is_same_v<Member, double Record::*>) {
                    record.*member = row.defaultNumber;
                } else {
                    record.*member = row.defaultString ? QString::fromUtf8(row.defaultString)
                                                       : QStringLiteral("");
                }
            },
            entry.member);
    }

    template<class T> static void assignIf(T &field, const std::optional<T> &value)
    {
        if (value)
            field = *value;
    }

    const ValueInfo *m_info;
    quint32 m_count;
};
