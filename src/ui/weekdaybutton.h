#pragma once

#include <QPushButton>

// A weekday toggle that shows "on" in the theme's selection colours, which
// reads at a glance in light and dark themes alike; a plain checked push
// button differs from an unchecked one only by a shade.
class WeekdayButton : public QPushButton
{
    Q_OBJECT

public:
    explicit WeekdayButton(QWidget *parent = nullptr);
    // As wide as the day's name needs: seven in a row must not each take a
    // dialog button's width.
    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColours();
};
