#pragma once

#include <QComboBox>
#include <QStringList>

// The recording picker: an editable combo box whose text is the name of the
// recording in the editor, and whose list offers the other recordings.
//
// The list exists only while it is open: it is rebuilt from the recordings
// each time it opens (aboutToPopUp) and dropped when it closes, so no item can
// stand for a row that has moved since, and nothing but an explicit choice in
// the open list can pick a recording. When an item is chosen, chosen() is
// emitted with the text put back to what it was before the choice: the
// receiver decides whether the chosen label replaces it.
class RecordingPicker : public QComboBox
{
    Q_OBJECT

public:
    explicit RecordingPicker(QWidget *parent = nullptr);

    // Replaces the items and marks `current` as the selected row; the text the
    // user sees stays as it is.
    void setLabels(const QStringList &labels, int current);

    void showPopup() override;
    void hidePopup() override;

Q_SIGNALS:
    // The list is about to open: call setLabels now.
    void aboutToPopUp();
    // Item `index` with this label was chosen.
    void chosen(int index, const QString &label);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void onActivated(int index);
    void dropLabelsWhenClosed();

    QString m_textBeforeChoice;
};
