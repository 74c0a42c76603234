// The online update dialog against the in-process stand-in service: the firmware check and the probe
// with their reply rules, the stages of an update from a file, the release of every request.
#include "app/serviceidentity.h"
#include "app/servicerequest.h"
#include "device/tessaro.h"
#include "device/updatelock.h"
#include "sim/simsensor.h"
#include "sim/standinservice.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"
#include "update/view_dialogupdate.h"
#include "update/view_update.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>

#include <algorithm>
#include <optional>

namespace {
const QString Ok = QStringLiteral("[updatedialog:firmware:ok]");
const QString New = QStringLiteral("[updatedialog:firmware:new]");
const QString Unreachable = QStringLiteral("[updatedialog:firmware:unreachable]");
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
    // What the file dialog answers, and how often it was asked.
    QString nextFile;
    int fileDialogs = 0;

    QVector<StandInService::Request> requestsTo(const QString& path) const
    {
        auto found = service->requests();
        found.erase(std::remove_if(found.begin(), found.end(), [&path](const auto& r) { return r.path != path; }), found.end());
        return found;
    }

    void waitUntilAnswered() { QTRY_COMPARE(dialog->pendingRequests(), 0); }

private slots:
    void initTestCase()
    {
        QVERIFY(ServiceAddress::useStandIn(service));
        view_update::chooseImageFile = [this](QWidget*, const QString&, const QString&, const QString&) {
            ++fileDialogs;
            return nextFile;
        };
    }

    void cleanupTestCase() { service.reset(); }

    void init()
    {
        fixture.emplace();
        connection = fixture->connectSensor(sensor);
        QVERIFY(connection);
        service->resetReplies();
        service->clearRequests();
        ServiceRequest::setTimeLimitMs(1000);
        sensorId = QStringLiteral("TS-000123");
        sensorHw = QStringLiteral("HW 1.1");
        sensorSw = QStringLiteral("SW 2.4");
        dialog = std::make_unique<view_dialogupdate>(connection);
        fixture->writeFile(QStringLiteral("image.bin"), "firmware");
        fixture->writeFile(QStringLiteral("empty.bin"), QByteArray());
        nextFile = fixture->dir() + QStringLiteral("/image.bin");
        fileDialogs = 0;
    }

    void cleanup()
    {
        dialog.reset();
        fixture.reset();
        // Nothing is left open towards the service.
        QTRY_COMPARE(service->openConnections(), 0);
    }

    void showingAsksTheService()
    {
        // Nothing is asked before the dialog is shown (the count of four below would see it come).
        QCOMPARE(dialog->pendingRequests(), 0);
        dialog->show();
        QCOMPARE(dialog->hwLabel->text(), QStringLiteral("HW 1.1"));
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("[updatedialog:firmware:asking]"));
        const auto replies = dialog->requestsInFlight();
        QCOMPARE(replies.size(), 2);
        waitUntilAnswered();
        // Released once answered.
        for (const auto& reply : replies)
            QTRY_VERIFY(reply.isNull());

