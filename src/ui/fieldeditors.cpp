#include "ui/fieldeditors.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QList>
#include <QLocale>
#include <QSpinBox>

#include "platform/textencodings.h"
#include "platform/textscan.h"

namespace {

// An editable box shows any text; a fixed one selects the item with that
// text, or nothing.
void setText(QComboBox *box, const QString &text)
{
    if (box->isEditable())
        box->setEditText(text);
    else
        box->setCurrentIndex(box->findText(text));
}

// A box that offers numbers must not complete what is typed into it: "2"
// then Tab would give "20". Only then, so names and words still complete.
void typeNumbersAsTyped(QComboBox *box)
{
    if (!box->isEditable() || box->count() == 0)
        return;
    for (int i = 0; i < box->count(); ++i) {
        bool isNumber = false;
        box->itemText(i).toInt(&isNumber);
        if (!isNumber)
            return;
    }
    box->setCompleter(nullptr);
}

// Numbers are read the way a user means them: "15 min" is 15, text that
// does not start with a number is 0.
qint64 numberIn(const QComboBox *box)
{
    return TextScan::leadingInt(box->currentText());
}

// The editor does not limit its numbers; a sum beyond 32 bits saturates
// rather than wrapping round to something unrelated.
qint32 minutesOf(qint64 hours, qint64 minutes)
{
    return qint32(std::clamp<qint64>(hours * 60 + minutes, std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

class LineEditEditor final : public FieldEditor
{
public:
    explicit LineEditEditor(QLineEdit *edit) : m_edit(edit) {}
    QVariant value() const override { return m_edit->text(); }
    void setValue(const QVariant &value) override { m_edit->setText(value.toString()); }

private:
    QLineEdit *m_edit;
};

// A check box in its third, mixed state counts as off.
class ButtonEditor final : public FieldEditor
{
public:
    explicit ButtonEditor(QAbstractButton *button) : m_button(button) {}
    QVariant value() const override
    {
        if (const auto *box = qobject_cast<const QCheckBox *>(m_button))
            return box->checkState() == Qt::Checked;
        return m_button->isChecked();
    }
    void setValue(const QVariant &value) override
    {
        if (auto *box = qobject_cast<QCheckBox *>(m_button))
            box->setCheckState(value.toBool() ? Qt::Checked : Qt::Unchecked);
        else
            m_button->setChecked(value.toBool());
    }

private:
    QAbstractButton *m_button;
};

// A number outside the box's range shows, and saves, as its nearest end.
class SpinBoxEditor final : public FieldEditor
{
public:
    explicit SpinBoxEditor(QSpinBox *box) : m_box(box) {}
    QVariant value() const override { return qint32(m_box->value()); }
    void setValue(const QVariant &value) override { m_box->setValue(value.toInt()); }

private:
    QSpinBox *m_box;
};

// The text of the box; a number is shown as its digits and read back from them.
class ComboEditor final : public FieldEditor
{
public:
    explicit ComboEditor(QComboBox *box) : m_box(box) { typeNumbersAsTyped(m_box); }
    QVariant value() const override { return m_box->currentText(); }
    void setValue(const QVariant &value) override { setText(m_box, value.toString()); }

private:
    QComboBox *m_box;
};

// Minutes after midnight on the clock of the user's locale, as the log shows
// times. On a 12-hour clock hour 0 shows as 12 AM, 12 as 12 PM, and an AM/PM
// text not starting with "P" reads as AM; a 24-hour clock hides the AM/PM box.
class StartTimeEditor final : public FieldEditor
{
public:
    StartTimeEditor(QComboBox *hour, QComboBox *minute, QComboBox *half)
        : m_hour(hour), m_minute(minute), m_half(half),
          m_twelveHours(
              QLocale().timeFormat(QLocale::ShortFormat).contains(u"ap", Qt::CaseInsensitive))
    {
        m_half->setHidden(!m_twelveHours);
        if (!m_twelveHours) {
            m_hour->clear();
            for (int i = 0; i < 24; ++i)
                m_hour->addItem(QString::number(i));
        }
        typeNumbersAsTyped(m_hour);
        typeNumbersAsTyped(m_minute);
    }
    QVariant value() const override
    {
        qint64 hour = numberIn(m_hour);
        if (m_twelveHours) {
            if (hour == 12)
                hour = 0;
            const QString half = m_half->currentText();
            if (!half.isEmpty() && half.at(0).toUpper() == u'P')
                hour += 12;
        }
        return minutesOf(hour, numberIn(m_minute));
    }
    void setValue(const QVariant &value) override
    {
        const qint32 minutes = value.toInt();
        qint32 hour = minutes / 60;
        setText(m_minute, TextScan::twoDigits(minutes % 60));
        if (!m_twelveHours) {
            setText(m_hour, QString::number(hour));
            setText(m_half, {});
            return;
        }
        setText(m_half, hour <= 11 ? QStringLiteral("AM") : QStringLiteral("PM"));
        if (hour > 11)
            hour -= 12;
        setText(m_hour, QString::number(hour == 0 ? 12 : hour));
    }

private:
    QComboBox *m_hour, *m_minute, *m_half;
    bool m_twelveHours;
};

class DurationEditor final : public FieldEditor
{
public:
    DurationEditor(QComboBox *hours, QComboBox *minutes) : m_hours(hours), m_minutes(minutes)
    {
        typeNumbersAsTyped(m_hours);
        typeNumbersAsTyped(m_minutes);
    }
    QVariant value() const override { return minutesOf(numberIn(m_hours), numberIn(m_minutes)); }
    void setValue(const QVariant &value) override
    {
        const qint32 minutes = value.toInt();
        setText(m_hours, QString::number(minutes / 60));
        setText(m_minutes, TextScan::twoDigits(minutes % 60));
    }

private:
    QComboBox *m_hours, *m_minutes;
};

// The box lists the encodings on offer; an encoding that is not offered, or
// no choice at all, is the first.
class EncodingEditor final : public FieldEditor
{
public:
    explicit EncodingEditor(QComboBox *box) : m_box(box)
    {
        m_box->clear();
        for (const TextEncodings::Encoding &encoding : TextEncodings::available()) {
            if (encoding.displayName.isEmpty())
                continue;
            m_box->addItem(encoding.displayName);
            m_numbers.append(encoding.number);
        }
    }
    QVariant value() const override
    {
        if (m_numbers.isEmpty())
            return {};
        const int selected = m_box->currentIndex();
        return qint32(m_numbers.value(selected >= 0 ? selected : 0, m_numbers.first()));
    }
    void setValue(const QVariant &value) override
    {
        const qsizetype index = m_numbers.indexOf(quint32(value.toInt()));
        m_box->setCurrentIndex(index >= 0 ? int(index) : (m_box->count() > 0 ? 0 : -1));
    }

private:
    QComboBox *m_box;
    QList<quint32> m_numbers;
};

class WeekdaysEditor final : public FieldEditor
{
public:
    explicit WeekdaysEditor(const std::array<QAbstractButton *, 7> &days) : m_days(days) {}
    QVariant value() const override
    {
        QVariantList days;
        for (const QAbstractButton *day : m_days)
            days.append(day->isChecked());
        return days;
    }
    void setValue(const QVariant &value) override
    {
        const QVariantList days = value.toList();
        for (size_t i = 0; i < m_days.size(); ++i)
            m_days[i]->setChecked(days.value(qsizetype(i)).toBool());
    }

private:
    std::array<QAbstractButton *, 7> m_days;
};

template<class Widget> Widget *child(QWidget *root, const char *name)
{
    return root->findChild<Widget *>(QString::fromLatin1(name));
}

std::unique_ptr<FieldEditor> compositeEditor(QWidget *root, const char *control)
{
    const auto is = [control](const char *name) { return std::strcmp(control, name) == 0; };
    if (is("startTime")) {
        auto *hour = child<QComboBox>(root, "hourTime");
        auto *minute = child<QComboBox>(root, "minuteTime");
        auto *half = child<QComboBox>(root, "ampm");
        if (hour && minute && half)
            return std::make_unique<StartTimeEditor>(hour, minute, half);
    } else if (is("duration")) {
        auto *hours = child<QComboBox>(root, "hourDuration");
        auto *minutes = child<QComboBox>(root, "minuteDuration");
        if (hours && minutes)
            return std::make_unique<DurationEditor>(hours, minutes);
    } else if (is("shoutLang")) {
        if (auto *box = child<QComboBox>(root, "shoutLang"))
            return std::make_unique<EncodingEditor>(box);
    } else if (is("days")) {
        const std::array<QAbstractButton *, 7> days = weekdayButtons(root);
        if (std::find(days.begin(), days.end(), nullptr) == days.end())
            return std::make_unique<WeekdaysEditor>(days);
    }
    return nullptr;
}

} // namespace

std::unique_ptr<FieldEditor> FieldEditor::forControl(QWidget *root, const char *control)
{
    // The composite names are no widget's, so a missing part gives nullptr below too.
    if (std::unique_ptr<FieldEditor> composite = compositeEditor(root, control))
        return composite;
    QWidget *widget = child<QWidget>(root, control);
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return std::make_unique<ButtonEditor>(button);
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return std::make_unique<LineEditEditor>(edit);
    if (auto *box = qobject_cast<QComboBox *>(widget))
        return std::make_unique<ComboEditor>(box);
    if (auto *box = qobject_cast<QSpinBox *>(widget))
        return std::make_unique<SpinBoxEditor>(box);
    return nullptr;
}

std::array<QAbstractButton *, 7> weekdayButtons(QWidget *root)
{
    std::array<QAbstractButton *, 7> days{};
    const char *const names[] = {"monButton", "tueButton", "wedButton", "thuButton",
                                 "friButton", "satButton", "sunButton"};
    for (size_t i = 0; i < days.size(); ++i)
        days[i] = child<QAbstractButton>(root, names[i]);
    return days;
}
