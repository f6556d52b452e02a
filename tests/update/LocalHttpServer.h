#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for the update tests: it records every
// request as it arrived and answers with what the test prescribes, including
// answers no good server gives (a body cut short, no answer at all).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <functional>
#include <memory>
#include <ostream>

// Failures show byte strings as text.
inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"' << bytes.toStdString() << '"';
}

struct ReceivedRequest {
    QByteArray method;
    QByteArray target;
    QByteArray version;
    // Header lines in arrival order, names in lower case.
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The first value of the header; empty when absent.
    QByteArray Header(const QByteArray& name) const;
    int HeaderCount(const QByteArray& name) const;
};

struct CannedResponse {
    int status = 200;
    QByteArray body;
    // The Content-Length sent; -1 sends the body's length. A larger value
    // than the body makes the server close the connection early.
    qint64 declaredLength = -1;
    // Accept the request and never answer.
    bool silent = false;
};

class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    using Responder = std::function<CannedResponse(const ReceivedRequest&)>;

    LocalHttpServer();
    // Serves HTTPS with this certificate and key.
    LocalHttpServer(const QSslCertificate& certificate, const QSslKey& key);
    ~LocalHttpServer() override;

    // Listens on a free port of 127.0.0.1.
    bool Start();
    quint16 Port() const { return m_server->serverPort(); }

    void Respond(CannedResponse response);
    void Respond(Responder responder) { m_responder = std::move(responder); }

    QList<ReceivedRequest> requests;

private:
    void Accept();
    void Serve(QTcpSocket* socket);

    std::unique_ptr<QTcpServer> m_server;
    Responder m_responder;
};
