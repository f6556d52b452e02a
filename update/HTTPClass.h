#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <utility>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// What came back for one request. The class reports the status and leaves
// judging it to the caller: the body of an error page is returned like any
// other body.
struct HttpResponse {
    // 0 when no HTTP answer arrived at all (nothing listens, TLS refused, ...).
    int status = 0;
    // The request reached the server: the connection was made (and secured)
    // and the request sent. With status 0, the server never answered it.
    bool requestSent = false;
    // The Content-Length the server declared; -1 when it declared none.
    qint64 contentLength = -1;
    // Every byte received, exactly as sent.
    QByteArray body;
    // Why the transfer failed; empty when it completed. Never holds the query
    // string, which carries the form fields (and with them a password).
    QString error;
};

// A small HTTP client: a table of form fields, one open server with optional
// credentials, and requests that return the whole body. Transfers run
// asynchronously on the caller's event loop; the caller is told through a
// callback and never waits inside a nested event loop.
class HTTPClass : public QObject {
    Q_OBJECT
public:
    using Finished = std::function<void(const HttpResponse&)>;

    static constexpr int kDefaultTransferTimeoutMs = 60000;

    explicit HTTPClass(QObject* parent = nullptr);
    ~HTTPClass() override;

    // Sets a field; names compare without regard to case and a new name is
    // added after the others, so fields keep the order they were first set in.
    void Fields(const QString& name, const QString& value);
    // The field's value; "" for a name never set (which adds nothing).
    QString Fields(const QString& name) const;

    // Server is a host name or address (plain HTTP) or "https://host" (TLS
    // with the certificate verified against the system's trusted authorities).
    // Port 0 means the scheme's default port. Credentials go with every
    // request as HTTP Basic authorization. False when the server or port is
    // not usable, or TLS is asked for and not available.
    bool OpenHTTP(const QString& server, int port = 0, const QString& userName = QString(),
                  const QString& password = QString());
    // Abandons any running request (its callback is not called) and closes.
    void CloseHTTP();
    bool IsOpen() const { return m_session != nullptr; }

    // Sends one request for file (the path on the server). GET and any other
    // method but POST carry the fields in the query string; POST carries them
    // as a form-encoded body. Reload asks every cache on the way for a fresh
    // copy. The callback always comes later, from the event loop, so the
    // caller may close the client inside it (or delete it with deleteLater).
    void SendRequest(const QString& file, const QString& method, bool reload, Finished finished);

    // A transfer that moves no data for this long is abandoned.
    void SetTransferTimeout(int ms) { m_transferTimeoutMs = ms; }

    // Keeps letters and digits; every other byte (the low 8 bits of each
    // character) becomes "%" and two upper-case hexadecimal digits.
    static QString URLEncode(const QString& data);

private:
    qsizetype FindField(const QString& name) const;
    QString EncodedFields() const;
    QNetworkRequest BuildRequest(const QUrl& url, bool reload) const;
    void Deliver(const Finished& finished, HttpResponse response);
    HttpResponse Collect(QNetworkReply& reply, bool requestSent) const;

    std::unique_ptr<QNetworkAccessManager> m_session;
    QUrl m_origin;
    QByteArray m_authorization;
    QList<std::pair<QString, QString>> m_fields;
    int m_transferTimeoutMs = kDefaultTransferTimeoutMs;
    // Counts closes, so a callback already queued when the client closed is
    // dropped.
    quint64 m_generation = 0;
};
