#include "standinservice.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cctype>
#include <utility>

namespace {

constexpr int DefaultHeaderTimeoutMs = 30000;
// An endless answer adds this much whenever the client has taken the last of it.
constexpr int EndlessChunkBytes = 16 * 1024;
constexpr int EndlessTickMs = 2;

const QByteArray PlainText = QByteArrayLiteral("text/plain");
const QByteArray Html = QByteArrayLiteral("text/html; charset=utf-8");

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return QByteArrayLiteral("OK");
    case 204: return QByteArrayLiteral("No Content");
    case 301: return QByteArrayLiteral("Moved Permanently");
    case 302: return QByteArrayLiteral("Found");
    case 400: return QByteArrayLiteral("Bad Request");
    case 403: return QByteArrayLiteral("Forbidden");
    case 404: return QByteArrayLiteral("Not Found");
    case 405: return QByteArrayLiteral("Method Not Allowed");
    case 408: return QByteArrayLiteral("Request Timeout");
    case 414: return QByteArrayLiteral("URI Too Long");
    case 431: return QByteArrayLiteral("Request Header Fields Too Large");
    case 500: return QByteArrayLiteral("Internal Server Error");
    case 502: return QByteArrayLiteral("Bad Gateway");
    case 503: return QByteArrayLiteral("Service Unavailable");
    case 505: return QByteArrayLiteral("HTTP Version Not Supported");
    default: return QByteArrayLiteral("Status");
    }
}

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArray("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

// Visible ASCII only: a request target never holds spaces, controls or 8-bit bytes.
bool isVisibleAscii(const QByteArray& text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x21 || u > 0x7e)
            return false;
    }
    return true;
}

// A request line may hold visible ASCII and single spaces; anything else is garbage and
// can be refused before the line is even complete.
bool mayBeRequestLine(const QByteArray& text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u != ' ' && u != '\r' && (u < 0x21 || u > 0x7e))
            return false;
    }
    return true;
}

bool isHeaderValue(const QByteArray& text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

QByteArray withoutCr(const QByteArray& line)
{
    return line.endsWith('\r') ? line.left(line.size() - 1) : line;
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xffffffffu;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendLittleEndian(QByteArray& text, quint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        text += static_cast<char>((value >> shift) & 0xffu);
}

} // namespace

StandInService::StandInService(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_headerTimeout(DefaultHeaderTimeoutMs)
{
    qRegisterMetaType<StandInService::Request>("StandInService::Request");
    connect(m_server, &QTcpServer::newConnection, this, &StandInService::acceptConnections);
    resetReplies();
}

StandInService::~StandInService()
{
    // Sockets are children of the server: take them down first, while the connection
    // table their signals refer to still exists.
    m_server->close();
    const QList<QTcpSocket*> sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket* socket : sockets) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        delete socket;
    }
}

bool StandInService::listen(quint16 port)
{
    if (m_server->isListening())
        return true;
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        qDebug().noquote() << "service: cannot listen on 127.0.0.1:" << port << m_server->errorString();
        return false;
    }
    qDebug().noquote() << "service: listening at" << baseUrl();
    return true;
}

bool StandInService::isListening() const
{
    return m_server->isListening();
}

quint16 StandInService::port() const
{
    return m_server->serverPort();
}

QString StandInService::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void StandInService::setReply(const QString& path, const QByteArray& body, int status)
{
    Reply& reply = m_replies[path];
    reply.body = body;
    reply.status = status;
    reply.pageTitle.clear();
    if (reply.contentType.isEmpty())
        reply.contentType = PlainText;
}

void StandInService::setVerdicts(bool firmwareCurrent, bool toolCurrent)
{
    const QByteArray firmware = firmwareCurrent ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
    const QByteArray tool = toolCurrent ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
    // No line end after the words: the tool compares its fields exactly.
    setReply(QString::fromLatin1(CheckPath), firmware + ';' + tool);
    setReply(QString::fromLatin1(FirmwarePath), firmware);
}

void StandInService::setHang(const QString& path, bool hang)
{
    if (hang)
        m_hang.insert(path, true);
    else
        m_hang.remove(path);
}

void StandInService::setDelay(const QString& path, int milliseconds)
{
    if (milliseconds > 0)
        m_delay.insert(path, milliseconds);
    else
        m_delay.remove(path);
}

