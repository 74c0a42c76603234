// The online update dialog against the in-process stand-in service: the firmware check
// and the connectivity probe with their reply rules, the stages of an update from a file,
// and the release of every request, also when the dialog goes first.
#include "app/serviceidentity.h"
#include "app/servicerequest.h"
#include "device/tessaro.h"
#include "sim/simsensor.h"
#include "sim/standinservice.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"
#include "update/view_dialogupdate.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>

#include <optional>

namespace {
const QString Ok = QStringLiteral("[updatedialog:firmware:ok]");
const QString New = QStringLiteral("[updatedialog:firmware:new]");
const QString Updating = QStringLiteral("[updatedialog:firmware:updating]");
const QString Updated = QStringLiteral("[updatedialog:firmware:updated]");
const QString Firmware = QString::fromLatin1(StandInService::FirmwarePath);
const QString Internet = QString::fromLatin1(StandInService::InternetPath);
}

class tst_viewdialogupdate : public QObject
{
    Q_OBJECT

private:
    std::optional<StandInService> service;
    std::optional<SimFixture> fixture;
    std::shared_ptr<sim::SimSensor> sensor;
    QPointer<tessaro> connection;
    std::unique_ptr<view_dialogupdate> dialog;

    QVector<StandInService::Request> requestsTo(const QString& path) const
    {
        QVector<StandInService::Request> found;
        const auto all = service->requests();
        for (const auto& request : all) {
            if (request.path == path)
                found << request;
        }
        return found;
    }

    void waitUntilAnswered()
    {
        QTRY_COMPARE(dialog->pendingRequests(), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(ServiceAddress::useStandIn(service));
        ServiceRequest::setTimeLimitMs(1000);
    }

    void cleanupTestCase()
    {
        service.reset();
    }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        sensor = fixture->plugSensor();
        connection = SimFixture::openConnection();
        QVERIFY(connection);
        service->resetReplies();
        service->clearRequests();
        sensorId = QStringLiteral("TS-000123");
        sensorHw = QStringLiteral("HW 1.1");
        sensorSw = QStringLiteral("SW 2.4");
        dialog = std::make_unique<view_dialogupdate>(connection);
    }

    void cleanup()
    {
        dialog.reset();
        SimFixture::closeConnection(connection);
        sensor.reset();
        fixture.reset();
        // Nothing is left open towards the service.
        QTRY_COMPARE(service->openConnections(), 0);
    }

    void showingAsksTheService_data()
    {
        QTest::addColumn<bool>("sensorSeen");
        QTest::newRow("sensor seen") << true;
        QTest::newRow("no sensor seen yet") << false;
    }

