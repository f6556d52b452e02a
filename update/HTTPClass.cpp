#include "update/HTTPClass.h"

#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslSocket>

namespace {

// A host name or address means plain HTTP; a URL may only name the scheme
// and the host, so the port and the path stay where the caller puts them.
QUrl OriginOf(const QString& server) {
    const QString text = server.trimmed();
    QUrl origin;
    if (text.contains(QStringLiteral("://"))) {
        origin = QUrl(text, QUrl::StrictMode);
        const bool bare = (origin.path().isEmpty() || origin.path() == QLatin1String("/")) &&
                          !origin.hasQuery() && !origin.hasFragment() &&
                          origin.userInfo().isEmpty() && origin.port() == -1;
        if (!bare) return QUrl();
        origin.setPath(QString());
    } else {
        origin.setScheme(QStringLiteral("http"));
        origin.setHost(text, QUrl::StrictMode);
    }
    const QString scheme = origin.scheme().toLower();
    if (!origin.isValid() || origin.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QUrl();
    origin.setScheme(scheme);
    return origin;
}

// Qt turns an error status into an error code of its own; such a transfer
// still completed, and the status tells the caller all there is to know.
bool TransferFailed(const QNetworkReply& reply, int status) {
    const int code = reply.error();
    if (code == QNetworkReply::NoError) return false;
    const bool fromStatus =
        (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError &&
         code != QNetworkReply::ContentReSendError) ||
        (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
    return !(status >= 400 && fromStatus);
}

// Qt's error texts quote the URL, and the query string carries the form
// fields: every form of it is cut out before the text can reach a log.
QString Describe(const QNetworkReply& reply, int timeoutMs) {
    // Only the transfer time-out cancels a reply that still has a listener.
    if (reply.error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("no data for %1 seconds").arg(timeoutMs / 1000.0);
    QString text = reply.errorString();
    for (const QUrl& url : {reply.url(), reply.request().url()}) {
        const QString shown = url.adjusted(QUrl::RemoveQuery | QUrl::RemoveUserInfo).toString();
        for (const QString& form :
             {url.toString(), url.toDisplayString(), QString::fromLatin1(url.toEncoded())})
            text.replace(form, shown);
        if (url.hasQuery()) {
            text.replace(url.query(QUrl::FullyEncoded), QStringLiteral("..."));
            text.replace(url.query(QUrl::FullyDecoded), QStringLiteral("..."));
        }
    }
    return text;
}

}  // namespace

HTTPClass::HTTPClass(QObject* parent) : QObject(parent) {}

HTTPClass::~HTTPClass() { CloseHTTP(); }

qsizetype HTTPClass::FindField(const QString& name) const {
    for (qsizetype i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].first.compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void HTTPClass::Fields(const QString& name, const QString& value) {
    const qsizetype at = FindField(name);
    if (at < 0)
        m_fields.append({name, value});
    else
        m_fields[at].second = value;
}

QString HTTPClass::Fields(const QString& name) const {
    const qsizetype at = FindField(name);
    return at < 0 ? QString() : m_fields[at].second;
}

QString HTTPClass::EncodedFields() const {
    QStringList pairs;
    for (const auto& [name, value] : m_fields)
        pairs << URLEncode(name) + QLatin1Char('=') + URLEncode(value);
    return pairs.join(QLatin1Char('&'));
}

QString HTTPClass::URLEncode(const QString& data) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString encoded;
    encoded.reserve(data.size() * 3);
    for (const QChar c : data) {
        const auto byte = static_cast<unsigned char>(c.unicode() & 0xFF);
        const bool kept = (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= 'A' && byte <= 'Z');
        if (kept) {
            encoded += QLatin1Char(static_cast<char>(byte));
        } else {
            encoded += QLatin1Char('%');
            encoded += QLatin1Char(kHex[byte >> 4]);
            encoded += QLatin1Char(kHex[byte & 0x0F]);
        }
    }
    return encoded;
}

bool HTTPClass::OpenHTTP(const QString& server, int port, const QString& userName,
                         const QString& password) {
    CloseHTTP();
    QUrl origin = OriginOf(server);
    if (origin.isEmpty() || port < 0 || port > 65535) return false;
    if (origin.scheme() == QLatin1String("https") && !QSslSocket::supportsSsl()) return false;
    if (port > 0) origin.setPort(port);
    m_origin = origin;
    // Sent with the first request, not only after a challenge: a server that
    // guards the download with Basic authorization answers at once, and the
    // same password travels in the form fields anyway.
    if (!userName.isEmpty())
        m_authorization = "Basic " + (userName + QLatin1Char(':') + password).toUtf8().toBase64();
    m_session = std::make_unique<QNetworkAccessManager>();
    m_session->setProxy(QNetworkProxy::NoProxy);
    // The credentials never follow a redirect to another server.
    m_session->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    return true;
}

void HTTPClass::CloseHTTP() {
    ++m_generation;
    if (m_session) {
        for (QNetworkReply* reply : m_session->findChildren<QNetworkReply*>()) {
            disconnect(reply, nullptr, this, nullptr);
            reply->abort();
        }
        m_session.reset();
    }
    m_origin.clear();
    m_authorization.clear();
}

QNetworkRequest HTTPClass::BuildRequest(const QUrl& url, bool reload) const {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("HTTP Client"));
    // The body must arrive as the server stores it, so that its length can be
    // checked against the Content-Length the server declares.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(m_transferTimeoutMs);
    if (!m_authorization.isEmpty()) request.setRawHeader("Authorization", m_authorization);
    if (reload) {
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setRawHeader("Cache-Control", "no-cache");
        request.setRawHeader("Pragma", "no-cache");
    }
    return request;
}

void HTTPClass::SendRequest(const QString& file, const QString& method, bool reload,
                            Finished finished) {
    if (!m_session) {
        Deliver(finished, HttpResponse{.error = QStringLiteral("no server is open")});
        return;
    }
    QByteArray verb = method.toUpper().toLatin1();
    if (verb.isEmpty()) verb = "GET";
    const QByteArray fields = EncodedFields().toLatin1();
    const bool post = verb == "POST";
    QUrl url = m_origin;
    url.setPath(file.startsWith(QLatin1Char('/')) ? file : QLatin1Char('/') + file);
    if (!fields.isEmpty() && !post) url.setQuery(QString::fromLatin1(fields));
    QNetworkRequest request = BuildRequest(url, reload);
    QNetworkReply* reply = nullptr;
    if (post && !fields.isEmpty()) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QStringLiteral("application/x-www-form-urlencoded"));
        reply = m_session->sendCustomRequest(request, verb, fields);
    } else {
        reply = m_session->sendCustomRequest(request, verb);
    }
    auto sent = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::requestSent, this, [sent] { *sent = true; });
    connect(reply, &QNetworkReply::finished, this, [this, reply, finished, sent] {
        reply->deleteLater();
        Deliver(finished, Collect(*reply, *sent));
    });
}

HttpResponse HTTPClass::Collect(QNetworkReply& reply, bool requestSent) const {
    HttpResponse response;
    response.requestSent = requestSent;
    response.status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid()) response.contentLength = length.toLongLong();
    if (reply.isOpen()) response.body = reply.readAll();
    if (TransferFailed(reply, response.status))
        response.error = Describe(reply, m_transferTimeoutMs);
    return response;
}

void HTTPClass::Deliver(const Finished& finished, HttpResponse response) {
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, finished, response = std::move(response)] {
            if (generation == m_generation && finished) finished(response);
        },
        Qt::QueuedConnection);
}
