#pragma once

#include <map>
#include <memory>
#include <string>

#include <QString>

#include "model/form.h"

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QWidget;

// A check box or toggle button as the field engine sees it: on 1, off 0, and -1
// for a check box in its third, mixed state.
class CheckControl final : public ButtonControl
{
public:
    explicit CheckControl(QAbstractButton *button) : m_button(button) {}
    int state() const override;
    void setState(int state) override;

private:
    QAbstractButton *m_button;
};

// Any text control read as text or as a number. Numbers are read from the start
// of the text the way a user means them: "15 min" is 15, text that does not
// start with a number is 0.
class TextControl : public ValueControl
{
public:
    qint32 intValue() const override;
    void setIntValue(qint32 value) override;
    double doubleValue() const override;
    void setDoubleValue(double value) override;
};

class LineEditControl final : public TextControl
{
public:
    explicit LineEditControl(QLineEdit *edit) : m_edit(edit) {}
    QString stringValue() const override;
    void setStringValue(const QString &value) override;

private:
    QLineEdit *m_edit;
};

// An editable combo box shows and takes any text; a fixed one selects the item
// with that text, or nothing.
class ComboControl final : public TextControl
{
public:
    explicit ComboControl(QComboBox *box) : m_box(box) {}
    QString stringValue() const override;
    void setStringValue(const QString &value) override;

private:
    QComboBox *m_box;
};

// The window's controls found by their object names, which are the outlet names
// the field table uses. Adapters are made on first use and live as long as the
// form.
class WidgetForm final : public Form
{
public:
    explicit WidgetForm(QWidget *root) : m_root(root) {}
    FormControl *controlNamed(const char *outletName) const override;

    // An adapter for a check box, toggle button, line edit or combo box;
    // nullptr for any other widget.
    static std::unique_ptr<FormControl> adapt(QWidget *widget);

private:
    QWidget *m_root;
    mutable std::map<std::string, std::unique_ptr<FormControl>, std::less<>> m_controls;
};
