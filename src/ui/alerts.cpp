#include "ui/alerts.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

#include "ui/plaintext.h"

namespace {

// The desktop's usual alert: a short primary text, the explanation below it,
// and the application's name in the title bar. Names, URLs and a station's
// words appear in the texts, so no label of the box reads markup.
AlertAnswer showMessageBox(QWidget *parent, const Alert &alert)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Skyvane"));
    box.setText(alert.title);
    box.setInformativeText(alert.text);
    PlainText::enforce(&box);
    // The box takes its width from the short primary text and wraps the
    // explanation to it, a path or reason in a narrow column: a spacer across
    // the bottom row keeps it at least about 60 characters wide.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(box.fontMetrics().averageCharWidth() * 60, 0,
                                      QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    QPushButton *const defaultButton =
        alert.defaultButton.isEmpty() ? box.addButton(QMessageBox::Ok)
                                      : box.addButton(alert.defaultButton, QMessageBox::RejectRole);
    QPushButton *alternate = nullptr;
    if (!alert.alternateButton.isEmpty())
        alternate = box.addButton(alert.alternateButton, QMessageBox::DestructiveRole);
    // Return and Escape both give the default answer: the safe one.
    box.setDefaultButton(defaultButton);
    box.setEscapeButton(defaultButton);
    box.exec();
    // Escape counts as a click on the default button: some button was clicked.
    return box.clickedButton() == alternate ? AlertAnswer::Alternate : AlertAnswer::Default;
}

AlertPresenter &presenter()
{
    static AlertPresenter current = showMessageBox;
    return current;
}

} // namespace

AlertAnswer runAlert(QWidget *parent, const Alert &alert)
{
    return presenter()(parent, alert);
}

void setAlertPresenter(AlertPresenter replacement)
{
    presenter() = replacement ? std::move(replacement) : AlertPresenter(showMessageBox);
}
