#include "ui/recordingpicker.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QSignalBlocker>

RecordingPicker::RecordingPicker(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    // The text is a name being edited, never an entry to add or complete.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(16);
    setMaxVisibleItems(20);
    QObject::connect(this, &QComboBox::activated, this, &RecordingPicker::onActivated);
}

void RecordingPicker::setLabels(const QStringList &labels, int current)
{
    const QString text = currentText();
    const QSignalBlocker blocker(this);
    clear();
    addItems(labels);
    setCurrentIndex(current);
    setEditText(text);
}

void RecordingPicker::showPopup()
{
    m_textBeforeChoice = currentText();
    Q_EMIT aboutToPopUp();
    if (count() > 0)
        QComboBox::showPopup();
}

void RecordingPicker::hidePopup()
{
    QComboBox::hidePopup();
    // The choice, if any, is delivered right after this returns; the items must
    // outlive it.
    QMetaObject::invokeMethod(this, &RecordingPicker::dropLabelsWhenClosed, Qt::QueuedConnection);
}

void RecordingPicker::dropLabelsWhenClosed()
{
    if (!view()->isVisible())
        setLabels({}, -1);
}

void RecordingPicker::onActivated(int index)
{
    const QString label = itemText(index);
    {
        // Whoever handles the choice must see the text as it was before it.
        const QSignalBlocker blocker(this);
        setEditText(m_textBeforeChoice);
    }
    Q_EMIT chosen(index, label);
}

void RecordingPicker::keyPressEvent(QKeyEvent *event)
{
    // Arrow keys open the list rather than step through stale items.
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (event->modifiers() == Qt::NoModifier) {
            showPopup();
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QComboBox::keyPressEvent(event);
}
