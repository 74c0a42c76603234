// The stand-in web service as the program's tests rely on it: the replies a test sets,
// the identity read from "data=", and held, delayed, endless and redirected answers.
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
const QString Internet = QString::fromLatin1(StandInService::InternetPath);

// Identity whose Base64 form holds '+', '/' and a '=' of padding.
const QStringList AwkwardIdentity = {QStringLiteral("TS-~~~???"), QStringLiteral("HW 1.1"),
                                     QStringLiteral("SW 2.4"), QStringLiteral("UTIL 2.2")};
const QByteArray AwkwardData = QByteArrayLiteral("VFMtfn5+Pz8/O0hXIDEuMTtTVyAyLjQ7VVRJTCAyLjI=");

struct Answer {
    int status = 0;
    QByteArray location;
    QByteArray body;
};

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

    static Answer collect(QNetworkReply* reply)
    {
        Answer answer;
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished() && !finished.wait(5000))
            return answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.location = reply->rawHeader("Location");
        answer.body = reply->readAll();
        reply->deleteLater();
        return answer;
    }

    Answer fetch(const QString& pathAndQuery) { return collect(get(pathAndQuery)); }

private slots:
    void init()
    {
        service.emplace();
        QVERIFY(service->listen());
        QCOMPARE(service->baseUrl(), QStringLiteral("http://127.0.0.1:%1").arg(service->port()));
        manager = std::make_unique<QNetworkAccessManager>();
        // Straight to 127.0.0.1, whatever proxy the environment names.
        manager->setProxy(QNetworkProxy::NoProxy);
    }

    void cleanup()
    {
        manager.reset();
        service.reset();
    }

    // A fault here would mostly fail a program test; these are the rows where it would not:
    // a body cut at its zero byte, a status or verdict taken for another.
    void replies_data()
    {
        QTest::addColumn<QString>("setting"); // "", "reply", "old firmware", "old tool" or "reset"
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("set, NUL inside") << "reply" << Firmware << 200 << QByteArray("true\0junk", 9);
        QTest::newRow("set, server error") << "reply" << Check << 500 << QByteArray("oops");
        QTest::newRow("old firmware, firmware") << "old firmware" << Firmware << 200 << QByteArray("false");
        QTest::newRow("old tool, check") << "old tool" << Check << 200 << QByteArray("true;false");
        QTest::newRow("reset") << "reset" << Internet << 200 << QByteArray("true");
        QTest::newRow("unknown path") << "" << "/utility/nothing.php" << 404 << QByteArray("No such page.\n");
    }

    void replies()
    {
        QFETCH(QString, setting);
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        if (setting == "reply")
            service->setReply(path, body, status);
        if (setting.startsWith("old"))
            service->setVerdicts(setting != "old firmware", setting != "old tool");
        if (setting == "reset") {
            service->setReply(path, "false");
            service->resetReplies();
        }
        const Answer answer = fetch(path + QStringLiteral("?data=") + QString::fromLatin1(AwkwardData));
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.body, body);
        QCOMPARE(service->requests().size(), 1);
        QCOMPARE(service->requests().constFirst().path, path);
        QCOMPARE(service->requests().constFirst().status, status);
        service->clearRequests();
        QVERIFY(service->requests().isEmpty());
    }

    void identityIsDecodedFromData_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("identity");
        QTest::addColumn<bool>("wellFormed");
        const QString awkward = QString::fromLatin1(AwkwardData);
        QTest::newRow("plus, slash, padding") << "data=" + awkward << AwkwardData << AwkwardIdentity << true;
        QTest::newRow("among other items") << "lang=nl&data=" + awkward + "&x=1" << AwkwardData << AwkwardIdentity << true;
        QTest::newRow("no sensor seen yet") << "data=Ozs7VVRJTCAyLjI=" << QByteArray("Ozs7VVRJTCAyLjI=")
                                            << QStringList({"", "", "", "UTIL 2.2"}) << true;
        QTest::newRow("stray characters skipped") << "data=Ozs7V!VRJ*TCAyLjI=" << QByteArray("Ozs7V!VRJ*TCAyLjI=")
                                                  << QStringList({"", "", "", "UTIL 2.2"}) << false;
        QTest::newRow("one character too many") << "data=Ozs7VVRJTCAyLjIxA" << QByteArray("Ozs7VVRJTCAyLjIxA")
                                                << QStringList({"", "", "", "UTIL 2.21"}) << false;
        QTest::newRow("empty") << "data=" << QByteArray() << QStringList() << false;
        QTest::newRow("no data") << "" << QByteArray() << QStringList() << false;
    }

    void identityIsDecodedFromData()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, data);
        QFETCH(QStringList, identity);
        QFETCH(bool, wellFormed);
        QCOMPARE(StandInService::encodeIdentity(AwkwardIdentity), AwkwardData);
        QSignalSpy received(&*service, &StandInService::requestReceived);
        QCOMPARE(fetch(Check + (query.isEmpty() ? QString() : QLatin1Char('?') + query)).status, 200);
        QCOMPARE(received.count(), 1);
        const auto request = received.constFirst().constFirst().value<StandInService::Request>();
        QCOMPARE(request.path, Check);
        QCOMPARE(request.query, query.toLatin1());
        QCOMPARE(request.hasData, !query.isEmpty());
        QCOMPARE(request.data, data);
        QCOMPARE(request.identity, identity);
        QCOMPARE(request.dataWellFormed, wellFormed);
        QCOMPARE(service->requests().constFirst().identity, identity);
    }

    // The program's time-out tests need an answer that really never comes, and counted
    // connections that really close.
    void heldPathNeverAnswers()
    {
        service->setHang(Check, true);
        QSignalSpy received(&*service, &StandInService::requestReceived);
        QNetworkReply* held = get(Check);
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(service->requests().constFirst().status, 0);
        // Other paths are answered meanwhile; the held request is still open after that.
        QCOMPARE(fetch(Firmware).body, QByteArray("true"));
        QVERIFY(!held->isFinished());
        QCOMPARE(service->openConnections(), 1);
        held->abort();
        held->deleteLater();
        QTRY_COMPARE(service->openConnections(), 0);
        service->setHang(Check, false);
        QCOMPARE(fetch(Check).body, QByteArray("true;true"));
    }

    void delayedPathAnswersLater()
    {
        service->setDelay(Check, 300);
        QElapsedTimer clock;
        clock.start();
        const Answer answer = fetch(Check);
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(answer.body, QByteArray("true;true"));
    }

    // The bounded-body tests need an answer far longer than the program reads.
    void endlessAnswerGoesOnUntilTheClientLeaves()
    {
        service->setReply(Firmware, "true");
        service->setEndless(Firmware, true);
        QNetworkReply* reply = get(Firmware);
        QTRY_VERIFY(reply->bytesAvailable() > 64 * 1024);
        QVERIFY(!reply->isFinished());
        QVERIFY(reply->peek(5) == "true;");
        reply->abort();
        reply->deleteLater();
        QTRY_COMPARE(service->openConnections(), 0);
    }

    void redirectNamesItsTarget()
    {
        service->setRedirect(Firmware, "/utility/moved.php");
        const Answer answer = fetch(Firmware);
        QCOMPARE(answer.status, 302);
        QCOMPARE(answer.location, QByteArray("/utility/moved.php"));
        service->setRedirect(Firmware, QByteArray());
        QCOMPARE(fetch(Firmware).status, 200);
    }
};

TESSARO_TEST_MAIN(tst_standinservice)
#include "tst_standinservice.moc"
