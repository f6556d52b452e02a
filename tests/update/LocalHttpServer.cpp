#include "LocalHttpServer.h"

#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpSocket>

namespace {

// Parses a whole request from the start of buffer; false while it is incomplete.
bool ParseRequest(const QByteArray& buffer, ReceivedRequest& request) {
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) return false;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
    request = ReceivedRequest{};
    request.method = start.value(0);
    request.target = start.value(1);
    request.version = start.value(2);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
    }
    const qsizetype length = request.Header("content-length").toLongLong();
    if (buffer.size() < headEnd + 4 + length) return false;
    request.body = buffer.mid(headEnd + 4, length);
    return true;
}

QByteArray Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        default:
            return "Status";
    }
}

}  // namespace

QByteArray ReceivedRequest::Header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key == name.toLower()) return value;
    return QByteArray();
}

int ReceivedRequest::HeaderCount(const QByteArray& name) const {
    int count = 0;
    for (const auto& header : headers)
        if (header.first == name.toLower()) ++count;
    return count;
}

LocalHttpServer::LocalHttpServer() : m_server(std::make_unique<QTcpServer>()) {
    Respond(CannedResponse{});
}

LocalHttpServer::LocalHttpServer(const QSslCertificate& certificate, const QSslKey& key) {
    auto server = std::make_unique<QSslServer>();
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(configuration);
    m_server = std::move(server);
    Respond(CannedResponse{});
}

LocalHttpServer::~LocalHttpServer() = default;

bool LocalHttpServer::Start() {
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &LocalHttpServer::Accept);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

void LocalHttpServer::Respond(CannedResponse response) {
    m_responder = [response](const ReceivedRequest&) { return response; };
}

void LocalHttpServer::Accept() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Serve(socket); });
        if (socket->bytesAvailable() > 0) Serve(socket);
    }
}

void LocalHttpServer::Serve(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    ReceivedRequest request;
    if (!ParseRequest(buffer, request)) return;
    socket->setProperty("buffer", QByteArray());
    requests.append(request);
    const CannedResponse response = m_responder(request);
    if (response.silent) return;
    const qint64 length =
        response.declaredLength >= 0 ? response.declaredLength : response.body.size();
    socket->write("HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                  Reason(response.status) + "\r\nContent-Length: " + QByteArray::number(length) +
                  "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
    socket->write(response.body);
    socket->disconnectFromHost();
}
