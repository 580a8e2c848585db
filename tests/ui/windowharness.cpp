#include "windowharness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "model/recording.h"
#include "model/recordinglist.h"
#include "ui/recordingpicker.h"
#include "ui/skyvane.h"

AlertRecorder::AlertRecorder()
{
    setAlertPresenter([this](QWidget *, const Alert &alert) {
        alerts.append(alert);
        return answer;
    });
}

AlertRecorder::~AlertRecorder()
{
    setAlertPresenter(nullptr);
}

QStringList AlertRecorder::titles() const
{
    QStringList result;
    for (const Alert &alert : alerts)
        result.append(alert.title);
    return result;
}

namespace {
template<class Widget> Widget *find(Skyvane &window, const char *name)
{
    auto *widget = window.findChild<Widget *>(QString::fromUtf8(name));
    if (!widget)
        qFatal("the window has no control named %s", name);
    return widget;
}
} // namespace

Controls::Controls(Skyvane &window)
    : picker(find<RecordingPicker>(window, "recordingChoice")),
      station(find<QLineEdit>(window, "stationField")),
      playlist(find<QLineEdit>(window, "playlistField")),
      title(find<QLineEdit>(window, "titleField")), artist(find<QLineEdit>(window, "artistField")),
      album(find<QLineEdit>(window, "albumField")), genre(find<QComboBox>(window, "genreChoice")),
      recCount(find<QComboBox>(window, "recCount")), hourTime(find<QComboBox>(window, "hourTime")),
      minuteTime(find<QComboBox>(window, "minuteTime")), ampm(find<QComboBox>(window, "ampm")),
      hourDuration(find<QComboBox>(window, "hourDuration")),
      minuteDuration(find<QComboBox>(window, "minuteDuration")),
      shoutLang(find<QComboBox>(window, "shoutLang")),
      daily(find<QCheckBox>(window, "dailyButton")), once(find<QCheckBox>(window, "onceButton")),
      split(find<QCheckBox>(window, "splitButton")),
      reconnect(find<QCheckBox>(window, "reconnectButton")),
      splitTitle(find<QCheckBox>(window, "splitTitle")),
      keepPartial(find<QCheckBox>(window, "keepPartial")),
      newButton(find<QPushButton>(window, "newButton")),
      cloneButton(find<QPushButton>(window, "cloneButton")),
      deleteButton(find<QPushButton>(window, "deleteButton")),
      nowButton(find<QPushButton>(window, "nowButton")),
      stopButton(find<QPushButton>(window, "stopButton")),
      saveButton(find<QPushButton>(window, "saveButton")),
      revertButton(find<QPushButton>(window, "revertButton")),
      log(find<QPlainTextEdit>(window, "log")), progress(find<QProgressBar>(window, "progress"))
{}

void Controls::setTime(const QString &hour, const QString &minute, const QString &half)
{
    hourTime->setEditText(hour);
    minuteTime->setEditText(minute);
    ampm->setEditText(half);
}

void Controls::setDuration(const QString &hours, const QString &minutes)
{
    hourDuration->setEditText(hours);
    minuteDuration->setEditText(minutes);
}

namespace Harness {

StoredRecording row(const QString &name, qint32 startTime, qint32 shoutLang, bool everyDay)
{
    StoredRecording stored;
    stored.name = name;
    stored.startTime = startTime;
    stored.shoutLang = shoutLang;
    stored.everyDay = everyDay;
    return stored;
}

QString listPath()
{
    return RecordingList::prefPath();
}

void removeListFiles()
{
    const QFileInfo list(listPath());
    QDir folder = list.dir();
    const QFileInfoList leftovers = folder.entryInfoList(
        {list.fileName() + QStringLiteral("*")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo &leftover : leftovers) {
        if (leftover.isDir())
            QDir(leftover.filePath()).removeRecursively();
        else
            folder.remove(leftover.fileName());
    }
}

void writeList(const QList<StoredRecording> &rows)
{
    RecordingList list;
    for (const StoredRecording &row : rows) {
        auto recording = Recording::initWithName(row.name);
        recording->url = row.url;
        recording->playList = row.playList;
        recording->startTime = row.startTime;
        recording->shoutLang = row.shoutLang;
        recording->days.fill(row.everyDay);
        list.append(std::move(recording));
    }
    if (!list.storeRecList())
        qFatal("could not write the list file");
}

QList<StoredRecording> readList()
{
    QFile file(listPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<StoredRecording> rows;
    const QJsonArray array = QJsonDocument::fromJson(file.readAll()).array();
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        StoredRecording row;
        row.name = object.value(QStringLiteral("name")).toString();
        row.url = object.value(QStringLiteral("url")).toString();
        row.playList = object.value(QStringLiteral("playList")).toString();
        row.startTime = object.value(QStringLiteral("startTime")).toInt();
        row.shoutLang = qint32(object.value(QStringLiteral("shoutLang")).toInteger());
        rows.append(row);
    }
    return rows;
}

QStringList names(Skyvane &window)
{
    QStringList result;
    for (int i = 0; i < window.recList().size(); ++i)
        result.append(window.recList().at(i)->name);
    return result;
}

Qt::DropAction drop(Skyvane &window, QMimeData &data, Qt::DropActions allowed)
{
    const QPoint point(window.width() / 2, window.height() / 2);
    QDragEnterEvent enter(point, allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    QDropEvent dropped(QPointF(point), allowed, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropped);
    return dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
}

} // namespace Harness