        QVERIFY(!requestsTo(Internet).first().hasData);
        QCOMPARE(requestsTo(Firmware).first().identity, QStringList({"TS-000123", "HW 1.1", "SW 2.4", "UTIL 2.2"}));
        // Shown again after closing: asked again.
        dialog->close();
        dialog->show();
        waitUntilAnswered();
        QCOMPARE(requestsTo(Firmware).size() + requestsTo(Internet).size(), 4);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("serving"); // "": plainly; or redirect, loop, silent, gzip, an HTTP status, a closed port
        QTest::addColumn<QString>("status"); // of a firmware check (empty: no verdict); of a probe "online" or not
        QTest::newRow("true") << Firmware << QByteArray("true") << "" << Ok;
        QTest::newRow("true with more fields") << Firmware << QByteArray("true;false;x") << "" << Ok;
        QTest::newRow("true up to a zero byte") << Firmware << QByteArray("true\0;junk", 10) << "" << Ok;
        QTest::newRow("false") << Firmware << QByteArray("false") << "" << New;
        QTest::newRow("letter case") << Firmware << QByteArray("True") << "" << New;
        QTest::newRow("line end") << Firmware << QByteArray("true\n") << "" << New;
        QTest::newRow("long") << Firmware << QByteArray(100000, 'x') << "" << New;
        QTest::newRow("endless") << Firmware << QByteArray("true") << "endless" << Ok;
        QTest::newRow("silent") << Firmware << QByteArray("true") << "silent" << Unreachable;
        QTest::newRow("redirect on the same host") << Firmware << QByteArray("true") << "redirect" << Ok;
        QTest::newRow("redirect in a loop") << Firmware << QByteArray("true") << "loop" << Unreachable;
        QTest::newRow("redirect to another port") << Firmware << QByteArray("true") << "elsewhere" << Unreachable;
        QTest::newRow("gzip-encoded, unasked") << Firmware << QByteArray("true") << "gzip" << Unreachable;
        QTest::newRow("probe: true") << Internet << QByteArray("true") << "" << "online";
        QTest::newRow("probe: true with fields") << Internet << QByteArray("true;") << "" << "offline";
        // Service errors: the dialog says so, and only that.
        QTest::newRow("server error") << Firmware << QByteArray("true") << "500" << Unreachable;
        QTest::newRow("no service at all") << Firmware << QByteArray("true") << "closed" << Unreachable;
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
        service->setGzip(path, serving == "gzip");
        const QMap<QString, QString> redirects{{"redirect", moved}, {"loop", path}, {"elsewhere", "http://127.0.0.1:9" + moved}};
        if (redirects.contains(serving))
            service->setRedirect(path, redirects.value(serving).toLatin1());
        path == Internet ? dialog->checkInternet() : dialog->getFirmwareCheck();
        waitUntilAnswered();
        qputenv("TESSARO_SERVICE_URL", service->baseUrl().toLatin1());
        // A redirect on the same host is followed, a loop five times and then given up.
        QCOMPARE(service->requests().size(), serving == "redirect" ? 2 : serving == "loop" ? 6 : serving == "closed" ? 0 : 1);
        QCOMPARE(dialog->internetOk, status == QLatin1String("online"));
        QCOMPARE(dialog->statusLabel->text(), path == Internet ? QString() : status);
    }

    // A silent service, and no time limit within the test's waits: showings keep one request of each kind, not
    // one more pair per showing; they, their manager and (as cleanup() sees) their connections go with the dialog.
    void showingsKeepOneRequestOfEachKind()
    {
        ServiceRequest::setTimeLimitMs(60000);
        service->setHang(Firmware, true);
        service->setHang(Internet, true);
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
    }

    void stagesOfAnUpdate()
    {
        service->setVerdicts(false);
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        QSignalSpy flashes(dialog.get(), &view_dialogupdate::updateFile);
        // A bootloader device that comes on its own is left to the flashing view.
        emit dialog->bootloaderStage();
        QCOMPARE(flashes.count(), 0);
        dialog->show();
        waitUntilAnswered();

        // Use-file sends the sensor to its bootloader.
        sensor->clearLog();
        dialog->useFileButton->click();
        QCOMPARE(SimFixture::commands(*sensor), QStringList({QStringLiteral("app:bootloader;")}));

        // The file chosen is flashed; the update is pending only once the run has verified.
        emit dialog->bootloaderStage();
        QCOMPARE(flashes.count(), 1);
        QVERIFY(!dialog->updatePending);
        dialog->flashingEnded(true, false);
        QVERIFY(dialog->updatePending);
        // A second bootloader device does not open the file dialog again.
        emit dialog->bootloaderStage();
        QCOMPARE(flashes.count(), 1);

        // The sensor is back: the first answer reports the update, whatever it says, even
        // a failed one (an offline technician is told too) ...
        sensorSw = QStringLiteral("SW 2.5");
        service->setReply(Firmware, "true", 500);
        emit dialog->tessaroStage();
        waitUntilAnswered();
        QVERIFY(!dialog->updatePending);
        // ... the next one the service's verdict. Hidden by Cancel, the dialog still follows
        // the sensor: each stage asks again (no probe).
        dialog->cancelButton->click();
        service->clearRequests();
        service->setVerdicts(false);
        emit dialog->tessaroStage();
        waitUntilAnswered();
        QVERIFY(requestsTo(Internet).isEmpty());
        QCOMPARE(requestsTo(Firmware).last().identity.value(2), QStringLiteral("SW 2.5"));
        QStringList seen;
        for (const auto& args : qAsConst(statuses))
            seen << args.first().toString();
        QCOMPARE(seen, QStringList({New, "[updatedialog:firmware:updating]", "[updatedialog:firmware:updated]", New}));
    }

    void useFileAsksForTheFileFirst_data()
    {
        QTest::addColumn<QString>("file");  // in the working folder; "": the file dialog cancelled
        QTest::addColumn<QString>("status");  // "": the file is taken
        const QString unusable = QStringLiteral("[updatedialog:file:unusable] (%1)");
        QTest::newRow("cancelled") << "" << "[updatedialog:firmware:cancelled]";
        QTest::newRow("empty") << "empty.bin" << unusable;
        QTest::newRow("a folder") << "sensors" << unusable;
        QTest::newRow("missing, a line break and bidi in its name") << QString::fromUtf16(u"missing\n\u202e.bin") << unusable;
        QTest::newRow("usable") << "image.bin" << "";
        QTest::newRow("usable, not confirmed") << "image.bin" << "[updatedialog:firmware:declined]";
        QTest::newRow("usable, another program updates the unit") << "image.bin" << "[updatedialog:firmware:elsewhere]";
    }

    // Only a file that can be tried sends the sensor to its bootloader; it is flashed when
    // the bootloader comes, without a second file dialog.
    void useFileAsksForTheFileFirst()
    {
        QFETCH(QString, file);
        QFETCH(QString, status);
        nextFile = file.isEmpty() ? QString() : fixture->dir() + QLatin1Char('/') + file;
        QSignalSpy flashes(dialog.get(), &view_dialogupdate::updateFile);
        sensor->clearLog();
        const auto restore = qScopeGuard([] { TestSupport::Dialogs::confirmAnswer = true; });
        TestSupport::Dialogs::confirmAnswer = !status.endsWith(QLatin1String("declined]"));
        UpdateLock otherProgram;
        QVERIFY(!status.endsWith(QLatin1String("elsewhere]")) || otherProgram.acquire(connection->updateUnit()));
        dialog->useFileButton->click();
        QCOMPARE(SimFixture::commands(*sensor), status.isEmpty() ? QStringList({"app:bootloader;"}) : QStringList());
        QCOMPARE(dialog->statusLabel->text(), status.replace("%1", QString(nextFile).replace(u'\n', u'\uFFFD').replace(u'\u202e', u'\uFFFD')));
        emit dialog->bootloaderStage();
        QCOMPARE(flashes.count(), status.isEmpty() ? 1 : 0);
        if (status.isEmpty())
            QCOMPARE(flashes.at(0).at(0).toString(), nextFile);
        QCOMPARE(fileDialogs, 1);
    }

    void closingWhileFlashing_data()
    {
        QTest::addColumn<bool>("flashing");
        QTest::addColumn<bool>("escape");  // else the window's own close
        QTest::newRow("idle, Esc") << false << true;
        QTest::newRow("flashing, Esc") << true << true;
        QTest::newRow("flashing, close") << true << false;
    }

    // While a sequence runs neither button works and the window stays, saying why.
    void closingWhileFlashing()
    {
        dialog->show();
        QFETCH(bool, flashing);
        QFETCH(bool, escape);
        dialog->setFlashing(flashing);
        QCOMPARE(dialog->useFileButton->isEnabled() || dialog->cancelButton->isEnabled(), !flashing);
        escape ? QTest::keyClick(dialog.get(), Qt::Key_Escape) : void(dialog->close());
        QCOMPARE(dialog->isVisible(), flashing);
        QCOMPARE(dialog->busyLabel->isVisible(), flashing);
        waitUntilAnswered();
    }

    // The link lost between the request and the bootloader's arrival, or never there: nothing is flashed.
    void bootloaderAfterTheLinkWasLost()
    {
        view_dialogupdate standalone(nullptr);
        for (view_dialogupdate* asking : {dialog.get(), &standalone, dialog.get()}) {
            const bool linked = asking == dialog.get() && connection->isConnected;
            QSignalSpy flashes(asking, &view_dialogupdate::updateFile);
            asking->useFileButton->click();
            QCOMPARE(asking->upgradeRequested, linked);
            connection->disconnectDevice();
            emit asking->bootloaderStage();
            QCOMPARE(flashes.count(), 0);
            QCOMPARE(asking->statusLabel->text(), QString(linked ? "[updatedialog:firmware:failed]" : "[updatedialog:firmware:nosensor]"));
        }
    }
};

TESSARO_TEST_MAIN(tst_viewdialogupdate)
#include "tst_viewdialogupdate.moc"
