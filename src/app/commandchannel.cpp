#include "app/commandchannel.h"

#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include "app/instancelock.h"

namespace {

// A change stores the list, and a list with many recordings takes a while.
constexpr int answerTimeoutMs = 20000;

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> objectOf(const QByteArray &text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text);
    return document.isObject() ? std::optional(document.object()) : std::nullopt;
}

} // namespace

CommandChannel::CommandChannel(const QString &listPath, QObject *parent)
    : QObject(parent), m_listPath(listPath)
{}

QString CommandChannel::socketName(const QString &listPath)
{
    const QString name = InstanceLock::serverName(listPath);
    return name.isEmpty() ? name : name + QStringLiteral("-commands");
}

bool CommandChannel::listen(Handler handler)
{
    const QString name = socketName(m_listPath);
    if (name.isEmpty())
        return false;
    m_handler = std::move(handler);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Left by a holder that is gone: while the lock is ours, no other copy serves this list.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name))
        return false;
    QObject::connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return true;
}

void CommandChannel::serve(QLocalSocket *socket)
{
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!InstanceLock::peerIsUser(socket->socketDescriptor())) {
        socket->abort();
        return;
    }
    QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > maxRequestBytes)
                socket->abort();
            return;
        }
        const std::optional<QJsonObject> request = objectOf(socket->readLine(maxRequestBytes));
        const QJsonObject answer =
            request ? m_handler(*request)
                    : QJsonObject{{QStringLiteral("error"),
                                   QStringLiteral("The request is not a JSON object.")}};
        socket->write(line(answer));
        socket->disconnectFromServer();
    });
}

std::optional<QJsonObject> CommandChannel::ask(const QString &listPath, const QJsonObject &request)
{
    const QString name = socketName(listPath);
    if (name.isEmpty())
        return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000) || !InstanceLock::peerIsUser(socket.socketDescriptor()))
        return std::nullopt;
    socket.write(line(request));
    socket.flush();
    QByteArray answer;
    while (!answer.endsWith('\n') && socket.waitForReadyRead(answerTimeoutMs))
        answer += socket.readAll();
    return objectOf(answer);
}
