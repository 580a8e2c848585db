#include "ui/savequestion.h"

#include <QMessageBox>

#include "ui/plaintext.h"

namespace {

SaveAnswer showMessageBox(QWidget *parent, const QString &name)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("Skyvane"));
    box.setText(QStringLiteral("Save the changes to “%1” before quitting?").arg(name));
    box.setInformativeText(QStringLiteral("Your changes are lost if you don't save them."));
    PlainText::enforce(&box);
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveAnswer::Save;
    case QMessageBox::Discard:
        return SaveAnswer::Discard;
    default:
        return SaveAnswer::Cancel;
    }
}

SaveQuestionPresenter &presenter()
{
    static SaveQuestionPresenter current = showMessageBox;
    return current;
}

} // namespace

SaveAnswer askToSave(QWidget *parent, const QString &recordingName)
{
    return presenter()(parent, recordingName);
}

void setSaveQuestionPresenter(SaveQuestionPresenter replacement)
{
    presenter() = replacement ? std::move(replacement) : SaveQuestionPresenter(showMessageBox);
}
