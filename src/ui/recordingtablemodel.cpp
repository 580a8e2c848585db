#include "ui/recordingtablemodel.h"

#include <algorithm>
#include <array>

#include <QFont>
#include <QLocale>
#include <QStringList>

#include "model/recording.h"
#include "model/recordinglist.h"
#include "ui/plaintext.h"

namespace {

bool byName(const Recording *a, const Recording *b)
{
    return a->name().compare(b->name(), Qt::CaseInsensitive) < 0;
}

// The weekdays as the editor's buttons name them, whatever the locale.
QString daysText(const RecordingSettings &settings)
{
    static const std::array<QString, 7> names{
        QStringLiteral("Mon"), QStringLiteral("Tue"), QStringLiteral("Wed"), QStringLiteral("Thu"),
        QStringLiteral("Fri"), QStringLiteral("Sat"), QStringLiteral("Sun")};
    QStringList days;
    for (size_t i = 0; i < names.size(); ++i) {
        if (settings.days[i])
            days.append(names[i]);
    }
    // "Once" beats "every day", as it does for the schedule.
    if (settings.once)
        return QStringLiteral("Once: ") + days.join(u' ');
    if (settings.daily || days.size() == int(names.size()))
        return QStringLiteral("Every day");
    return days.isEmpty() ? QStringLiteral("None") : days.join(u' ');
}

QString stateText(Recording::State state)
{
    switch (state) {
    case Recording::State::Recording:
        return QStringLiteral("Recording");
    case Recording::State::WaitingToReconnect:
        return QStringLiteral("Waiting to reconnect");
    case Recording::State::Failed:
        return QStringLiteral("Last run failed");
    case Recording::State::Disabled:
        return QStringLiteral("Disabled");
    case Recording::State::Scheduled:
        break;
    }
    return QStringLiteral("Scheduled");
}

QString resultText(const std::optional<Recording::Result> &result)
{
    if (!result)
        return {};
    if (!result->failure.isEmpty())
        return result->failure;
    return result->tracksSaved == 1 ? QStringLiteral("1 track saved")
                                    : QStringLiteral("%1 tracks saved").arg(result->tracksSaved);
}

} // namespace

RecordingTableModel::RecordingTableModel(const RecordingList &list, QObject *parent)
    : QAbstractTableModel(parent), m_list(list)
{
    sync();
}

void RecordingTableModel::sync()
{
    const auto inList = [this](const Recording *row) { return m_list.indexOf(row) >= 0; };
    if (int(m_rows.size()) == m_list.size() && std::all_of(m_rows.begin(), m_rows.end(), inList))
        return;
    beginResetModel();
    for (Recording *row : m_rows)
        row->disconnect(this);
    m_rows.clear();
    for (int i = 0; i < m_list.size(); ++i)
        follow(m_list.at(i));
    std::stable_sort(m_rows.begin(), m_rows.end(), byName);
    endResetModel();
}

void RecordingTableModel::follow(Recording *recording)
{
    m_rows.push_back(recording);
    const auto changed = [this, recording] { rowChanged(recording); };
    QObject::connect(recording, &Recording::settingsChanged, this, [this, recording] {
        rowChanged(recording);
        resort();
    });
    QObject::connect(recording, &Recording::stateChanged, this, changed);
    QObject::connect(recording, &Recording::nextStartChanged, this, changed);
    QObject::connect(recording, &Recording::resultChanged, this, changed);
    QObject::connect(recording, &Recording::weekdayCleared, this, changed);
    QObject::connect(recording, &QObject::destroyed, this, &RecordingTableModel::drop);
}

Recording *RecordingTableModel::recordingAt(int row) const
{
    return row >= 0 && row < int(m_rows.size()) ? m_rows[size_t(row)] : nullptr;
}

int RecordingTableModel::rowOf(const Recording *recording) const
{
    const auto at = std::find(m_rows.begin(), m_rows.end(), recording);
    return at == m_rows.end() || !recording ? -1 : int(at - m_rows.begin());
}

void RecordingTableModel::rowChanged(const Recording *recording)
{
    const int row = rowOf(recording);
    if (row >= 0)
        Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

// A renamed row moves to its place; the selection moves with it.
void RecordingTableModel::resort()
{
    std::vector<Recording *> sorted = m_rows;
    std::stable_sort(sorted.begin(), sorted.end(), byName);
    if (sorted == m_rows)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex &old : before) {
        const auto at = std::find(sorted.begin(), sorted.end(), m_rows[size_t(old.row())]);
        after.append(index(int(at - sorted.begin()), old.column()));
    }
    m_rows = std::move(sorted);
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// A recording deleted before the next sync must not stay behind as a row. It
// is half gone already: views asking about the row on its way out get nothing.
void RecordingTableModel::drop(const QObject *gone)
{
    const auto at = std::find(m_rows.begin(), m_rows.end(), gone);
    if (at == m_rows.end())
        return;
    *at = nullptr;
    const int row = int(at - m_rows.begin());
    beginRemoveRows({}, row, row);
    m_rows.erase(at);
    endRemoveRows();
}

int RecordingTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
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
        return QLocale::system().toString(recording.nextStart(), QLocale::ShortFormat);
    case Days:
        return daysText(recording.settings());
    case State:
        return stateText(recording.state());
    case LastResult:
        return resultText(recording.lastResult());
    case ColumnCount:
        break;
    }
    return {};
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
    case Qt::ToolTipRole:
        // A cell too narrow for a long name or URL shows it whole here.
        return PlainText::toolTip(text(*recording, column));
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
