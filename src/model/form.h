#pragma once

#include <QString>

// What the field engine needs of an editor form: find a control by its outlet
// name, and read or write it. The window adapts Qt widgets to this; tests use
// plain fakes.
class FormControl
{
public:
    virtual ~FormControl() = default;
};

// A check box or toggle button.
class ButtonControl : public FormControl
{
public:
    static constexpr int Mixed = -1;
    static constexpr int Off = 0;
    static constexpr int On = 1;

    virtual int state() const = 0;
    virtual void setState(int state) = 0;
};

// A text field or combo box: its text, read and written as text or a number.
// A combo box counts as a value control; the engine never selects its items.
class ValueControl : public FormControl
{
public:
    virtual QString stringValue() const = 0;
    virtual void setStringValue(const QString &value) = 0;
    virtual qint32 intValue() const = 0;
    virtual void setIntValue(qint32 value) = 0;
    virtual double doubleValue() const = 0;
    virtual void setDoubleValue(double value) = 0;
};

class Form
{
public:
    virtual ~Form() = default;
    // nullptr when the form has no control of that outlet name.
    virtual FormControl *controlNamed(const char *outletName) const = 0;
};