void StandInService::setEndless(const QString& path, bool endless)
{
    if (endless)
        m_endless.insert(path, true);
    else
        m_endless.remove(path);
}

void StandInService::setGzip(const QString& path, bool gzip)
{
    if (gzip)
        m_gzip.insert(path, true);
    else
        m_gzip.remove(path);
}

QByteArray StandInService::gzip(const QByteArray& data)
{
    // qCompress gives a 4-byte length, a 2-byte zlib header, the deflate stream and a
    // 4-byte checksum: gzip wraps the same stream in a header and trailer of its own.
    const QByteArray zlib = qCompress(data, 9);
    QByteArray text("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10);
    text += zlib.mid(6, zlib.size() - 10);
    appendLittleEndian(text, crc32(data));
    appendLittleEndian(text, static_cast<quint32>(data.size()));
    return text;
}

void StandInService::setRedirect(const QString& path, const QByteArray& location)
{
    if (location.isEmpty())
        m_redirect.remove(path);
    else
        m_redirect.insert(path, location);
}

void StandInService::resetReplies()
{
    m_replies.clear();
    m_hang.clear();
    m_delay.clear();
    m_endless.clear();
    m_gzip.clear();
    m_redirect.clear();
    setVerdicts(true, true);
    setReply(QString::fromLatin1(InternetPath), QByteArrayLiteral("true"));

    const std::pair<const char*, const char*> pages[] = {
        {HelpPath, "Help"}, {WebPath, "Website"}, {SupportPath, "Support"}, {RegistrationPath, "Registration"}};
    for (const auto& [path, title] : pages) {
        Reply& reply = m_replies[QString::fromLatin1(path)];
        reply.contentType = Html;
        reply.pageTitle = QString::fromLatin1(title);
    }
}

void StandInService::setHeaderTimeout(int milliseconds)
{
    m_headerTimeout = milliseconds;
}

QVector<StandInService::Request> StandInService::requests() const
{
    return m_requests;
}

void StandInService::clearRequests()
{
    m_requests.clear();
}

int StandInService::openConnections() const
{
    return m_connections.size();
}

qint64 StandInService::bufferedBytes() const
{
    qint64 total = 0;
    for (const Connection& connection : m_connections)
        total += connection.buffer.size();
    return total;
}

QByteArray StandInService::encodeIdentity(const QStringList& fields)
{
    return fields.join(QLatin1Char(';')).toLocal8Bit().toBase64();
}

QStringList StandInService::decodeIdentity(const QByteArray& data, bool* wellFormed)
{
    if (wellFormed) {
        const auto strict = QByteArray::fromBase64Encoding(data, QByteArray::AbortOnBase64DecodingErrors);
        // One character past a whole group carries no full byte: not Base64 either.
        *wellFormed = strict.decodingStatus == QByteArray::Base64DecodingStatus::Ok
                      && !data.isEmpty() && QByteArray(data).replace('=', QByteArray()).size() % 4 != 1;
    }
    if (data.isEmpty())
        return {};
    const QByteArray text = QByteArray::fromBase64(data);
    return QString::fromLocal8Bit(text).split(QLatin1Char(';'), Qt::KeepEmptyParts);
}

void StandInService::acceptConnections()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        Connection& connection = m_connections[socket];
        connection.headerTimer = new QTimer(socket);
        connection.headerTimer->setSingleShot(true);
        connect(connection.headerTimer, &QTimer::timeout, this, [this, socket] {
            const auto it = m_connections.find(socket);
            if (it != m_connections.end() && !it->done)
                refuse(socket, *it, 408, "no complete request header in time");
        });
        connection.headerTimer->start(m_headerTimeout);

        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // The pointer is only a key here: the socket is already gone.
        connect(socket, &QObject::destroyed, this, [this, socket] { m_connections.remove(socket); });
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void StandInService::readFrom(QTcpSocket* socket)
{
    const auto it = m_connections.find(socket);
    const QByteArray incoming = socket->readAll();
    if (it == m_connections.end() || it->done)
        return;
    it->buffer += incoming;
    process(socket, *it);
}

void StandInService::process(QTcpSocket* socket, Connection& connection)
{
    QByteArray& buffer = connection.buffer;

    // Check the request line as soon as it is there, so that garbage is refused
    // without waiting for a header end that may never come.
    if (!connection.requestLineChecked) {
        const int lineEnd = buffer.indexOf('\n');
        const QByteArray line = withoutCr(lineEnd < 0 ? buffer : buffer.left(lineEnd));
        if (!mayBeRequestLine(line))
            return refuse(socket, connection, 400, "request line is not text");
        if (lineEnd < 0) {
            if (buffer.size() > MaxHeaderBytes)
                refuse(socket, connection, 414, "request line too long");
            return;
        }
        if (lineEnd > MaxHeaderBytes)
            return refuse(socket, connection, 414, "request line too long");

        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 3 || !isToken(parts[0]) || !parts[1].startsWith('/') || !isVisibleAscii(parts[1]))
            return refuse(socket, connection, 400, "malformed request line");
        const QByteArray& version = parts[2];
        if (version != "HTTP/1.1" && version != "HTTP/1.0") {
            const bool looksLikeHttp = version.size() == 8 && version.startsWith("HTTP/") && version[6] == '.'
                                       && std::isdigit(static_cast<unsigned char>(version[5]))
                                       && std::isdigit(static_cast<unsigned char>(version[7]));
            if (looksLikeHttp)
                return refuse(socket, connection, 505, "unsupported HTTP version");
            return refuse(socket, connection, 400, "malformed HTTP version");
        }
        connection.method = parts[0];
        connection.target = parts[1];
        connection.requestLineChecked = true;
    }

    // The header ends at the first empty line.
    QList<QByteArray> headerLines;
    int position = buffer.indexOf('\n') + 1;
    bool complete = false;
    while (position <= MaxHeaderBytes) {
        const int lineEnd = buffer.indexOf('\n', position);
        if (lineEnd < 0)
            break;
        const QByteArray line = withoutCr(buffer.mid(position, lineEnd - position));
        position = lineEnd + 1;
        if (line.isEmpty()) {
            complete = true;
            break;
        }
        headerLines << line;
    }
    if (!complete || position > MaxHeaderBytes) {
        if (buffer.size() > MaxHeaderBytes || position > MaxHeaderBytes)
            refuse(socket, connection, 431, "request header too large");
        return;
    }

    for (const QByteArray& line : qAsConst(headerLines)) {
        const int colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon)) || !isHeaderValue(line.mid(colon + 1)))
            return refuse(socket, connection, 400, "malformed header line");
        if (line.left(colon).compare("Accept-Encoding", Qt::CaseInsensitive) == 0)
            connection.acceptEncoding = line.mid(colon + 1).trimmed();
    }

    // A GET has no body; whatever follows the header is not read.
    connection.done = true;
    connection.headerTimer->stop();
    buffer.clear();
    handle(socket, connection);
}

