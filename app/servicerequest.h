#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUrl;

// One kind of request to the maker's web service (the check, the firmware check, the
// connectivity probe), sent through its owner's network manager. A service that never
// answers, answers without end or redirects in circles costs a bounded time and a
// bounded body: the request has a time limit, follows at most a few redirects and only
// to the same host, and reads no more of the body than its first field can need. It asks
// for the body unencoded and takes no other: a compressed one would be unpacked whole
// before the first read. A new request of the same kind drops the one still out.
class ServiceRequest : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxBodyBytes = 4096;
    static constexpr int MaxRedirects = 5;
    static constexpr int DefaultTimeLimitMs = 10000;

    explicit ServiceRequest(QNetworkAccessManager* manager, QObject* parent = nullptr);
    ~ServiceRequest() override;

    // Sends a GET; a request of this one still out is dropped first, unanswered.
    void get(const QUrl& url);
    // Drops the request still out, if any; finished() does not follow.
    void abort();
    bool isPending() const { return !m_reply.isNull(); }
    QNetworkReply* reply() const;

    // For every request sent from then on; tests shorten it.
    static void setTimeLimitMs(int ms);
    static int timeLimitMs();

signals:
    // Once per request that was not dropped. answered: the service sent a complete
    // success reply (2xx, not encoded), or one longer than MaxBodyBytes; body: at most its first
    // MaxBodyBytes, up to the first zero byte (empty when not answered).
    void finished(bool answered, const QByteArray& body);

private:
    void readBody();
    // A 2xx status and a body as sent (no content encoding): anything else is no answer.
    bool isAnswer() const;
    void end(bool answered);
    // Stops the request still out; false when there was none.
    bool release();

    QPointer<QNetworkAccessManager> m_manager;
    QPointer<QNetworkReply> m_reply;
    QTimer* m_deadline = nullptr;
    QByteArray m_body;
    // Set while one of the reply's own signals is handled: the reply must outlive it.
    bool m_inReplySignal = false;
};
