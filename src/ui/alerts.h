#pragma once

#include <functional>

#include <QString>

class QWidget;

// A modal question or notice with a title and a text. Without button titles it
// has the one standard OK button.
struct Alert
{
    QString title;
    QString text;
    QString defaultButton;   // "" gives the standard OK button
    QString alternateButton; // "" gives no second button
};

enum class AlertAnswer { Default, Alternate };

// Every alert of the window goes through this one function, so that tests can
// answer alerts instead of waiting for a user.
using AlertPresenter = std::function<AlertAnswer(QWidget *parent, const Alert &alert)>;

AlertAnswer runAlert(QWidget *parent, const Alert &alert);

// Replaces the presenter; an empty one restores the message box.
void setAlertPresenter(AlertPresenter presenter);
