#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QTcpServer;
class QTcpSocket;
class QTimer;

// A stand-in for the maker's web service, on 127.0.0.1 only: answers the tool's check
// request, firmware check, connectivity probe and the four browser pages with replies
// that a test or a script sets, and records every request with the sensor identity it
// carried in "data=". Speaks just enough HTTP/1.1 for one GET per connection.
class StandInService : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* CheckPath = "/utility/check.php";
    static constexpr const char* FirmwarePath = "/utility/firmware.php";
    static constexpr const char* InternetPath = "/utility/internet.php";
    static constexpr const char* HelpPath = "/utility/help.php";
    static constexpr const char* WebPath = "/utility/web.php";
    static constexpr const char* SupportPath = "/utility/support.php";
    static constexpr const char* RegistrationPath = "/utility/registration.php";

    // Longest request line plus header block accepted; longer ones are refused.
    static constexpr int MaxHeaderBytes = 16 * 1024;

    struct Request {
        QByteArray method;
        QString path;                // percent-decoded, without the query
        QByteArray query;            // raw text after '?'
        bool hasData = false;        // the query carried "data="
        QByteArray data;             // raw value after "data=": no percent or plus decoding
        bool dataWellFormed = false; // strict Base64 (missing padding allowed)
        QStringList identity;        // decoded data split at ';': id, hardware, firmware, tool
        int status = 0;              // status of the answer; 0 when the path is held (setHang)
        QByteArray acceptEncoding;   // the Accept-Encoding header's value; empty when not sent
    };

    explicit StandInService(QObject* parent = nullptr);
    ~StandInService() override;

    // Listens on 127.0.0.1; port 0 picks a free one.
    bool listen(quint16 port = 0);
    bool isListening() const;
    quint16 port() const;
    // "http://127.0.0.1:<port>", without a trailing slash.
    QString baseUrl() const;

    // Fixed body and status for a path; a path given here is answered from then on.
    // A page set this way is still sent as HTML.
    void setReply(const QString& path, const QByteArray& body, int status = 200);
    // Sets check.php and firmware.php together: whether the sensor's firmware and this
    // tool are current.
    void setVerdicts(bool firmwareCurrent, bool toolCurrent = true);
    // A held path is received and logged but never answered (time-out tests).
    void setHang(const QString& path, bool hang);
    // Answers a path only after the given time.
    void setDelay(const QString& path, int milliseconds);
    // Answers a path with its body and then ";" without end, as fast as the client reads
    // (bounded-body tests). The answer has no length and never finishes.
    void setEndless(const QString& path, bool endless);
    // Answers a path with its body gzip-encoded ("Content-Encoding: gzip"), whatever the
    // request asked for, as a hostile service could: a small answer that unpacks large.
    void setGzip(const QString& path, bool gzip);
    // gzip of the data (one member, deflate), as setGzip sends it.
    static QByteArray gzip(const QByteArray& data);
    // Answers a path with 302 and this Location (an address or a path); empty: no redirect.
    void setRedirect(const QString& path, const QByteArray& location);
    // Back to the default replies, nothing held or delayed.
    void resetReplies();
    // A client that has not completed its request header within this time gets 408.
    void setHeaderTimeout(int milliseconds);

    QVector<Request> requests() const;
    void clearRequests();
    // Client connections still open (held ones included).
    int openConnections() const;
    // Bytes of request headers received but not yet complete, over all connections.
    qint64 bufferedBytes() const;

    // The "data=" value the tool sends: Base64 of the local 8-bit text of the fields
    // joined by ';'.
    static QByteArray encodeIdentity(const QStringList& fields);
    // Decodes leniently (invalid characters skipped, padding optional); wellFormed tells
    // whether the text was strict Base64.
    static QStringList decodeIdentity(const QByteArray& data, bool* wellFormed = nullptr);

signals:
    void requestReceived(const StandInService::Request& request);

private:
    struct Reply {
        QByteArray body;
        int status = 200;
        QByteArray contentType;
        QString pageTitle; // set for a page whose body is built from the request
    };

    struct Connection {
        QByteArray buffer;
        QTimer* headerTimer = nullptr;
        bool requestLineChecked = false;
        bool done = false; // answered, refused or held: later input is discarded
        QByteArray method;
        QByteArray target;
        QByteArray acceptEncoding;
    };

    void acceptConnections();
    void readFrom(QTcpSocket* socket);
    void process(QTcpSocket* socket, Connection& connection);
    void handle(QTcpSocket* socket, const Connection& connection);
    void refuse(QTcpSocket* socket, Connection& connection, int status, const char* why);
    static void send(QTcpSocket* socket, const QByteArray& response);
    static void sendEndless(QTcpSocket* socket, const QByteArray& body);
    static QByteArray response(int status, const QByteArray& contentType, const QByteArray& body,
                               bool withBody, const QByteArray& extraHeaders = {});
    static QByteArray page(const QString& title, const Request& request);

    QTcpServer* m_server;
    QHash<QString, Reply> m_replies;
    QHash<QString, bool> m_hang;
    QHash<QString, int> m_delay;
    QHash<QString, bool> m_endless;
    QHash<QString, bool> m_gzip;
    QHash<QString, QByteArray> m_redirect;
    QHash<QTcpSocket*, Connection> m_connections;
    QVector<Request> m_requests;
    int m_headerTimeout;
};

Q_DECLARE_METATYPE(StandInService::Request)
