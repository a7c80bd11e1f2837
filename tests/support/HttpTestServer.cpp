#include "HttpTestServer.h"

#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace hexaloom {

namespace {
QByteArray Reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}
} // namespace

HttpTestServer::HttpTestServer() : m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &HttpTestServer::accept);
}

HttpTestServer::HttpTestServer(const QSslCertificate& certificate, const QSslKey& key)
{
    auto* server = new QSslServer(this);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(configuration);
    m_server = server;
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &HttpTestServer::accept);
}

HttpTestServer::~HttpTestServer() = default;

bool HttpTestServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QString HttpTestServer::url(const QString& path) const
{
    const bool tls = qobject_cast<QSslServer*>(m_server) != nullptr;
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(m_server->serverPort())
        .arg(path);
}

void HttpTestServer::serve(const QString& path, const QByteArray& body)
{
    m_routes.insert(path, Route{200, body, {}, -1, false});
}

void HttpTestServer::serveStatus(const QString& path, int status)
{
    m_routes.insert(path, Route{status, Reason(status) + "\n", {}, -1, false});
}

void HttpTestServer::redirect(const QString& path, const QString& location, int status)
{
    m_routes.insert(path, Route{status, {}, location.toUtf8(), -1, false});
}

void HttpTestServer::closeMidway(const QString& path, const QByteArray& body, qint64 bytes)
{
    m_routes.insert(path, Route{200, body, {}, bytes, false});
}

void HttpTestServer::holdMidway(const QString& path, const QByteArray& body, qint64 bytes)
{
    m_routes.insert(path, Route{200, body, {}, bytes, true});
}

void HttpTestServer::trickle(const QString& path, const QByteArray& body, int intervalMs)
{
    Route route{200, body, {}, 0, false};
    route.trickleMs = intervalMs;
    m_routes.insert(path, route);
}

void HttpTestServer::release()
{
    for (auto& [socket, rest] : m_held) {
        if (!socket)
            continue;
        socket->write(rest);
        socket->disconnectFromHost();
    }
    m_held.clear();
}

void HttpTestServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        ++m_open;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handle(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --m_open;
            socket->deleteLater();
        });
    }
}

void HttpTestServer::handle(QTcpSocket* socket)
{
    // The whole request head; the requests of the code under test have no body.
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> lines = head.left(end).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromUtf8(requestLine.at(1)) : QString();
    m_requests.append(QString::fromUtf8(requestLine.first()) + QLatin1Char(' ') + path);
    QHash<QByteArray, QByteArray> headers;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    m_headers.append(headers);
    respond(socket, m_routes.value(path, Route{404, "Not Found\n", {}, -1, false}));
}

void HttpTestServer::respond(QTcpSocket* socket, const Route& route)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + Reason(route.status) + "\r\n";
    if (!route.location.isEmpty())
        head += "Location: " + route.location + "\r\n";
    head += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head);
    if (route.stopAfter < 0) {
        socket->write(route.body);
        socket->disconnectFromHost();
        return;
    }
    socket->write(route.body.left(route.stopAfter));
    if (route.trickleMs > 0) {
        // One byte per tick, for as long as the other side listens.
        auto* timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        const QByteArray body = route.body;
        connect(timer, &QTimer::timeout, socket, [socket, body, sent] {
            if (*sent < body.size())
                socket->write(body.mid((*sent)++, 1));
        });
        timer->start(route.trickleMs);
        return;
    }
    if (route.hold) {
        socket->flush();
        m_held.append({QPointer<QTcpSocket>(socket), route.body.mid(route.stopAfter)});
        return;
    }
    socket->disconnectFromHost();
}

} // namespace hexaloom
