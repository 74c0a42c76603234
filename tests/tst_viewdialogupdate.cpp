// The online update dialog against the in-process stand-in service: its window, the
// firmware check and the connectivity probe with their reply rules, the stages of an
// update from a file, and the release of every request, also when the dialog goes first.
#include "app/serviceidentity.h"
#include "app/servicerequest.h"
#include "device/tessaro.h"
#include "sim/simsensor.h"
#include "sim/standinservice.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"
#include "update/view_dialogupdate.h"

#include <QGridLayout>
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

    QWidget* cell(int row, int column) const
    {
        QLayoutItem* item = dialog->grid->itemAtPosition(row, column);
        return item ? item->widget() : nullptr;
    }

    QList<int> span(QWidget* widget) const
    {
        int row = 0, column = 0, rows = 0, columns = 0;
        dialog->grid->getItemPosition(dialog->grid->indexOf(widget), &row, &column, &rows, &columns);
        return {row, column, rows, columns};
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

    void windowLayout()
    {
        QVERIFY(dialog->isWindow());
        QVERIFY(!dialog->parentWidget());
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->layout(), dialog->grid);

        QCOMPARE(dialog->infoLabel->text(), QStringLiteral("[updatedialog:info]"));
        QCOMPARE(span(dialog->infoLabel), QList<int>({0, 0, 1, 4}));
        QCOMPARE(int(dialog->grid->itemAt(dialog->grid->indexOf(dialog->infoLabel))->alignment()), 0xa4);

        QCOMPARE(cell(1, 0), dialog->swCaption);
        QCOMPARE(dialog->swCaption->text(), QStringLiteral("[updatedialog:sw]"));
        QCOMPARE(span(dialog->swLabel), QList<int>({1, 1, 1, 3}));
        QCOMPARE(dialog->swLabel->text(), QStringLiteral("none"));
        QCOMPARE(cell(2, 0), dialog->hwCaption);
        QCOMPARE(dialog->hwCaption->text(), QStringLiteral("[updatedialog:hw]"));
        QCOMPARE(span(dialog->hwLabel), QList<int>({2, 1, 1, 3}));
        QCOMPARE(dialog->hwLabel->text(), QStringLiteral("none"));
        QCOMPARE(span(dialog->statusLabel), QList<int>({3, 0, 1, 4}));
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("none"));

        QVERIFY(!cell(4, 0) && !cell(4, 1) && !cell(4, 2) && !cell(4, 3));
        QCOMPARE(dialog->grid->rowStretch(4), 100);
        QCOMPARE(cell(5, 1), dialog->useFileButton);
        QCOMPARE(dialog->useFileButton->text(), QStringLiteral("[updatedialog:usefile]"));
        QCOMPARE(cell(5, 3), dialog->cancelButton);
        QCOMPARE(dialog->cancelButton->text(), QStringLiteral("[updatedialog:cancel]"));

        QVERIFY(!dialog->upgradeRequested);
        QVERIFY(!dialog->updatePending);
        QVERIFY(!dialog->internetOk);
        // Nothing is asked before the dialog is shown.
        QTest::qWait(50);
        QVERIFY(service->requests().isEmpty());
    }

    void showingAsksTheService()
    {
        QSignalSpy shown(dialog.get(), &view_dialogupdate::shown);
        dialog->show();
        QCOMPARE(shown.count(), 1);
        QCOMPARE(dialog->swLabel->text(), QStringLiteral("SW 2.4"));
        QCOMPARE(dialog->hwLabel->text(), QStringLiteral("HW 1.1"));
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), Ok);
        QVERIFY(dialog->internetOk);

        const auto requests = service->requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requestsTo(Internet).size(), 1);
        QVERIFY(!requestsTo(Internet).first().hasData);
        const auto check = requestsTo(Firmware);
        QCOMPARE(check.size(), 1);
        QVERIFY(check.first().dataWellFormed);
        QCOMPARE(check.first().identity, QStringList({"TS-000123", "HW 1.1", "SW 2.4", "UTIL 2.2"}));
        QCOMPARE(check.first().data, serviceQueryText(sensorId, sensorHw, sensorSw).toLatin1());

        // Shown again after closing: asked again.
        dialog->close();
        QVERIFY(!dialog->isVisible());
        dialog->show();
        QCOMPARE(shown.count(), 2);
        waitUntilAnswered();
        QCOMPARE(requestsTo(Firmware).size(), 2);
        QCOMPARE(requestsTo(Internet).size(), 2);
    }

    void noSensorSeenYet()
    {
        sensorId.clear();
        sensorHw.clear();
        sensorSw.clear();
        dialog->show();
        QCOMPARE(dialog->swLabel->text(), QString());
        QCOMPARE(dialog->hwLabel->text(), QString());
        waitUntilAnswered();
        QCOMPARE(requestsTo(Firmware).first().identity, QStringList({"", "", "", "UTIL 2.2"}));
    }

    void firmwareVerdicts_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("serving");
        QTest::addColumn<QString>("status"); // empty: no verdict at all
        QTest::newRow("true") << QByteArray("true") << "" << Ok;
        QTest::newRow("true with more fields") << QByteArray("true;false;x") << "" << Ok;
        QTest::newRow("true up to a zero byte") << QByteArray("true\0;junk", 10) << "" << Ok;
        QTest::newRow("false") << QByteArray("false") << "" << New;
        QTest::newRow("letter case") << QByteArray("True") << "" << New;
        QTest::newRow("line end") << QByteArray("true\n") << "" << New;
        QTest::newRow("blank") << QByteArray(" true") << "" << New;
        QTest::newRow("empty") << QByteArray() << "" << New;
        QTest::newRow("zero byte first") << QByteArray("\0true", 5) << "" << New;
        QTest::newRow("garbage") << QByteArray("\xff\xfe<html>\x01;;;;", 13) << "" << New;
        QTest::newRow("long") << QByteArray(100000, 'x') << "" << New;
        QTest::newRow("endless") << QByteArray("true") << "endless" << Ok;
        QTest::newRow("silent") << QByteArray("true") << "silent" << QString();
        QTest::newRow("redirect on the same host") << QByteArray("true") << "redirect" << Ok;
        QTest::newRow("redirect in a loop") << QByteArray("true") << "loop" << QString();
        QTest::newRow("redirect to another port") << QByteArray("true") << "elsewhere" << QString();
    }

    void firmwareVerdicts()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, serving);
        QFETCH(QString, status);
        const QString moved = QStringLiteral("/utility/moved.php");
        service->setReply(serving == "redirect" ? moved : Firmware, body);
        service->setEndless(Firmware, serving == "endless");
        service->setHang(Firmware, serving == "silent");
        if (serving == "redirect")
            service->setRedirect(Firmware, moved.toLatin1());
        if (serving == "loop")
            service->setRedirect(Firmware, Firmware.toLatin1());
        if (serving == "elsewhere")
            service->setRedirect(Firmware, "http://127.0.0.1:9" + moved.toLatin1());
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        dialog->getFirmwareCheck();
        waitUntilAnswered();
        QCOMPARE(statuses.count(), status.isEmpty() ? 0 : 1);
        QCOMPARE(dialog->statusLabel->text(), status.isEmpty() ? QStringLiteral("none") : status);
    }

    // A service that takes the request and never answers: showing the dialog again and
    // again keeps one request of each kind, not one more pair per showing.
    void showingsKeepOneRequestOfEachKind()
    {
        service->setHang(Firmware, true);
        service->setHang(Internet, true);
        for (int i = 0; i < 5; ++i) {
            dialog->show();
            dialog->cancelButton->click();
        }
        QCOMPARE(dialog->pendingRequests(), 2);
        const auto replies = dialog->requestsInFlight();
        QCOMPARE(replies.size(), 2);
        QCOMPARE(replies[0]->manager(), replies[1]->manager());
        QTRY_COMPARE(service->openConnections(), 2);
        // The time limit ends them.
        waitUntilAnswered();
    }

    void serviceErrorsChangeNothing_data()
    {
        QTest::addColumn<int>("httpStatus");
        QTest::newRow("not found") << 404;
        QTest::newRow("server error") << 500;
    }

    void serviceErrorsChangeNothing()
    {
        QFETCH(int, httpStatus);
        service->setReply(Firmware, "true", httpStatus);
        service->setReply(Internet, "true", httpStatus);
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        dialog->show();
        waitUntilAnswered();
        QCOMPARE(service->requests().size(), 2);
        QCOMPARE(statuses.count(), 0);
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("none"));
        QVERIFY(!dialog->internetOk);
    }

    void noServiceAtAll()
    {
        // Nothing listens at this address: a connection error, handled like any other.
        ServiceAddress::useClosedPort();
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        dialog->show();
        QTRY_COMPARE_WITH_TIMEOUT(dialog->pendingRequests(), 0, 10000);
        qputenv("TESSARO_SERVICE_URL", service->baseUrl().toLatin1());
        QCOMPARE(statuses.count(), 0);
        QVERIFY(!dialog->internetOk);
    }

    void internetProbe_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::newRow("true") << QByteArray("true") << true;
        QTest::newRow("true up to a zero byte") << QByteArray("true\0x", 6) << true;
        QTest::newRow("true with fields") << QByteArray("true;") << false;
        QTest::newRow("false") << QByteArray("false") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("garbage") << QByteArray("\x80\x81\x82") << false;
    }

    void internetProbe()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        service->setReply(Internet, body);
        dialog->checkInternet();
        waitUntilAnswered();
        QCOMPARE(requestsTo(Internet).size(), 1);
        QCOMPARE(dialog->internetOk, ok);
        // Nothing else hangs on it.
        QCOMPARE(dialog->statusLabel->text(), QStringLiteral("none"));
    }

    void requestObjectsAreReleased()
    {
        dialog->show();
        const auto replies = dialog->requestsInFlight();
        QCOMPARE(replies.size(), 2);
        waitUntilAnswered();
        for (const auto& reply : replies)
            QTRY_VERIFY(reply.isNull());
    }

    void answerAfterTheDialogIsGone_data()
    {
        QTest::addColumn<bool>("hang");
        QTest::newRow("late answer") << false;
        QTest::newRow("no answer") << true;
    }

    void answerAfterTheDialogIsGone()
    {
        QFETCH(bool, hang);
        if (hang) {
            service->setHang(Firmware, true);
            service->setHang(Internet, true);
        } else {
            service->setDelay(Firmware, 150);
            service->setDelay(Internet, 150);
        }
        dialog->show();
        QTRY_COMPARE(service->requests().size(), 2);
        const auto replies = dialog->requestsInFlight();
        QCOMPARE(replies.size(), 2);
        QList<QPointer<QNetworkAccessManager>> managers;
        for (const auto& reply : replies)
            managers << reply->manager();
        dialog.reset();
        // Released with the dialog, not left to an answer that may never come.
        for (const auto& reply : replies)
            QVERIFY(reply.isNull());
        for (const auto& manager : managers)
            QVERIFY(manager.isNull());
        QTest::qWait(300);
        service->resetReplies();
    }

    void cancelOnlyHides()
    {
        dialog->show();
        waitUntilAnswered();
        dialog->cancelButton->click();
        QVERIFY(!dialog->isVisible());
        // Hidden, it still follows the stages.
        service->setVerdicts(false);
        sensorSw = QStringLiteral("SW 2.5");
        emit dialog->tessaroStage();
        QCOMPARE(dialog->swLabel->text(), QStringLiteral("SW 2.5"));
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), New);
        QCOMPARE(requestsTo(Firmware).last().identity.value(2), QStringLiteral("SW 2.5"));
    }

    void sensorStageAsksAgain()
    {
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        emit dialog->tessaroStage();
        emit dialog->tessaroStage();
        // The second check replaces the first.
        QCOMPARE(dialog->pendingRequests(), 1);
        waitUntilAnswered();
        QCOMPARE(statuses.count(), 1);
        QVERIFY(!requestsTo(Firmware).isEmpty());
        QVERIFY(requestsTo(Internet).isEmpty());
        QCOMPARE(dialog->swLabel->text(), QStringLiteral("SW 2.4"));
        QCOMPARE(dialog->hwLabel->text(), QStringLiteral("HW 1.1"));
    }

    void useFileSendsTheSensorToItsBootloader()
    {
        QSignalSpy updateFile(dialog.get(), &view_dialogupdate::updateFile);
        dialog->useFileButton->click();
        QVERIFY(dialog->upgradeRequested);
        QCOMPARE(sensor->bootloaderRequests(), 1);
        QCOMPARE(SimFixture::commands(*sensor), QStringList({QStringLiteral("app:bootloader;")}));
        QCOMPARE(updateFile.count(), 0);
        QVERIFY(!dialog->updatePending);
    }

    void bootloaderOnItsOwnIsLeftAlone()
    {
        QSignalSpy updateFile(dialog.get(), &view_dialogupdate::updateFile);
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        emit dialog->bootloaderStage();
        QCOMPARE(updateFile.count(), 0);
        QCOMPARE(statuses.count(), 0);
        QVERIFY(!dialog->updatePending);
        QVERIFY(service->requests().isEmpty());
    }

    void stagesOfAnUpdate()
    {
        service->setVerdicts(false);
        QSignalSpy statuses(dialog.get(), &view_dialogupdate::firmwareStatus);
        dialog->show();
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), New);

        dialog->useFileButton->click();
        QVERIFY(dialog->upgradeRequested);

        // The file dialog runs inside updateFile; the update counts as pending only once
        // the run has verified.
        int fileDialogs = 0;
        connect(dialog.get(), &view_dialogupdate::updateFile, this, [&] { ++fileDialogs; });
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

        // The sensor is back: the first answer reports the update, whatever it says ...
        sensorSw = QStringLiteral("SW 2.5");
        emit dialog->tessaroStage();
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), Updated);
        QVERIFY(!dialog->updatePending);
        // ... the next one the service's verdict.
        emit dialog->tessaroStage();
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), New);
        service->setVerdicts(true);
        emit dialog->tessaroStage();
        waitUntilAnswered();
        QCOMPARE(dialog->statusLabel->text(), Ok);

        QStringList seen;
        for (const auto& args : qAsConst(statuses))
            seen << args.first().toString();
        QCOMPARE(seen, QStringList({New, Updating, Updated, New, Ok}));
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
