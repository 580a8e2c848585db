#pragma once

#include <memory>

#include <QDialog>
#include <QList>

#include "directory/directoryclient.h"
#include "directory/directorystation.h"

class StationProbe;
namespace Ui {
class StationSearchForm;
}

// Finds a station in the community radio directory without knowing its
// address: a name, narrowed by tag, country, language, codec and bitrate; the
// best voted first. The search runs while the dialog stays usable, can be
// cancelled, and a failure is said in a sentence. Choosing a station accepts
// the dialog; the window takes it from there.
class StationSearchDialog : public QDialog
{
    Q_OBJECT

public:
    StationSearchDialog(const QUrl &directory, QWidget *parent = nullptr);
    ~StationSearchDialog() override;

    // The station chosen; valid once the dialog was accepted.
    const DirectoryStation &chosen() const { return m_chosen; }

    void search();

private:
    void showStations(const QList<DirectoryStation> &stations);
    void showFailure(const QString &reason);
    void searchPage();
    void addRow(const DirectoryStation &station);
    void setSearching(bool searching);
    void choose();
    void tryChosen();

    std::unique_ptr<Ui::StationSearchForm> m_ui;
    DirectoryClient m_client;
    QList<DirectoryStation> m_found;
    DirectoryStation m_chosen;
    StationFilter m_filter;                // of the search shown, its next page's offset
    bool m_pageFull = false;               // the last page came full: there may be more
    std::unique_ptr<StationProbe> m_probe; // while a try runs
};
