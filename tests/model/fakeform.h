#pragma once

#include <map>
#include <memory>
#include <string>

#include "model/form.h"
#include "platform/textscan.h"

// Plain stand-ins for the window's controls, so the field engine can be driven
// without widgets.
class FakeButton : public ButtonControl
{
public:
    int state() const override { return m_state; }
    void setState(int state) override { m_state = state; }

private:
    int m_state = Off;
};

class FakeTextField : public ValueControl
{
public:
    QString stringValue() const override { return m_text; }
    void setStringValue(const QString &value) override { m_text = value; }
    qint32 intValue() const override { return TextScan::leadingInt(m_text); }
    void setIntValue(qint32 value) override { m_text = QString::number(value); }
    double doubleValue() const override { return TextScan::leadingDouble(m_text); }
    void setDoubleValue(double value) override { m_text = QString::number(value); }

private:
    QString m_text;
};

class FakeForm : public Form
{
public:
    template<class Control> Control *add(const char *outletName)
    {
        auto control = std::make_unique<Control>();
        Control *raw = control.get();
        m_controls[outletName] = std::move(control);
        return raw;
    }

    FakeButton *button(const char *outletName) const
    {
        return dynamic_cast<FakeButton *>(controlNamed(outletName));
    }
    FakeTextField *field(const char *outletName) const
    {
        return dynamic_cast<FakeTextField *>(controlNamed(outletName));
    }

    FormControl *controlNamed(const char *outletName) const override
    {
        const auto found = m_controls.find(outletName);
        return found == m_controls.end() ? nullptr : found->second.get();
    }

private:
    std::map<std::string, std::unique_ptr<FormControl>> m_controls;
};