void StandInService::handle(QTcpSocket* socket, const Connection& connection)
{
    Request request;
    request.method = connection.method;
    request.acceptEncoding = connection.acceptEncoding;
    QByteArray target = connection.target;
    const int fragment = target.indexOf('#');
    if (fragment >= 0)
        target.truncate(fragment);
    const int queryStart = target.indexOf('?');
    request.path = QString::fromUtf8(QByteArray::fromPercentEncoding(queryStart < 0 ? target : target.left(queryStart)));
    request.query = queryStart < 0 ? QByteArray() : target.mid(queryStart + 1);

    // The tool appends its Base64 text unescaped: take it byte for byte.
    for (const QByteArray& item : request.query.split('&')) {
        if (item.startsWith("data=")) {
            request.hasData = true;
            request.data = item.mid(5);
            request.identity = decodeIdentity(request.data, &request.dataWellFormed);
            break;
        }
    }

    const bool known = m_replies.contains(request.path);
    const bool bodyWanted = request.method != "HEAD";
    QByteArray answer;
    if (request.method != "GET" && request.method != "HEAD") {
        request.status = 405;
        answer = response(405, PlainText, QByteArrayLiteral("Only GET is served here.\n"), true,
                          QByteArrayLiteral("Allow: GET, HEAD\r\n"));
    } else if (!known) {
        request.status = 404;
        answer = response(404, PlainText, QByteArrayLiteral("No such page.\n"), bodyWanted);
    } else if (m_redirect.contains(request.path)) {
        request.status = 302;
        answer = response(302, PlainText, QByteArrayLiteral("Moved.\n"), bodyWanted,
                          "Location: " + m_redirect.value(request.path) + "\r\n");
    } else {
        const Reply& reply = m_replies[request.path];
        request.status = reply.status;
        const QByteArray body = reply.pageTitle.isEmpty() ? reply.body : page(reply.pageTitle, request);
        if (m_gzip.value(request.path, false))
            answer = response(reply.status, reply.contentType, gzip(body), bodyWanted,
                              QByteArrayLiteral("Content-Encoding: gzip\r\n"));
        else
            answer = response(reply.status, reply.contentType, body, bodyWanted);
    }

    const bool hang = m_hang.value(request.path, false);
    const int delay = m_delay.value(request.path, 0);
    if (hang)
        request.status = 0;

    QString identity = QStringLiteral("none");
    if (request.hasData)
        identity = QLatin1Char('"') + request.identity.join(QLatin1Char(';')) + QLatin1Char('"')
                   + (request.dataWellFormed ? QString() : QStringLiteral(" (not clean Base64)"));
    qDebug().noquote().nospace() << "service: " << request.method << ' ' << request.path << " identity " << identity
                                 << " -> " << (hang ? QStringLiteral("held") : QString::number(request.status))
                                 << (delay > 0 && !hang ? QStringLiteral(" after %1 ms").arg(delay) : QString());

    m_requests.append(request);
    emit requestReceived(request);

    if (hang)
        return;
    if (known && m_endless.value(request.path, false) && !m_redirect.contains(request.path)) {
        sendEndless(socket, m_replies[request.path].body);
        return;
    }
    if (delay > 0) {
        // The socket as context: a client that leaves in the meantime cancels the answer.
        QTimer::singleShot(delay, socket, [socket, answer] { send(socket, answer); });
        return;
    }
    send(socket, answer);
}

