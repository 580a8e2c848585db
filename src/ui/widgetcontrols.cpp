#include "ui/widgetcontrols.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "platform/textscan.h"

int CheckControl::state() const
{
    if (const auto *box = qobject_cast<const QCheckBox *>(m_button);
        box && box->checkState() == Qt::PartiallyChecked)
        return Mixed;
    return m_button->isChecked() ? On : Off;
}

void CheckControl::setState(int state)
{
    if (auto *box = qobject_cast<QCheckBox *>(m_button)) {
        box->setCheckState(state == Mixed ? Qt::PartiallyChecked
                                          : (state == Off ? Qt::Unchecked : Qt::Checked));
        return;
    }
    // A plain toggle button has no mixed look; any state but off shows it on.
    m_button->setChecked(state != Off);
}

qint32 TextControl::intValue() const
{
    return TextScan::leadingInt(stringValue());
}

void TextControl::setIntValue(qint32 value)
{
    setStringValue(QString::number(value));
}

double TextControl::doubleValue() const
{
    return TextScan::leadingDouble(stringValue());
}

void TextControl::setDoubleValue(double value)
{
    setStringValue(QString::number(value, 'g', 15));
}

QString LineEditControl::stringValue() const
{
    return m_edit->text();
}

void LineEditControl::setStringValue(const QString &value)
{
    m_edit->setText(value);
}

QString ComboControl::stringValue() const
{
    return m_box->currentText();
}

void ComboControl::setStringValue(const QString &value)
{
    if (m_box->isEditable())
        m_box->setEditText(value);
    else
        m_box->setCurrentIndex(m_box->findText(value));
}

FormControl *WidgetForm::controlNamed(const char *outletName) const
{
    if (const auto found = m_controls.find(std::string_view(outletName)); found != m_controls.end())
        return found->second.get();
    auto *widget = m_root->findChild<QWidget *>(QString::fromUtf8(outletName));
    std::unique_ptr<FormControl> control = widget ? adapt(widget) : nullptr;
    if (!control)
        return nullptr;
    return m_controls.emplace(outletName, std::move(control)).first->second.get();
}

std::unique_ptr<FormControl> WidgetForm::adapt(QWidget *widget)
{
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return std::make_unique<CheckControl>(button);
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return std::make_unique<LineEditControl>(edit);
    if (auto *box = qobject_cast<QComboBox *>(widget))
        return std::make_unique<ComboControl>(box);
    return nullptr;
}
