#include "ui/stationsearchdialog.h"

#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>

#include "capture/stationprobe.h"
#include "ui/plaintext.h"
#include "ui_stationsearchdialog.h"

namespace {

enum Column { Name, Country, Codec, Bitrate, Tags, LastCheck, ColumnCount };

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    // The directory's words: a tooltip would read them as markup.
    item->setToolTip(PlainText::toolTip(text));
    return item;
}

} // namespace

StationSearchDialog::StationSearchDialog(const QUrl &directory, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::StationSearchForm>()), m_client(directory)
{
    m_ui->setupUi(this);
    QHeaderView *header = m_ui->searchResults->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(Name, QHeaderView::Stretch);
    header->setSectionResizeMode(Tags, QHeaderView::Stretch);

    QObject::connect(m_ui->searchButton, &QPushButton::clicked, this, &StationSearchDialog::search);
    QObject::connect(m_ui->cancelButton, &QPushButton::clicked, this, [this] {
        m_client.cancel();
        setSearching(false);
        m_ui->searchStatus->setText(QStringLiteral("The search was stopped."));
    });
    QObject::connect(m_ui->addButton, &QPushButton::clicked, this, &StationSearchDialog::choose);
    QObject::connect(m_ui->tryButton, &QPushButton::clicked, this, &StationSearchDialog::tryChosen);
    QObject::connect(m_ui->moreButton, &QPushButton::clicked, this,
                     &StationSearchDialog::searchPage);
    QObject::connect(m_ui->searchResults, &QTableWidget::cellDoubleClicked, this,
                     &StationSearchDialog::choose);
    QObject::connect(m_ui->searchResults, &QTableWidget::itemSelectionChanged, this, [this] {
        m_ui->addButton->setEnabled(!m_ui->searchResults->selectedItems().isEmpty());
        m_ui->tryButton->setEnabled(m_ui->addButton->isEnabled() && !m_probe);
    });
    QObject::connect(&m_client, &DirectoryClient::stationsFound, this,
                     &StationSearchDialog::showStations);
    QObject::connect(&m_client, &DirectoryClient::searchFailed, this,
                     &StationSearchDialog::showFailure);
}

void StationSearchDialog::search()
{
    m_filter = StationFilter();
    m_filter.name = m_ui->searchName->text();
    m_filter.tag = m_ui->searchTag->text();
    m_filter.country = m_ui->searchCountry->text();
    m_filter.language = m_ui->searchLanguage->text();
    m_filter.codec = m_ui->searchCodec->text();
    m_filter.minBitrate = m_ui->searchMinBitrate->value();
    m_found.clear();
    m_ui->searchResults->setRowCount(0);
    searchPage();
}

// The next page of the same search, added below the stations shown.
void StationSearchDialog::searchPage()
{
    m_filter.offset = int(m_found.size());
    setSearching(true);
    m_ui->searchStatus->setText(QStringLiteral("Searching the radio directory\u2026"));
    m_client.search(m_filter);
}

void StationSearchDialog::setSearching(bool searching)
{
    m_ui->searchButton->setEnabled(!searching);
    m_ui->cancelButton->setEnabled(searching);
    m_ui->moreButton->setEnabled(!searching && m_pageFull);
}

void StationSearchDialog::showStations(const QList<DirectoryStation> &stations)
{
    const bool firstPage = m_found.isEmpty();
    m_pageFull = stations.size() >= m_filter.limit;
    setSearching(false);
    for (const DirectoryStation &station : stations)
        addRow(station);
    m_ui->searchStatus->setText(
        m_found.isEmpty() ? QStringLiteral("No station found: try fewer or other words.")
        : m_found.size() == 1
            ? QStringLiteral("One station.")
            : QStringLiteral("%1 stations, the best voted first.").arg(m_found.size()));
    if (firstPage && !m_found.isEmpty())
        m_ui->searchResults->selectRow(0);
}

void StationSearchDialog::addRow(const DirectoryStation &station)
{
    const int row = m_ui->searchResults->rowCount();
    m_found.append(station);
    m_ui->searchResults->insertRow(row);
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
        m_ui->searchResults->setItem(row, column, cell(cells.at(column)));
}

void StationSearchDialog::showFailure(const QString &reason)
{
    setSearching(false);
    m_ui->searchStatus->setText(reason);
}

StationSearchDialog::~StationSearchDialog() = default;

// The station picked, tried for a few seconds: its format, and whether it
// sends titles, in the status line.
void StationSearchDialog::tryChosen()
{
    const int row = m_ui->searchResults->currentRow();
    if (row < 0 || row >= m_found.size())
        return;
    m_probe = std::make_unique<StationProbe>();
    QObject::connect(m_probe.get(), &StationProbe::finished, this,
                     [this](const ProbeReport &report) {
                         m_probe.release()->deleteLater(); // inside its own signal
                         m_ui->tryButton->setEnabled(m_ui->addButton->isEnabled());
                         m_ui->searchStatus->setText(report.sentence());
                     });
    m_ui->tryButton->setEnabled(false);
    m_ui->searchStatus->setText(
        QStringLiteral("Trying %1 for up to ten seconds\u2026").arg(m_found.at(row).name));
    m_probe->start(m_found.at(row).streamUrl);
}

void StationSearchDialog::choose()
{
    const int row = m_ui->searchResults->currentRow();
    if (row < 0 || row >= m_found.size())
        return;
    m_chosen = m_found.at(row);
    accept();
}
