#include "servicerequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopedValueRollback>
#include <QTimer>
#include <QUrl>

namespace {
int timeLimit = ServiceRequest::DefaultTimeLimitMs;

// Left to itself Qt asks for gzip and unpacks the whole answer before the first read:
// a few MB of it could unpack to GBs. Asked for this way, Qt passes a body as it came.
const QByteArray EncodingHeader = QByteArrayLiteral("Accept-Encoding");
const QByteArray Identity = QByteArrayLiteral("identity");
const QByteArray ContentEncoding = QByteArrayLiteral("Content-Encoding");

bool isSuccess(int status)
{
    return status >= 200 && status < 300;
}

bool isRedirect(int status)
{
    return status >= 300 && status < 400;
}
} // namespace

ServiceRequest::ServiceRequest(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_deadline(new QTimer(this))
{
    // The transfer time-out only sees silence; this also ends an answer that trickles.
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] { end(false); });
}

ServiceRequest::~ServiceRequest()
{
    abort();
}

void ServiceRequest::setTimeLimitMs(int ms)
{
    timeLimit = qMax(1, ms);
}

int ServiceRequest::timeLimitMs()
{
    return timeLimit;
}

QNetworkReply* ServiceRequest::reply() const
{
    return m_reply;
}

void ServiceRequest::get(const QUrl& url)
{
    abort();
    if (!m_manager)
        return;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeLimit);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setRawHeader(EncodingHeader, Identity);
    m_reply = m_manager->get(request);
    m_reply->setReadBufferSize(MaxBodyBytes);
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        const QScopedValueRollback<bool> inReply(m_inReplySignal, true);
        readBody();
    });
    // The body of a redirect is not the answer.
    connect(m_reply, &QNetworkReply::redirected, this, [this] { m_body.clear(); });
    connect(m_reply, &QNetworkReply::finished, this, [this] {
        const QScopedValueRollback<bool> inReply(m_inReplySignal, true);
        readBody();
        if (m_reply)
            end(m_reply->error() == QNetworkReply::NoError && isAnswer());
    });
    m_deadline->start(timeLimit);
}

void ServiceRequest::readBody()
{
    if (!m_reply)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // The body of a redirect is not the answer; Qt goes on to the new address.
    if (isRedirect(status))
        return;
    // An error page or an encoded body says nothing, however long.
    if (!isAnswer())
        return end(false);
    m_body += m_reply->read(MaxBodyBytes - m_body.size());
    // Only the first field is ever used: the rest of a long answer is not even received.
    if (m_body.size() >= MaxBodyBytes)
        end(true);
}

bool ServiceRequest::isAnswer() const
{
    const QByteArray encoding = m_reply->rawHeader(ContentEncoding).trimmed();
    return isSuccess(m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())
           && (encoding.isEmpty() || encoding.compare(Identity, Qt::CaseInsensitive) == 0);
}

void ServiceRequest::end(bool answered)
{
    if (!release())
        return;
    QByteArray body = answered ? m_body : QByteArray();
    m_body.clear();
    const int nul = body.indexOf('\0');
    if (nul >= 0)
        body.truncate(nul);
    emit finished(answered, body);
}

void ServiceRequest::abort()
{
    release();
    m_body.clear();
}

bool ServiceRequest::release()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return false;
    m_reply = nullptr;
    m_deadline->stop();
    disconnect(reply, nullptr, this, nullptr);
    // Deleted rather than aborted: an error already on its way from the network thread
    // would then be reported a second time (Qt warns of an internal problem), while a
    // deletion drops it and ends the transfer at once. Within one of the reply's own
    // signals it goes later; its read buffer holds no more than the body needs meanwhile.
    if (m_inReplySignal)
        reply->deleteLater();
    else
        delete reply;
    return true;
}
