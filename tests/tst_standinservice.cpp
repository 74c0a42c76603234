// The stand-in web service where its fault would let a program test pass without testing
// anything: replies a test sets, the request log and its identity, held, delayed, endless answers.
#include "sim/standinservice.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>

#include <memory>
#include <optional>

namespace {

const QString Check = QString::fromLatin1(StandInService::CheckPath);
const QString Firmware = QString::fromLatin1(StandInService::FirmwarePath);

// Identity whose Base64 form holds '+', '/' and a '=' of padding.
const QStringList AwkwardIdentity = {QStringLiteral("TS-~~~???"), QStringLiteral("HW 1.1"), QStringLiteral("SW 2.4"), QStringLiteral("UTIL 2.2")};
const QString AwkwardData = QStringLiteral("VFMtfn5+Pz8/O0hXIDEuMTtTVyAyLjQ7VVRJTCAyLjI=");

} // namespace

class tst_standinservice : public QObject
{
    Q_OBJECT

private:
    std::optional<StandInService> service;
    std::unique_ptr<QNetworkAccessManager> manager;

    QNetworkReply* get(const QString& pathAndQuery)
    {
        // Tolerant parsing keeps the Base64 text as it is, as the tool does.
        return manager->get(QNetworkRequest(QUrl(service->baseUrl() + pathAndQuery, QUrl::TolerantMode)));
    }

    // The reply once finished (or after 5 s, with no status then); deleted with the manager.
    QNetworkReply* fetch(const QString& pathAndQuery)
    {
        QNetworkReply* reply = get(pathAndQuery);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(5000);
        return reply;
    }

private slots:
    void init()
    {
        service.emplace();
        QVERIFY(service->listen());
        manager = std::make_unique<QNetworkAccessManager>();
        // Straight to 127.0.0.1, whatever proxy the environment names.
        manager->setProxy(QNetworkProxy::NoProxy);
    }

    void cleanup()
    {
        manager.reset();
        service.reset();
    }

    // A body cut at its zero byte, a status or verdict taken for another, a reset keeping a reply:
    // each would let a program test pass for the wrong reason. Other tests count and read the log.
    void repliesAndTheirLog()
    {
        service->setReply(Firmware, QByteArray("true\0junk", 9), 500);
        QNetworkReply* reply = fetch(Firmware);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 500);
        QCOMPARE(reply->readAll(), QByteArray("true\0junk", 9));
        service->setVerdicts(true, false);
        QCOMPARE(fetch(Check)->readAll(), QByteArray("true;false"));
        // Valid gzip, whatever was asked for: Qt, left to itself, asks for it (among others) and unpacks it.
        service->setGzip(Check, true);
        QCOMPARE(fetch(Check)->readAll(), QByteArray("true;false"));
        QVERIFY(service->requests().constLast().acceptEncoding.contains("gzip"));
        service->resetReplies();
        QCOMPARE(fetch(Check)->readAll(), QByteArray("true;true"));
        QCOMPARE(fetch(Firmware)->readAll(), QByteArray("true"));
        QCOMPARE(service->requests().size(), 5);
        QCOMPARE(service->requests().constFirst().path, Firmware);
        QCOMPARE(service->requests().constFirst().status, 500);
        service->clearRequests();
        QVERIFY(service->requests().isEmpty());
    }

    // Other tests check what the program sent through the identity in the log.
    void identityIsDecodedFromData()
    {
        fetch(Check + QStringLiteral("?lang=nl&data=") + AwkwardData + QStringLiteral("&x=1"));
        fetch(Check + QStringLiteral("?data=Ozs7V!VRJ*TCAyLjI="));
        fetch(Check);
        const QVector<StandInService::Request> log = service->requests();
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[0].identity, AwkwardIdentity);
        QVERIFY(log[0].dataWellFormed);
        // Stray characters are skipped, but the data is not well formed.
        QCOMPARE(log[1].identity, QStringList({"", "", "", "UTIL 2.2"}));
        QVERIFY(log[1].hasData && !log[1].dataWellFormed);
        QVERIFY(!log[2].hasData && log[2].identity.isEmpty() && !log[2].dataWellFormed);
    }

    // The program's time-out tests need an answer that really never comes, counted connections
    // that really close, and an answer that really comes late.
    void heldAndDelayedAnswers()
    {
        service->setHang(Check, true);
        QNetworkReply* held = get(Check);
        QTRY_COMPARE(service->requests().size(), 1);
        QCOMPARE(service->requests().constFirst().status, 0);
        // Other paths are answered meanwhile; the held request is still open after that.
        QCOMPARE(fetch(Firmware)->readAll(), QByteArray("true"));
        QVERIFY(!held->isFinished());
        QCOMPARE(service->openConnections(), 1);
        held->abort();
        QTRY_COMPARE(service->openConnections(), 0);
        service->setHang(Check, false);
        service->setDelay(Check, 300);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(fetch(Check)->readAll(), QByteArray("true;true"));
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
    }

    // The bounded-body tests need an answer far longer than the program reads.
    void endlessAnswerGoesOnUntilTheClientLeaves()
    {
        service->setEndless(Firmware, true);
        QNetworkReply* reply = get(Firmware);
        QTRY_VERIFY(reply->bytesAvailable() > 64 * 1024);
        QVERIFY(!reply->isFinished());
        QVERIFY(reply->peek(5) == "true;");
        reply->abort();
        QTRY_COMPARE(service->openConnections(), 0);
    }
};

TESSARO_TEST_MAIN(tst_standinservice)
#include "tst_standinservice.moc"
