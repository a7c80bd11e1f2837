#pragma once
// A small HTTP/1.1 server on the loopback interface for tests of network code: it serves fixed bodies,
// error statuses and redirects, can close the connection partway through a body or hold it there until
// told to go on, and can speak TLS with a given certificate. One request per connection.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

namespace hexaloom {

class HttpTestServer : public QObject
{
public:
    // Plain HTTP; with a certificate and key, HTTPS.
    HttpTestServer();
    HttpTestServer(const QSslCertificate& certificate, const QSslKey& key);
    ~HttpTestServer() override;

    // Listens on 127.0.0.1 on a free port; false when that fails.
    bool listen();
    // "http://127.0.0.1:<port><path>" (https with TLS).
    QString url(const QString& path) const;

    // `path` answers 200 with the body. A path not set answers 404.
    void serve(const QString& path, const QByteArray& body);
    // `path` answers with the status and a short text body.
    void serveStatus(const QString& path, int status);
    // `path` answers with the status and a Location header.
    void redirect(const QString& path, const QString& location, int status = 302);
    // The headers promise the whole body, but only its first `bytes` bytes are sent before the
    // connection is closed.
    void closeMidway(const QString& path, const QByteArray& body, qint64 bytes);
    // Sends the first `bytes` bytes, then waits for release() before sending the rest.
    void holdMidway(const QString& path, const QByteArray& body, qint64 bytes);
    void release();
    // Sends the body one byte every `intervalMs` milliseconds.
    void trickle(const QString& path, const QByteArray& body, int intervalMs);

    // The request lines received ("GET /path"), and each request's headers (lower-case names).
    const QStringList& requests() const { return m_requests; }
    const QList<QHash<QByteArray, QByteArray>>& requestHeaders() const { return m_headers; }
    // True once a held response has sent its first part.
    bool holding() const { return !m_held.isEmpty(); }
    // Connections not yet closed by either side.
    int openConnections() const { return m_open; }

private:
    struct Route
    {
        int status = 200;
        QByteArray body;
        QByteArray location;
        qint64 stopAfter = -1; // bytes of the body sent before closing or holding; -1 all
        bool hold = false;
        int trickleMs = 0;
    };

    void accept();
    void handle(QTcpSocket* socket);
    void respond(QTcpSocket* socket, const Route& route);

    QTcpServer* m_server;
    QHash<QString, Route> m_routes;
    QStringList m_requests;
    QList<QHash<QByteArray, QByteArray>> m_headers;
    QList<QPair<QPointer<QTcpSocket>, QByteArray>> m_held; // held connections and what they still owe
    int m_open = 0;
};

} // namespace hexaloom
