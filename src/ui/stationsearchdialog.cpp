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
      m_moreButton(new QPushButton(QStringLiteral("&More Results"))),
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
    buttons->addButton(m_moreButton, QDialogButtonBox::ActionRole);
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
    QObject::connect(m_moreButton, &QPushButton::clicked, this, &StationSearchDialog::searchPage);
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
    m_moreButton->setAutoDefault(false);
    setSearching(false);
    // Enter searches; the button box would make its accepting button the default.
    m_addButton->setAutoDefault(false);
    m_searchButton->setDefault(true);
}

void StationSearchDialog::search()
{
    m_filter = StationFilter();
    m_filter.name = m_name->text();
    m_filter.tag = m_tag->text();
    m_filter.country = m_country->text();
    m_filter.language = m_language->text();
    m_filter.codec = m_codec->text();
    m_filter.minBitrate = m_minBitrate->value();
    m_found.clear();
    m_results->setRowCount(0);
    searchPage();
}

// The next page of the same search, added below the stations shown.
void StationSearchDialog::searchPage()
{
    m_filter.offset = int(m_found.size());
    setSearching(true);
    m_status->setText(QStringLiteral("Searching the radio directory\u2026"));
    m_client.search(m_filter);
}

void StationSearchDialog::setSearching(bool searching)
{
    m_searchButton->setEnabled(!searching);
    m_cancelButton->setEnabled(searching);
    m_moreButton->setEnabled(!searching && m_pageFull);
}

void StationSearchDialog::showStations(const QList<DirectoryStation> &stations)
{
    const bool firstPage = m_found.isEmpty();
    m_pageFull = stations.size() >= m_filter.limit;
    setSearching(false);
    for (const DirectoryStation &station : stations)
        addRow(station);
    m_status->setText(
        m_found.isEmpty() ? QStringLiteral("No station found: try fewer or other words.")
        : m_found.size() == 1
            ? QStringLiteral("One station.")
            : QStringLiteral("%1 stations, the best voted first.").arg(m_found.size()));
    if (firstPage && !m_found.isEmpty())
        m_results->selectRow(0);
}

void StationSearchDialog::addRow(const DirectoryStation &station)
{
    const int row = m_results->rowCount();
    m_found.append(station);
    m_results->insertRow(row);
    const auto checked = [&station](const QString &how) {
        return how.arg(QLocale().toString(station.lastCheck.date(), QLocale::ShortFormat));
    };
    const QStringList cells{station.name,
                            station.country,
                            station.codec,
                            station.bitrate > 0 ? QStringLiteral("%1 kbit/s").arg(station.bitrate)
                                                : QString(),
                            station.tags.join(QStringLiteral(", ")),
                            !station.lastCheck.isValid() ? QString()
                            : station.lastCheckOk        ? checked(QStringLiteral("Worked %1"))
                                                         : checked(QStringLiteral("Failed %1"))};
    for (int column = 0; column < ColumnCount; ++column)
        m_results->setItem(row, column, cell(cells.at(column)));
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