void StandInService::refuse(QTcpSocket* socket, Connection& connection, int status, const char* why)
{
    qDebug().noquote().nospace() << "service: refused request (" << why << ") -> " << status;
    connection.done = true;
    connection.headerTimer->stop();
    connection.buffer.clear();
    send(socket, response(status, PlainText, reasonPhrase(status) + '\n', true));
}

void StandInService::send(QTcpSocket* socket, const QByteArray& response)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    socket->write(response);
    socket->disconnectFromHost();
}

void StandInService::sendEndless(QTcpSocket* socket, const QByteArray& body)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    // No length and no end: only the client can stop it, by leaving.
    socket->write("HTTP/1.1 200 OK\r\nServer: tessaro-service\r\nContent-Type: text/plain\r\n"
                  "Connection: close\r\n\r\n" + body);
    // Owned by the socket, so it stops when the client leaves. Only what the client has
    // taken is topped up: this side never buffers without bound itself.
    auto* more = new QTimer(socket);
    connect(more, &QTimer::timeout, socket, [socket] {
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < EndlessChunkBytes)
            socket->write(QByteArray(EndlessChunkBytes, ';'));
    });
    more->start(EndlessTickMs);
}

QByteArray StandInService::response(int status, const QByteArray& contentType, const QByteArray& body,
                                    bool withBody, const QByteArray& extraHeaders)
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    text += "Server: tessaro-service\r\n";
    text += "Content-Type: " + contentType + "\r\n";
    text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    text += extraHeaders;
    text += "Connection: close\r\n\r\n";
    if (withBody)
        text += body;
    return text;
}

QByteArray StandInService::page(const QString& title, const Request& request)
{
    static const char* const labels[] = {"Sensor", "Hardware", "Firmware", "Tool"};
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Tessaro %1</title></head>\n"
                                  "<body><h1>Tessaro %1</h1>\n<p>Stand-in page of the maker's web service.</p>\n")
                       .arg(title);
    if (!request.hasData) {
        html += QStringLiteral("<p>No identity given.</p>\n");
    } else {
        html += QStringLiteral("<table>\n");
        for (int i = 0; i < request.identity.size(); ++i) {
            const QString label = i < 4 ? QString::fromLatin1(labels[i]) : QStringLiteral("Field %1").arg(i + 1);
            html += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(label, request.identity[i].toHtmlEscaped());
        }
        html += QStringLiteral("</table>\n");
    }
    html += QStringLiteral("</body></html>\n");
    return html.toUtf8();
}
