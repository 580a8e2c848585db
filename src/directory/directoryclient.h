#pragma once

#include <functional>

#include <QList>
#include <QObject>
#include <QUrl>

#include "directory/directoryapi.h"
#include "directory/directorystation.h"
#include "platform/httptransfer.h"

// Searches the community radio directory without ever making the caller
// wait. As the directory asks of its clients, the first search reads the
// published list of its servers and picks one (falling back to the address
// it was given when the list cannot be had), every request says
// "User-Agent: Skyvane/<version>", and a station taken into Skyvane is
// counted as a click. Answers are read up to DirectoryApi::maxAnswerBytes.
// One search runs at a time: a new one, or cancel(), ends the one before.
class DirectoryClient : public QObject
{
    Q_OBJECT

public:
    // The public directory's address, which names all its servers.
    static QUrl defaultBaseUrl();

    explicit DirectoryClient(const QUrl &baseUrl = defaultBaseUrl(), QObject *parent = nullptr);
    ~DirectoryClient() override;

    const QUrl &baseUrl() const { return m_base; }
    void setBaseUrl(const QUrl &url)
    {
        m_base = url;
        m_server.clear();
    }
    void search(const StationFilter &filter);
    void cancel();
    // Tells the directory that a station was taken into Skyvane, as its
    // etiquette asks; nothing waits for the answer, and a failure changes
    // nothing for the user.
    void countClick(const QString &uuid);

Q_SIGNALS:
    void stationsFound(const QList<DirectoryStation> &stations);
    // Why the search came to nothing, in a sentence for a person.
    void searchFailed(const QString &reason);

private:
    using Answer = std::function<void(const QByteArray &body)>;
    using Failure = std::function<void(const QString &reason)>;

    void fetch(const QUrl &url, Answer answered, Failure failed);
    void searchOn(const QUrl &server, const StationFilter &filter);

    QUrl m_base;
    QUrl m_server; // the server picked; empty until the list was read
    HttpTransferPtr m_transfer;
    HttpTransferPtr m_click;
};
