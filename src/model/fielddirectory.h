#pragma once

#include <cstring>
#include <span>
#include <variant>

#include <QString>

// A record type's static field directory: each field name (which is also its
// archive key, so it never changes) with its type code and typed access.
namespace TypeCode {
constexpr const char *boolean = "c";
constexpr const char *integer = "i";
constexpr const char *real = "d";
constexpr const char *string = "@\"NSString\"";
} // namespace TypeCode

template<class Record> struct FieldEntry
{
    using Member = std::variant<std::monostate, bool Record::*, qint32 Record::*, double Record::*,
                                QString Record::*>;

    const char *name;
    const char *typeCode;
    Member member; // std::monostate for fields of a type the engine does not handle

    static constexpr FieldEntry of(const char *name, bool Record::*m)
    {
        return {name, TypeCode::boolean, m};
    }
    static constexpr FieldEntry of(const char *name, qint32 Record::*m)
    {
        return {name, TypeCode::integer, m};
    }
    static constexpr FieldEntry of(const char *name, double Record::*m)
    {
        return {name, TypeCode::real, m};
    }
    static constexpr FieldEntry of(const char *name, QString Record::*m)
    {
        return {name, TypeCode::string, m};
    }
    // A field the engine cannot move (an array, a mutable log): known by name only.
    static constexpr FieldEntry opaque(const char *name, const char *typeCode)
    {
        return {name, typeCode, std::monostate{}};
    }
};

template<class Record> using FieldDirectory = std::span<const FieldEntry<Record>>;

template<class Record>
const FieldEntry<Record> *findField(FieldDirectory<Record> directory, const char *name)
{
    for (const FieldEntry<Record> &entry : directory) {
        if (std::strcmp(entry.name, name) == 0)
            return &entry;
    }
    return nullptr;
}
