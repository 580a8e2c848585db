#include "web/connectionlimits.h"

#include <unistd.h>

#include <QTcpSocket>
#include <QTimer>

ConnectionLimits::ConnectionLimits(QObject *parent) : QTcpServer(parent) {}

void ConnectionLimits::incomingConnection(qintptr descriptor)
{
    if (m_open >= maxConnections) {
        ::close(int(descriptor));
        return;
    }
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    ++m_open;
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        --m_open;
        socket->deleteLater();
    });
    guard(socket);
    addPendingConnection(socket);
}

// Connected before the HTTP library's own handlers, so that these see each
// piece of a request first; the library reads all that has come at each turn.
void ConnectionLimits::guard(QTcpSocket *socket)
{
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    deadline->start(replyTimeoutMs);
    QObject::connect(deadline, &QTimer::timeout, socket, &QTcpSocket::abort);
    auto received = std::make_shared<qint64>(0);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, received] {
        *received += socket->bytesAvailable();
        if (*received <= maxRequestBytes)
            return;
        socket->write("HTTP/1.1 413 Content Too Large\r\nContent-Length: 0\r\n"
                      "Connection: close\r\n\r\n");
        socket->flush();
        socket->abort();
    });
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [received, deadline] {
        *received = 0;
        deadline->start(replyTimeoutMs);
    });
}
