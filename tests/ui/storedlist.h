#pragma once

#include <QApplication>
#include <QByteArray>
#include <QFile>

#include "model/recordinglist.h"
#include "ui/mainwindow.h"

// The list file as the open windows leave it. A window stores off the event
// loop: what it asked for is written first.
inline QByteArray storedList()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<MainWindow *>(widget))
            window->list().flushStores();
    }
    QFile file(RecordingList::filePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
