#pragma once

#include <array>
#include <memory>

#include <QVariant>

class QAbstractButton;
class QWidget;

// One field of a recording as the window's controls show it. The value is of
// the kind RecordingSettings::Field::value() gives and setValue() takes: text,
// a bool, a number, or for the weekdays a QVariantList of seven bools.
class FieldEditor
{
public:
    virtual ~FieldEditor() = default;

    // Invalid when the controls have nothing to give: the field keeps its value.
    virtual QVariant value() const = 0;
    virtual void setValue(const QVariant &value) = 0;

    // The editor of the control named in a row of the field table, among the
    // children of root: one of the composite controls "startTime", "duration",
    // "shoutLang" and "days", or else the line edit, button, combo box or spin
    // box of that object name. nullptr when root has no such control.
    static std::unique_ptr<FieldEditor> forControl(QWidget *root, const char *control);
};

// The weekday buttons among root's children, Monday first (a recording's days
// are stored in that order); nullptr for a missing one.
std::array<QAbstractButton *, 7> weekdayButtons(QWidget *root);
