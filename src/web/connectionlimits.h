#pragma once

#include <QTcpServer>

class QTcpSocket;

// The listening socket of the web page, with the bounds that the HTTP
// library does not keep by itself: at most 32 connections at once (a further
// one is closed as it comes), at most 1 MiB sent on a connection between two
// replies (a request that grows past it is cut off), and at most 30 seconds
// without a reply (a request sent slowly to hold a connection, or a
// connection left idle, is closed).
class ConnectionLimits : public QTcpServer
{
    Q_OBJECT

public:
    explicit ConnectionLimits(QObject *parent = nullptr);

    static constexpr int maxConnections = 32;
    static constexpr qint64 maxRequestBytes = 1 << 20;
    static constexpr int replyTimeoutMs = 30000;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void guard(QTcpSocket *socket);

    int m_open = 0;
};