    void showingAsksTheService()
    {
        QFETCH(bool, sensorSeen);
        if (!sensorSeen) {
            sensorId.clear();
            sensorHw.clear();
            sensorSw.clear();
        }
        // Nothing is asked before the dialog is shown.
        QTest::qWait(50);
        QVERIFY(service->requests().isEmpty());
        QSignalSpy shown(dialog.get(), &view_dialogupdate::shown);
        dialog->show();
        QCOMPARE(shown.count(), 1);
        QCOMPARE(dialog->swLabel->text(), sensorSeen ? QStringLiteral("SW 2.4") : QString());
        QCOMPARE(dialog->hwLabel->text(), sensorSeen ? QStringLiteral("HW 1.1") : QString());
        const auto replies = dialog->requestsInFlight();
        QCOMPARE(replies.size(), 2);
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), Ok);
        QVERIFY(dialog->internetOk);
        // Released once answered.
        for (const auto& reply : replies)
            QTRY_VERIFY(reply.isNull());

        QCOMPARE(service->requests().size(), 2);
        QCOMPARE(requestsTo(Internet).size(), 1);
        QVERIFY(!requestsTo(Internet).first().hasData);
        const auto check = requestsTo(Firmware);
        QCOMPARE(check.size(), 1);
        QVERIFY(check.first().dataWellFormed);
        QCOMPARE(check.first().identity, sensorSeen ? QStringList({"TS-000123", "HW 1.1", "SW 2.4", "UTIL 2.2"})
                                                    : QStringList({"", "", "", "UTIL 2.2"}));
        QCOMPARE(check.first().data, serviceQueryText(sensorId, sensorHw, sensorSw).toLatin1());

        // Shown again after closing: asked again.
        dialog->close();
        dialog->show();
        QCOMPARE(shown.count(), 2);
        waitUntilAnswered();
        QCOMPARE(requestsTo(Firmware).size(), 2);
        QCOMPARE(requestsTo(Internet).size(), 2);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("serving"); // "": plainly; or redirect, loop, silent, an HTTP status, a closed port
        QTest::addColumn<QString>("status"); // of a firmware check (empty: no verdict); of a probe "online" or not
        QTest::newRow("true") << Firmware << QByteArray("true") << "" << Ok;
        QTest::newRow("true with more fields") << Firmware << QByteArray("true;false;x") << "" << Ok;
        QTest::newRow("true up to a zero byte") << Firmware << QByteArray("true\0;junk", 10) << "" << Ok;
        QTest::newRow("false") << Firmware << QByteArray("false") << "" << New;
        QTest::newRow("letter case") << Firmware << QByteArray("True") << "" << New;
        QTest::newRow("line end") << Firmware << QByteArray("true\n") << "" << New;
        QTest::newRow("empty") << Firmware << QByteArray() << "" << New;
        QTest::newRow("zero byte first") << Firmware << QByteArray("\0true", 5) << "" << New;
        QTest::newRow("long") << Firmware << QByteArray(100000, 'x') << "" << New;
        QTest::newRow("endless") << Firmware << QByteArray("true") << "endless" << Ok;
        QTest::newRow("silent") << Firmware << QByteArray("true") << "silent" << QString();
        QTest::newRow("redirect on the same host") << Firmware << QByteArray("true") << "redirect" << Ok;
        QTest::newRow("redirect in a loop") << Firmware << QByteArray("true") << "loop" << QString();
        QTest::newRow("redirect to another port") << Firmware << QByteArray("true") << "elsewhere" << QString();
        QTest::newRow("probe: true") << Internet << QByteArray("true") << "" << "online";
        QTest::newRow("probe: true up to a zero byte") << Internet << QByteArray("true\0x", 6) << "" << "online";
        QTest::newRow("probe: true with fields") << Internet << QByteArray("true;") << "" << "offline";
        QTest::newRow("probe: false") << Internet << QByteArray("false") << "" << "offline";
        QTest::newRow("probe: empty") << Internet << QByteArray() << "" << "offline";
        // Service errors change nothing.
        QTest::newRow("not found") << Firmware << QByteArray("true") << "404" << QString();
        QTest::newRow("server error") << Firmware << QByteArray("true") << "500" << QString();
        QTest::newRow("probe: server error") << Internet << QByteArray("true") << "500" << "offline";
        QTest::newRow("no service at all") << Firmware << QByteArray("true") << "closed" << QString();
        QTest::newRow("probe: no service at all") << Internet << QByteArray("true") << "closed" << "offline";
    }

    void answers()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, serving);
        QFETCH(QString, status);
        const QString moved = QStringLiteral("/utility/moved.php");
        service->setReply(serving == "redirect" ? moved : path, body, serving.toInt() ? serving.toInt() : 200);
        if (serving == "closed")
            ServiceAddress::useClosedPort();
        service->setEndless(path, serving == "endless");
        service->setHang(path, serving == "silent");
        if (serving == "redirect")
            service->setRedirect(path, moved.toLatin1());
        if (serving == "loop")
            service->setRedirect(path, path.toLatin1());
        if (serving == "elsewhere")
            service->setRedirect(path, "http://127.0.0.1:9" + moved.toLatin1());
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        if (path == Internet)
            dialog->checkInternet();
        else
            dialog->getFirmwareCheck();
        waitUntilAnswered();
        qputenv("TESSARO_SERVICE_URL", service->baseUrl().toLatin1());
        // A redirect on the same host is followed, a loop five times and then given up.
        QCOMPARE(service->requests().size(), serving == "redirect" ? 2 : serving == "loop" ? 6 : serving == "closed" ? 0 : 1);
        if (path == Internet) {
            QCOMPARE(dialog->internetOk, status == QLatin1String("online"));
            status.clear();
        }
        QCOMPARE(statuses.count(), status.isEmpty() ? 0 : 1);
        QCOMPARE(dialog->statusLabel->text(), status.isEmpty() ? QStringLiteral("none") : status);
    }

    // A service slow to answer: showing the dialog again and again keeps one request of
    // each kind, not one more pair per showing; they and their network manager go with the
    // dialog, and the answer that comes after it reaches nothing.
    void showingsKeepOneRequestOfEachKind()
    {
        service->setDelay(Firmware, 500);
        service->setDelay(Internet, 500);
        for (int i = 0; i < 5; ++i) {
            dialog->show();
            dialog->cancelButton->click();
        }
        QCOMPARE(dialog->pendingRequests(), 2);
        const auto replies = dialog->requestsInFlight();
        QCOMPARE(replies.size(), 2);
        const QPointer<QNetworkAccessManager> manager = replies[0]->manager();
        QCOMPARE(replies[1]->manager(), manager.data());
        QTRY_COMPARE(service->openConnections(), 2);
        dialog.reset();
        QVERIFY(replies[0].isNull() && replies[1].isNull() && manager.isNull());
        QTest::qWait(600);
    }

    void stagesOfAnUpdate()
    {
        service->setVerdicts(false);
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        int fileDialogs = 0;
        connect(dialog.get(), &view_dialogupdate::updateFile, this, [&] { ++fileDialogs; });
        // A bootloader device that comes on its own is left to the flashing view.
        emit dialog->bootloaderStage();
        QCOMPARE(fileDialogs, 0);
        QCOMPARE(statuses.count(), 0);
        QVERIFY(service->requests().isEmpty());
        dialog->show();
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), New);

        // Use-file sends the sensor to its bootloader.
        sensor->clearLog();
        dialog->useFileButton->click();
        QVERIFY(dialog->upgradeRequested);
        QCOMPARE(SimFixture::commands(*sensor), QStringList({QStringLiteral("app:bootloader;")}));
        QCOMPARE(fileDialogs, 0);

        // The file dialog runs inside updateFile; the update counts as pending only once
        // the run has verified.
        emit dialog->bootloaderStage();
        QCOMPARE(fileDialogs, 1);
        QVERIFY(!dialog->updatePending);
        dialog->flashingEnded(true, false);
        QVERIFY(dialog->updatePending);
        QVERIFY(!dialog->upgradeRequested);
        QCOMPARE(dialog->statusLabel->text(), Updating);
        // A second bootloader device does not open the file dialog again.
        emit dialog->bootloaderStage();
        QCOMPARE(fileDialogs, 1);

        // The sensor is back: the first answer reports the update, whatever it says, even
        // a failed one (an offline technician is told too) ...
        sensorSw = QStringLiteral("SW 2.5");
        service->setReply(Firmware, "true", 500);
        emit dialog->tessaroStage();
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), Updated);
        QVERIFY(!dialog->updatePending);
        // ... the next one the service's verdict. Hidden by Cancel, the dialog still follows
        // the sensor: each stage asks again (no probe), and a second check replaces the first.
        dialog->cancelButton->click();
        QVERIFY(!dialog->isVisible());
        service->clearRequests();
        service->setVerdicts(false);
        emit dialog->tessaroStage();
        emit dialog->tessaroStage();
        QCOMPARE(dialog->pendingRequests(), 1);
        QCOMPARE(dialog->swLabel->text(), QStringLiteral("SW 2.5"));
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), New);
        QVERIFY(requestsTo(Internet).isEmpty());
        QCOMPARE(requestsTo(Firmware).last().identity.value(2), QStringLiteral("SW 2.5"));
        service->setVerdicts(true);
        emit dialog->tessaroStage();
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), Ok);

        QStringList seen;
        for (const auto& args : qAsConst(statuses))
            seen << args.first().toString();
        QCOMPARE(seen, QStringList({New, Updating, Updated, New, Ok}));
    }

    // The link lost between the request and the bootloader's arrival: nothing is flashed.
    void bootloaderAfterTheLinkWasLost()
    {
        QSignalSpy fileDialogs(dialog.get(), &view_dialogupdate::updateFile);
        dialog->useFileButton->click();
        connection->disconnectDevice();
        emit dialog->bootloaderStage();
        QCOMPARE(fileDialogs.count(), 0);
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:failed]"));
    }

    void useFileWithoutADevice()
    {
        SimFixture::closeConnection(connection);
        auto standalone = std::make_unique<view_dialogupdate>(nullptr);
        standalone->useFileButton->click();
        QVERIFY(standalone->upgradeRequested);
    }
};

TESSARO_TEST_MAIN(tst_viewdialogupdate)
#include "tst_viewdialogupdate.moc"
