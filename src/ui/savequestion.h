#pragma once

#include <functional>

#include <QString>

class QWidget;

// The one question with three answers: save the edits of the recording shown,
// discard them, or stay. Like the alerts, it goes through one replaceable
// function so that tests answer it.
enum class SaveAnswer { Save, Discard, Cancel };

using SaveQuestionPresenter = std::function<SaveAnswer(QWidget *parent, const QString &name)>;

SaveAnswer askToSave(QWidget *parent, const QString &recordingName);

// Replaces the presenter; an empty one restores the message box.
void setSaveQuestionPresenter(SaveQuestionPresenter presenter);
