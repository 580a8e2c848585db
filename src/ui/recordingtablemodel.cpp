#include "ui/recordingtablemodel.h"

#include <array>

#include <QFont>
#include <QLocale>
#include <QStringList>
#include <QTimer>

#include "model/overviewtext.h"
#include "model/recording.h"
#include "model/recordinglist.h"
#include "platform/clock.h"
#include "ui/plaintext.h"

RecordingTableModel::RecordingTableModel(const RecordingList &list, QObject *parent)
    : QAbstractTableModel(parent), m_list(list), m_rows(list.size())
{
    followList();
    // Relative times age: "in 2 h" must not stand for an hour.
    auto *clock = new QTimer(this);
    clock->setObjectName(QStringLiteral("relativeTimes"));
    QObject::connect(clock, &QTimer::timeout, this, [this] {
        if (m_rows > 0)
            Q_EMIT dataChanged(index(0, NextStart), index(m_rows - 1, NextStart));
    });
    clock->start(std::chrono::seconds(30));
}

void RecordingTableModel::followList()
{
    const RecordingList *list = &m_list;
    QObject::connect(list, &RecordingList::rowAdded, this, [this](int row) {
        beginInsertRows({}, row, row);
        ++m_rows;
        endInsertRows();
    });
    QObject::connect(list, &RecordingList::rowAboutToBeRemoved, this,
                     [this](int row) { beginRemoveRows({}, row, row); });
    QObject::connect(list, &RecordingList::rowRemoved, this, [this] {
        --m_rows;
        endRemoveRows();
    });
    QObject::connect(list, &RecordingList::rowChanged, this, &RecordingTableModel::rowChanged);
    QObject::connect(list, &RecordingList::aboutToReset, this,
                     &RecordingTableModel::beginResetModel);
    QObject::connect(list, &RecordingList::reset, this, [this] {
        m_rows = m_list.size();
        endResetModel();
    });
}

Recording *RecordingTableModel::recordingAt(int row) const
{
    return row >= 0 && row < m_rows ? m_list.at(row) : nullptr;
}

int RecordingTableModel::rowOf(const Recording *recording) const
{
    const int row = m_list.indexOf(recording);
    return row < m_rows ? row : -1;
}

void RecordingTableModel::rowChanged(int row)
{
    if (row >= 0 && row < m_rows)
        Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int RecordingTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int RecordingTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString RecordingTableModel::text(const Recording &recording, Column column)
{
    switch (column) {
    case Name:
        return recording.name();
    case Station:
        return recording.settings().url;
    case NextStart:
        return OverviewText::nextStart(recording, Clock::now());
    case Days:
        return OverviewText::days(recording.settings());
    case State:
        return OverviewText::state(recording.state());
    case LastResult:
        return OverviewText::lastResult(recording);
    case ColumnCount:
        break;
    }
    return {};
}

// A cell too narrow for a long name or URL shows it whole here; times have
// their full date.
QString RecordingTableModel::toolTip(const Recording &recording, Column column)
{
    const auto fullDate = [](const QDateTime &date) {
        return QLocale::system().toString(date, QLocale::LongFormat);
    };
    switch (column) {
    case NextStart:
        if (recording.isCapturing())
            return QStringLiteral("Ends %1").arg(
                fullDate(Clock::now().addSecs(recording.remainingSeconds())));
        return recording.nextStart().isValid() ? fullDate(recording.nextStart()) : QString();
    case LastResult:
        if (const auto &result = recording.lastResult(); result && result->endedAt.isValid())
            return QStringLiteral("%1\n%2").arg(fullDate(result->endedAt), result->summary());
        break;
    default:
        break;
    }
    return text(recording, column);
}

QVariant RecordingTableModel::sortKey(const Recording &recording, Column column)
{
    switch (column) {
    case NextStart:
        // A capture's end comes before any other start.
        return recording.isCapturing() ? Clock::now().addSecs(recording.remainingSeconds())
                                       : recording.nextStart();
    case State:
        return int(recording.state());
    default:
        return text(recording, column);
    }
}

QVariant RecordingTableModel::data(const QModelIndex &index, int role) const
{
    const Recording *recording = recordingAt(index.row());
    if (!recording || index.column() < 0 || index.column() >= ColumnCount)
        return {};
    const auto column = Column(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return text(*recording, column);
    case SortRole:
        return sortKey(*recording, column);
    case Qt::ToolTipRole:
        return PlainText::toolTip(toolTip(*recording, column));
    case Qt::FontRole:
        if (recording->isCapturing()) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

QVariant RecordingTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const std::array<QString, ColumnCount> titles{
        QStringLiteral("Name"), QStringLiteral("Station"), QStringLiteral("Next start"),
        QStringLiteral("Days"), QStringLiteral("State"),   QStringLiteral("Last result")};
    return section >= 0 && section < ColumnCount ? QVariant(titles[size_t(section)]) : QVariant();
}
