#pragma once

#include <QtGlobal>

// One row of a record type's static field table. The table is the one source of
// truth for a record's defaults, copying, storage and editor binding.
struct ValueInfo
{
    const char *fieldName;     // the record's field, and its key in the list file
    const char *uiName;        // the form control's outlet name; nullptr: not on the form
    const char *defaultString; // UTF-8 default of a string field; nullptr: ""
    double defaultNumber;      // default of a BOOL, int or double field
    qint32 flags;              // ValueFlags bits
};

namespace ValueFlags {
constexpr qint32 keepWhitespace = 1; // store the control's text untrimmed
constexpr qint32 notArchived = 4;    // never written to or read from the list file
} // namespace ValueFlags
