#include "ui/stationsearchdialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "capture/stationprobe.h"
#include "ui/plaintext.h"

namespace {

enum Column { Name, Country, Codec, Bitrate, Tags, LastCheck, ColumnCount };

QLineEdit *field(const QString &name, const QString &placeholder)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    edit->setClearButtonEnabled(true);
    return edit;
}

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    // The directory's words: a tooltip would read them as markup.
    item->setToolTip(PlainText::toolTip(text));
    return item;
}

} // namespace

StationSearchDialog::StationSearchDialog(const QUrl &directory, QWidget *parent)
    : QDialog(parent), m_client(directory),
      m_name(field(QStringLiteral("searchName"), QStringLiteral("Station name"))),
      m_tag(field(QStringLiteral("searchTag"), QStringLiteral("jazz, news, …"))),
      m_country(field(QStringLiteral("searchCountry"), QStringLiteral("Germany, …"))),
      m_language(field(QStringLiteral("searchLanguage"), QStringLiteral("english, …"))),
      m_codec(field(QStringLiteral("searchCodec"), QStringLiteral("MP3, AAC, OGG, …"))),
      m_minBitrate(new QSpinBox), m_searchButton(new QPushButton(QStringLiteral("&Search"))),
      m_cancelButton(new QPushButton(QStringLiteral("Stop Searching"))),
      m_addButton(new QPushButton(QStringLiteral("&Add Recording"))),
      m_tryButton(new QPushButton(QStringLiteral("T&ry"))),
      m_results(new QTableWidget(0, ColumnCount)), m_status(new QLabel)
{
    setWindowTitle(QStringLiteral("Find a Station"));
    m_minBitrate->setObjectName(QStringLiteral("searchMinBitrate"));
    m_minBitrate->setRange(0, 512);
    m_minBitrate->setSingleStep(32);
    m_minBitrate->setSuffix(QStringLiteral(" kbit/s"));
    m_minBitrate->setSpecialValueText(QStringLiteral("Any"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Name:"), m_name);
    form->addRow(QStringLiteral("&Tag:"), m_tag);
    form->addRow(QStringLiteral("C&ountry:"), m_country);
    form->addRow(QStringLiteral("&Language:"), m_language);
    form->addRow(QStringLiteral("&Codec:"), m_codec);
    form->addRow(QStringLiteral("&Bitrate at least:"), m_minBitrate);

    m_results->setObjectName(QStringLiteral("searchResults"));
    m_results->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Country"),
                                          QStringLiteral("Codec"), QStringLiteral("Bitrate"),
                                          QStringLiteral("Tags"), QStringLiteral("Last check")});
    m_results->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_results->verticalHeader()->hide();
    m_results->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_results->horizontalHeader()->setSectionResizeMode(Name, QHeaderView::Stretch);
    m_results->horizontalHeader()->setSectionResizeMode(Tags, QHeaderView::Stretch);
    m_status->setObjectName(QStringLiteral("searchStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);

    auto *buttons = new QDialogButtonBox;
    buttons->addButton(m_searchButton, QDialogButtonBox::ActionRole);
    buttons->addButton(m_cancelButton, QDialogButtonBox::ActionRole);
    buttons->addButton(m_tryButton, QDialogButtonBox::ActionRole);
    buttons->addButton(m_addButton, QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_results, 1);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(720, 520);

    QObject::connect(m_searchButton, &QPushButton::clicked, this, &StationSearchDialog::search);
    QObject::connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        m_client.cancel();
        setSearching(false);
        m_status->setText(QStringLiteral("The search was stopped."));
    });
    QObject::connect(m_addButton, &QPushButton::clicked, this, &StationSearchDialog::choose);
    QObject::connect(m_tryButton, &QPushButton::clicked, this, &StationSearchDialog::tryChosen);
    QObject::connect(m_results, &QTableWidget::cellDoubleClicked, this,
                     &StationSearchDialog::choose);
    QObject::connect(m_results, &QTableWidget::itemSelectionChanged, this, [this] {
        m_addButton->setEnabled(!m_results->selectedItems().isEmpty());
        m_tryButton->setEnabled(m_addButton->isEnabled() && !m_probe);
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QObject::connect(&m_client, &DirectoryClient::stationsFound, this,
                     &StationSearchDialog::showStations);
    QObject::connect(&m_client, &DirectoryClient::searchFailed, this,
                     &StationSearchDialog::showFailure);
    m_addButton->setEnabled(false);
    m_tryButton->setEnabled(false);
    m_tryButton->setAutoDefault(false);
    setSearching(false);
    // Enter searches; the button box would make its accepting button the default.
    m_addButton->setAutoDefault(false);
    m_searchButton->setDefault(true);
}

void StationSearchDialog::search()
{
    StationFilter filter;
    filter.name = m_name->text();
    filter.tag = m_tag->text();
    filter.country = m_country->text();
    filter.language = m_language->text();
    filter.codec = m_codec->text();
    filter.minBitrate = m_minBitrate->value();
    setSearching(true);
    m_status->setText(QStringLiteral("Searching the radio directory…"));
    m_client.search(filter);
}

void StationSearchDialog::setSearching(bool searching)
{
    m_searchButton->setEnabled(!searching);
    m_cancelButton->setEnabled(searching);
}

void StationSearchDialog::showStations(const QList<DirectoryStation> &stations)
{
    setSearching(false);
    m_found = stations;
    m_results->setRowCount(int(stations.size()));
    const QLocale locale;
    for (int row = 0; row < m_results->rowCount(); ++row) {
        const DirectoryStation &station = stations.at(row);
        m_results->setItem(row, Name, cell(station.name));
        m_results->setItem(row, Country, cell(station.country));
        m_results->setItem(row, Codec, cell(station.codec));
        m_results->setItem(row, Bitrate,
                           cell(station.bitrate > 0
                                    ? QStringLiteral("%1 kbit/s").arg(station.bitrate)
                                    : QString()));
        m_results->setItem(row, Tags, cell(station.tags.join(QStringLiteral(", "))));
        m_results->setItem(
            row, LastCheck,
            cell(!station.lastCheck.isValid() ? QString()
                 : station.lastCheckOk
                     ? QStringLiteral("Worked %1")
                           .arg(locale.toString(station.lastCheck.date(), QLocale::ShortFormat))
                     : QStringLiteral("Failed %1")
                           .arg(locale.toString(station.lastCheck.date(), QLocale::ShortFormat))));
    }
    m_status->setText(
        stations.isEmpty() ? QStringLiteral("No station found: try fewer or other words.")
        : stations.size() == 1
            ? QStringLiteral("One station.")
            : QStringLiteral("%1 stations, the best voted first.").arg(stations.size()));
    if (!stations.isEmpty())
        m_results->selectRow(0);
}

void StationSearchDialog::showFailure(const QString &reason)
{
    setSearching(false);
    m_status->setText(reason);
}

StationSearchDialog::~StationSearchDialog() = default;

// The station picked, tried for a few seconds: its format, and whether it
// sends titles, in the status line.
void StationSearchDialog::tryChosen()
{
    const int row = m_results->currentRow();
    if (row < 0 || row >= m_found.size())
        return;
    m_probe = std::make_unique<StationProbe>();
    QObject::connect(m_probe.get(), &StationProbe::finished, this,
                     [this](const ProbeReport &report) {
                         m_probe.release()->deleteLater(); // inside its own signal
                         m_tryButton->setEnabled(m_addButton->isEnabled());
                         m_status->setText(report.sentence());
                     });
    m_tryButton->setEnabled(false);
    m_status->setText(
        QStringLiteral("Trying %1 for up to ten seconds\u2026").arg(m_found.at(row).name));
    m_probe->start(m_found.at(row).streamUrl);
}

void StationSearchDialog::choose()
{
    const int row = m_results->currentRow();
    if (row < 0 || row >= m_found.size())
        return;
    m_chosen = m_found.at(row);
    accept();
}
