#include "ui/weekdaybutton.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QStyle>

WeekdayButton::WeekdayButton(QWidget *parent) : QPushButton(parent)
{
    setCheckable(true);
    QObject::connect(this, &QAbstractButton::toggled, this, &WeekdayButton::applyColours);
}

QSize WeekdayButton::sizeHint() const
{
    const QSize usual = QPushButton::sizeHint();
    const int margin = style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, this);
    const int needed =
        fontMetrics().horizontalAdvance(text()) + 2 * margin + 2 * fontMetrics().averageCharWidth();
    return {std::min(usual.width(), needed), usual.height()};
}

void WeekdayButton::changeEvent(QEvent *event)
{
    // A new theme brings new colours to follow.
    if (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::StyleChange)
        applyColours();
    QPushButton::changeEvent(event);
}

void WeekdayButton::applyColours()
{
    QPalette colours = QApplication::palette(this);
    if (isChecked()) {
        // The disabled group takes the theme's disabled selection colours, so
        // a day that does not count looks it even when it is on.
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            colours.setColor(group, QPalette::Button, colours.color(group, QPalette::Highlight));
            colours.setColor(group, QPalette::ButtonText,
                             colours.color(group, QPalette::HighlightedText));
        }
    }
    setPalette(colours);
}
