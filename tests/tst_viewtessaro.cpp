// The sensor view: tabs built from the parameter file, identity, web check, presets,
// easy slider and the data poll, asserted on what the simulated sensor receives.
#include "app/serviceidentity.h"
#include "app/servicerequest.h"
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "sensor/view_tessaro.h"
#include "sim/standinservice.h"
#include "simfixture.h"
#include "serviceaddress.h"
#include "testmain.h"

#include <QComboBox>
#include <QGraphicsPixmapItem>
#include <QGridLayout>
#include <QGroupBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

#include <optional>

namespace {

QJsonObject parameter(const QString& name, const QString& type, const QString& regname, const QString& module = "sens")
{
    QJsonObject p{{"name", name}, {"type", type}, {"regname", regname}, {"module", module}};
    if (type == QLatin1String("int")) {
        p.insert("min", "0");
        p.insert("max", "255");
    }
    if (type == QLatin1String("enum"))
        p.insert("values", QJsonArray{QJsonObject{{"value", "8"}, {"comment", "Manual"}},
                                      QJsonObject{{"value", "136"}, {"comment", "Auto"}}});
    return p;
}

QJsonObject modelFile()
{
    return QJsonObject{
        {"parameters_system",
         QJsonArray{QJsonObject{{"name", "Detection"},
                                {"parameters", QJsonArray{parameter("Gain", "int", "gain"), "not an object",
                                                          parameter("Mode", "enum", "conf1thr"),
                                                          parameter("Filter", "bool", "filter")}}},
                    QJsonObject{{"name", "Pen"},
                                {"parameters", QJsonArray{parameter("Float", "float", "fl", "pen"),
                                                          parameter("Power", "int", "power", "pen"),
                                                          parameter("Beep", "bool", "beep", "pen")}}}}},
        {"parameters_advanced", QJsonArray{parameter("Threshold", "int", "thr"), 7,
                                           parameter("Level", "int", "level")}},
        {"parameters_simple",
         QJsonArray{QJsonObject{{"name", "Bright"},
                                {"info", "For bright rooms"},
                                {"parameters", QJsonArray{QJsonObject{{"module", "sens"}, {"regname", "gain"}, {"value", "12abc"}},
                                                          QJsonObject{{"module", "pen"}, {"regname", "power"}, {"value", "3"}},
                                                          QJsonObject{{"module", "sens"}, {"regname", "thr"}, {"value", "40"}}}}},
                    QJsonObject{{"name", "Empty"}}}},
        {"setting_easy_sensor_man", "thrman"},
        {"setting_easy_sensor_auto", "thrauto"},
        {"parameters_easy_man", QJsonArray{"10", "20", "30", "40"}},
        {"parameters_easy_auto", QJsonArray{"100", "200", "300"}},
    };
}

} // namespace

class tst_viewtessaro : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::optional<StandInService> service;
    std::shared_ptr<sim::SimSensor> sensor;
    QPointer<tessaro> device;
    QPointer<view_tessaro> view;

    void writeModel(const QJsonObject& model)
    {
        fixture->writeFile(QStringLiteral("sensors/model.json"), QJsonDocument(model).toJson());
    }

    void connectSensor()
    {
        device = SimFixture::openConnection();
        QVERIFY(device);
    }

    // Builds the view as the main window does, with the poll stopped so tests tick by hand.
    void buildView()
    {
        view = new view_tessaro(nullptr, device);
        view->pollTimer->stop();
        view->reloadUi();
    }

    QStringList sent() const { return SimFixture::commands(*sensor); }

    // Each test's sensor has an identity of its own, since requests of earlier tests'
    // views may still reach the service.
    QString sensorIdOfTest;
    int checkRequestsOfThisTest() const
    {
        int count = 0;
        const auto requests = service->requests();
        for (const auto& request : requests)
            count += request.identity.value(0) == sensorIdOfTest ? 1 : 0;
        return count;
    }

    static QStringList groupTitles(QWidget* tab)
    {
        QStringList titles;
        const auto boxes = tab->findChildren<QGroupBox*>();
        for (const QGroupBox* box : boxes)
            titles << box->title();
        return titles;
    }

    static QStringList captions(QGridLayout* grid)
    {
        QStringList list;
        for (int row = 0; row < grid->rowCount(); ++row) {
            QLayoutItem* item = grid->itemAtPosition(row, 0);
            if (auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr)
                list << label->text();
        }
        return list;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(ServiceAddress::useStandIn(service));
    }

    void cleanupTestCase()
    {
        service.reset();
    }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry({"SW 2.4"}, {"HW 1.1"}, "model.json")});
        writeModel(modelFile());
        sensor = fixture->plugSensor();
        static int testNumber = 0;
        sensorIdOfTest = QStringLiteral("TS-%1").arg(++testNumber);
        sensor->setIdReply(("app:id:" + sensorIdOfTest + ";").toStdString());
        sensor->setReply("sens:read:conf1thr;", "sens:read:conf1thr:136:;");
        sensor->setReply("sens:read:thrauto;", "sens:read:thrauto:100:;");
        service->resetReplies();
        service->clearRequests();
        connectSensor();
    }

    void cleanup()
    {
        delete view;
        SimFixture::closeConnection(device);
        sensor.reset();
        fixture.reset();
    }

    void tabsAndPollTimer()
    {
        view = new view_tessaro(nullptr, device);
        QCOMPARE(view->tabs->count(), 4);
        QCOMPARE(view->tabs->tabText(0), QStringLiteral("[tab:simple]"));
        QCOMPARE(view->tabs->tabText(1), QStringLiteral("[tab:info]"));
        QCOMPARE(view->tabs->tabText(2), QStringLiteral("[tab:system]"));
        QCOMPARE(view->tabs->tabText(3), QStringLiteral("[tab:advanced]"));
        QVERIFY(view->pollTimer->isActive());
        QCOMPARE(view->pollTimer->interval(), 100);
        QCOMPARE(view->easySlider->maximum(), 10);
        QCOMPARE(view->easySlider->pageStep(), 1);
        QVERIFY(sent().isEmpty());
    }

    void systemAndAdvancedTabsFollowTheFile()
    {
        buildView();
        QCOMPARE(groupTitles(view->systemTab), QStringList({"Detection", "Pen"}));
        const auto boxes = view->systemTab->findChildren<QGroupBox*>();
        QCOMPARE(captions(qobject_cast<QGridLayout*>(boxes.at(0)->layout())), QStringList({"Gain", "Mode", "Filter"}));
        QCOMPARE(captions(qobject_cast<QGridLayout*>(boxes.at(1)->layout())), QStringList({"Power", "Beep"}));
        QCOMPARE(captions(view->advancedLayout), QStringList({"Threshold", "Level"}));
        QCOMPARE(view->tabs->indexOf(view->advancedTab), 3);
        QCOMPARE(view->advancedTab->findChildren<tessaroPushButton*>().size(), 2);
        QCOMPARE(view->presetCombo->count(), 2);
        QCOMPARE(view->presetInfo->text(), QStringLiteral("For bright rooms"));
    }

    void identityAndCheckRequest()
    {
        sensor->setIdReply("app:id:TS-7;");
        sensor->setVersionReply("app:version:HW 1.1:SW 2.4:2026:11:20;");
        buildView();
        QCOMPARE(view->idLabel->text(), QStringLiteral("TS-7"));
        QCOMPARE(view->hwLabel->text(), QStringLiteral("HW 1.1"));
        QCOMPARE(view->swLabel->text(), QStringLiteral("SW 2.4"));
        QCOMPARE(view->swBuildLabel->text(), QStringLiteral("2026:11:20"));
        QCOMPARE(sensorId, QStringLiteral("TS-7"));
        QCOMPARE(sensorHw, QStringLiteral("HW 1.1"));
        QCOMPARE(sensorSw, QStringLiteral("SW 2.4"));
        QCOMPARE(view->checkData, QString::fromLatin1(QByteArray("TS-7;HW 1.1;SW 2.4;UTIL 2.2").toBase64()));
        // Earlier tests' requests may still trickle in: look for this view's.
        const auto thisViews = [this] {
            QVector<StandInService::Request> found;
            const auto requests = service->requests();
            for (const auto& request : requests) {
                if (request.data == view->checkData.toLatin1())
                    found << request;
            }
            return found;
        };
        QTRY_COMPARE(thisViews().size(), 1);
        QCOMPARE(thisViews().at(0).path, QStringLiteral("/utility/check.php"));
        QCOMPARE(thisViews().at(0).identity, QStringList({"TS-7", "HW 1.1", "SW 2.4", "UTIL 2.2"}));
        QTRY_VERIFY(!view->firmwareStatusText.isEmpty());
        QTRY_VERIFY(!view->checkRequest->isPending());
    }

    void versionReplyParts_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("hw");
        QTest::newRow("five parts") << "app:version:HW 1.1:SW 2.4:b;" << "" << "";
        QTest::newRow("six parts") << "app:version:HW 1.1:SW 2.4:a:b;" << "a:b" << "HW 1.1";
        QTest::newRow("eight parts") << "app:version:HW 1.1:SW 2.4:a:b:c:d;" << "a:b:c" << "HW 1.1";
        QTest::newRow("empty versions") << "app:version:::a:b;" << "a:b" << "";
    }

    void versionReplyParts()
    {
        QFETCH(QString, reply);
        QFETCH(QString, build);
        QFETCH(QString, hw);
        device->disconnectDevice();
        delete device;
        QJsonObject e = SimFixture::sensorEntry({}, {}, "model.json");
        e.insert("default", true);
        fixture->writeCatalogue({e});
        connectSensor();
        sensor->setVersionReply(reply.toStdString());
        sensor->setIdReply("app:id;");
        buildView();
        QCOMPARE(view->swBuildLabel->text(), build);
        QCOMPARE(view->hwLabel->text(), hw);
        QVERIFY(view->idLabel->text().isEmpty());
        QCOMPARE(QString::fromLatin1(QByteArray::fromBase64(view->checkData.toLatin1())).section(';', 1, 1), hw);
    }

    void checkReplies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("software");
        QTest::addColumn<bool>("endless");
        QTest::newRow("current, newer tool") << QByteArray("true;false") << "[info:sensor:uptodate]" << "[menu:info:about:newsoft]" << false;
        QTest::newRow("newer firmware only") << QByteArray("false") << "[info:sensor:newfirm]" << "" << false;
        QTest::newRow("both current") << QByteArray("true;true") << "[info:sensor:uptodate]" << "[menu:info:about:uptodate]" << false;
        QTest::newRow("unexpected") << QByteArray("yes;TRUE") << "" << "" << false;
        QTest::newRow("zero byte") << QByteArray("true\0;false", 11) << "[info:sensor:uptodate]" << "" << false;
        // Read only as far as it matters, then dropped.
        QTest::newRow("endless") << QByteArray("true;false") << "[info:sensor:uptodate]" << "[menu:info:about:newsoft]" << true;
    }

    void checkReplies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, firmware);
        QFETCH(QString, software);
        QFETCH(bool, endless);
        service->setReply(StandInService::CheckPath, body);
        service->setEndless(StandInService::CheckPath, endless);
        buildView();
        QTRY_VERIFY(!view->checkRequest->isPending());
        QCOMPARE(view->firmwareStatusText, firmware);
        QCOMPARE(view->softwareStatusText, software);
        view->dataPollWorker();
        QCOMPARE(view->statusLabel->text(), firmware);
    }

    void failedCheckLeavesStatuses()
    {
        service->setReply(StandInService::CheckPath, "true;true", 500);
        buildView();
        QTRY_VERIFY(!view->checkRequest->isPending());
        QVERIFY(view->firmwareStatusText.isEmpty());
        QVERIFY(view->softwareStatusText.isEmpty());
    }

    void checkReplyAfterViewIsGone()
    {
        service->setDelay(StandInService::CheckPath, 200);
        buildView();
        QPointer<QObject> manager = view->networkManager.data();
        QVERIFY(manager);
        delete view;
        QVERIFY(manager.isNull());
        QTest::qWait(300);
    }

    void missingParameterFileStopsEarly()
    {
        fixture->removeFile(QStringLiteral("sensors/model.json"));
        sensorId = QStringLiteral("before");
        buildView();
        QVERIFY(sent().isEmpty());
        QVERIFY(view->systemTab->findChildren<QGroupBox*>().isEmpty());
        QCOMPARE(view->presetCombo->count(), 0);
        QCOMPARE(sensorId, QStringLiteral("before"));
        QTest::qWait(50);
        QCOMPARE(checkRequestsOfThisTest(), 0);
    }

    void failedIdentityReadEndsReload()
    {
        sensor->setReply("app:id;", "x");
        sensor->injectFault(3, sim::Fault::ReadFails);  // conf1thr, easy register, then app:id;
        QSignalSpy lost(device, &tessaro::disconnected);
        buildView();
        QCOMPARE(lost.count(), 1);
        QTest::qWait(50);
        QCOMPARE(checkRequestsOfThisTest(), 0);
    }

    void tabChangesReadRegisters()
    {
        buildView();
        sensor->clearLog();
        view->tabs->setCurrentIndex(1);
        QVERIFY(sent().isEmpty());
        view->tabs->setCurrentIndex(2);
        // One read per editor of both the system and the advanced tab.
        QCOMPARE(sent(), QStringList({"sens:read:gain;", "sens:read:conf1thr;", "sens:read:filter;",
                                      "pen:read:power;", "pen:read:beep;", "sens:read:thr;", "sens:read:level;"}));
    }

    void advancedButtons()
    {
        buildView();
        const auto buttons = view->advancedTab->findChildren<tessaroPushButton*>();
        for (tessaroPushButton* button : buttons)
            button->setPauseMs(0);
        sensor->clearLog();
        buttons.at(1)->click();
        QCOMPARE(sent(), QStringList({"sens:reset;", "sens:commit;"}));
        // Reload: the reset, then every editor shows what the sensor holds again.
        sensor->clearLog();
        sensor->setReply("sens:read:thr;", "sens:read:thr:77:;");
        buttons.at(0)->click();
        QCOMPARE(sent(), QStringList({"sens:reset;", "sens:read:gain;", "sens:read:conf1thr;", "sens:read:filter;",
                                      "pen:read:power;", "pen:read:beep;", "sens:read:thr;", "sens:read:level;"}));
        QCOMPARE(view->advancedTab->findChild<QSlider*>()->value(), 77);
    }

    void presetSave()
    {
        buildView();
        sensor->clearLog();
        view->simpleUpdateSensor();
        QCOMPARE(sent(), QStringList({"sens:write:gain:12abc;", "pen:write:power:3;", "sens:write:thr:40;",
                                      "sens:commit;", "sens:reset;"}));
    }

    void presetWithoutWritesOnlyCommits()
    {
        buildView();
        view->presetCombo->setCurrentIndex(1);
        QVERIFY(view->presetInfo->text().isEmpty());
        sensor->clearLog();
        view->simpleUpdateSensor();
        QCOMPARE(sent(), QStringList({"sens:commit;", "sens:reset;"}));
    }

    void presetFailureMidway()
    {
        buildView();
        sensor->clearLog();
        sensor->injectFault(2, sim::Fault::WriteFails);
        view->simpleUpdateSensor();
        QCOMPARE(sent(), QStringList({"sens:write:gain:12abc;"}));
        QVERIFY(!device->isConnected);
    }

    void easyModeAndNearestEntry_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("easyRegister");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("maximum");
        QTest::newRow("manual, between entries") << "8" << "25" << "thrman" << 1 << 3;
        QTest::newRow("manual, far away") << "8" << "5000" << "thrman" << 0 << 3;
        QTest::newRow("auto 136") << "136" << "290" << "thrauto" << 2 << 2;
        QTest::newRow("auto unreadable") << "x" << "200" << "thrauto" << 1 << 2;
        QTest::newRow("smallest int") << "136" << "-2147483648" << "thrauto" << 0 << 2;
        QTest::newRow("largest int") << "136" << "2147483647" << "thrauto" << 0 << 2;
    }

    void easyModeAndNearestEntry()
    {
        QFETCH(QString, mode);
        QFETCH(QString, current);
        QFETCH(QString, easyRegister);
        QFETCH(int, position);
        QFETCH(int, maximum);
        sensor->setReply("sens:read:conf1thr;", ("sens:read:conf1thr:" + mode + ":;").toStdString());
        sensor->setReply(("sens:read:" + easyRegister + ";").toStdString(),
                         ("sens:read:" + easyRegister + ":" + current + ":;").toStdString());
        buildView();
        QCOMPARE(view->easyRegister, easyRegister);
        QCOMPARE(view->easySlider->value(), position);
        QCOMPARE(view->easySlider->maximum(), maximum);
        // Showing is all: a threshold set elsewhere stays as it is.
        QCOMPARE(sent().filter(QRegularExpression(":write:|commit|reset")), QStringList());
    }

    void conf1thrWithFourFieldsMeansAuto()
    {
        sensor->setReply("sens:read:conf1thr;", "sens:read:conf1thr:8;");
        buildView();
        QCOMPARE(view->easyRegister, QStringLiteral("thrauto"));
    }

    void easyRefreshOnlyShowsAndUserMovesWrite()
    {
        buildView();
        sensor->clearLog();
        // Set on the advanced tab to a value between two entries.
        sensor->setReply("sens:read:thrauto;", "sens:read:thrauto:290:;");
        view->tabs->setCurrentIndex(1);
        view->tabs->setCurrentIndex(0);
        QCOMPARE(view->easySlider->value(), 2);
        QCOMPARE(sent(), QStringList({"sens:read:conf1thr;", "sens:read:thrauto;"}));
        sensor->clearLog();
        QTest::keyClick(view->easySlider, Qt::Key_Left);
        QCOMPARE(sent(), QStringList({"sens:write:thrauto:200;", "sens:commit;", "sens:reset;"}));
    }

    void easySliderWritesCommitsResets()
    {
        buildView();
        sensor->clearLog();
        view->easySlider->setValue(1);
        QCOMPARE(sent(), QStringList({"sens:write:thrauto:200;", "sens:commit;", "sens:reset;"}));
    }

    void emptyEasyTableWritesNothing()
    {
        QJsonObject model = modelFile();
        model.remove("parameters_easy_auto");
        writeModel(model);
        buildView();
        QCOMPARE(view->easySlider->maximum(), 0);
        sensor->clearLog();
        view->easyUpdateSensor(0);
        QVERIFY(sent().isEmpty());
    }

    void updateFirmwareAsksForTheBootloader()
    {
        buildView();
        sensor->clearLog();
        view->updateFirmware();
        QCOMPARE(sent(), QStringList({"app:bootloader;"}));
    }

    void disconnectStopsThePoll()
    {
        view = new view_tessaro(nullptr, device);
        QVERIFY(view->pollTimer->isActive());
        device->disconnectDevice();
        QVERIFY(!view->pollTimer->isActive());
    }

    void pollTickSequence()
    {
        buildView();
        QSignalSpy points(view.data(), &view_tessaro::updatePoints);
        QSignalSpy calState(view.data(), &view_tessaro::updateCalState);
        sensor->setReply("sens:point;", "sens:point:100:200:3:1;x");
        sensor->setReply("cal:state;", "cal:state:1:2;");
        sensor->clearLog();
        view->dataPollWorker();
        QCOMPARE(sent().mid(0, 4), QStringList({"sens:point;", "pen:state;", "pen:id;", "cal:state;"}));
        QCOMPARE(points.takeFirst().at(0).toString(), QStringLiteral("sens:point:100:200:3:1"));
        QCOMPARE(calState.takeFirst().at(0).toString(), QStringLiteral("cal:state:1:2"));
    }

    void abortOnlyWhileCalibrating_data()
    {
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<bool>("enabled");
        // Before each row the sensor has reported a calibration running.
        QTest::newRow("running") << QByteArray("cal:state:1:2;") << true;
        QTest::newRow("running, no point yet") << QByteArray("cal:state:1:0;") << true;
        QTest::newRow("finished") << QByteArray("cal:state:0:0;") << false;
        QTest::newRow("reply too short") << QByteArray("cal:state;") << false;
    }

    void abortOnlyWhileCalibrating()
    {
        QFETCH(QByteArray, state);
        QFETCH(bool, enabled);
        buildView();
        QVERIFY(!view->calibrateAbortButton->isEnabled());
        sensor->setReply("cal:state;", "cal:state:1:3;");
        view->dataPollWorker();
        QVERIFY(view->calibrateAbortButton->isEnabled());
        sensor->setReply("cal:state;", state.toStdString());
        view->dataPollWorker();
        QCOMPARE(view->calibrateAbortButton->isEnabled(), enabled);
    }

    void penState_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("volts");
        QTest::addColumn<QString>("running");
        QTest::addColumn<int>("battery");  // index into the battery pictures, -1 unchanged
        QTest::addColumn<QString>("language");  // numbers are written as in this language
        QTest::newRow("full") << "pen:2:100:7200;" << "3.07 [live:pen:volt]" << "2.00 [live:pen:hours]" << 1 << "en";
        QTest::newRow("full, Dutch") << "pen:2:100:7200;" << "3,07 [live:pen:volt]" << "2,00 [live:pen:hours]" << 1
                                     << "nl";
        QTest::newRow("negative, German") << "pen:2:-5:5400000;" << "-61,44 [live:pen:volt]"
                                          << "1.500,00 [live:pen:hours]" << 5 << "de";
        QTest::newRow("75") << "pen:2:110:0;" << "2.79 [live:pen:volt]" << "[live:pen:nodata]" << 2 << "en";
        QTest::newRow("25") << "pen:2:146:60;" << "2.10 [live:pen:volt]" << "0.02 [live:pen:hours]" << 4 << "en";
        QTest::newRow("0") << "pen:2:147:60;" << "2.09 [live:pen:volt]" << "0.02 [live:pen:hours]" << 5 << "en";
        QTest::newRow("no reading") << "pen:2:0:3600;" << "[live:pen:nodata]" << "1.00 [live:pen:hours]" << 0 << "en";
        QTest::newRow("negative") << "pen:2:-5:1;" << "-61.44 [live:pen:volt]" << "0.00 [live:pen:hours]" << 5 << "en";
        QTest::newRow("no pen") << "pen:1:100:7200;" << "[live:pen:nodata]" << "[live:pen:nodata]" << -1 << "en";
        QTest::newRow("too short") << "pen:2:100;" << "" << "" << -1 << "en";
        QTest::newRow("empty") << "" << "" << "" << -1 << "en";
    }

    void penState()
    {
        QFETCH(QString, reply);
        QFETCH(QString, volts);
        QFETCH(QString, running);
        QFETCH(int, battery);
        QFETCH(QString, language);
        static const char* const files[] = {"rc/batt_unknown.png", "rc/batt_100.png", "rc/batt_75.png",
                                            "rc/batt_50.png", "rc/batt_25.png", "rc/batt_0.png"};
        // The pictures are looked up in the build folder.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        view = new view_tessaro(nullptr, device);
        QDir::setCurrent(fixture->dir());
        view->pollTimer->stop();
        view->setLocale(QLocale(language));
        const QImage before = view->batteryItem->pixmap().toImage();
        sensor->setReply("pen:state;", reply.toStdString());
        view->dataPollWorker();
        QCOMPARE(view->penVoltLabel->text(), volts);
        QCOMPARE(view->penRunLabel->text(), running);
        const QImage shown = view->batteryItem->pixmap().toImage();
        if (battery < 0)
            QCOMPARE(shown, before);
        else
            QCOMPARE(shown, QImage(QString::fromLatin1(QT_TESTCASE_BUILDDIR) + '/' + files[battery])
                                .convertToFormat(shown.format()));
    }

    void penId_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("version");
        QTest::newRow("ready") << "pen:id:50:P-9:1A03;" << "P-9" << "[info:pen:id:ready]" << "SW 26.03";
        QTest::newRow("acquiring") << "pen:id:49:P-9:7;" << "P-9" << "[info:pen:id:acquire]" << "SW 00.07";
        QTest::newRow("three fields") << "pen:id:60;" << "" << "[info:pen:id:ready]" << "SW 00.00";
        QTest::newRow("two fields") << "pen:id;" << "" << "" << "";
    }

    void penId()
    {
        QFETCH(QString, reply);
        QFETCH(QString, id);
        QFETCH(QString, status);
        QFETCH(QString, version);
        view = new view_tessaro(nullptr, device);
        view->pollTimer->stop();
        sensor->setReply("pen:id;", reply.toStdString());
        view->dataPollWorker();
        QCOMPARE(view->penIdLabel->text(), id);
        QCOMPARE(view->penIdStatusLabel->text(), status);
        QCOMPARE(view->penSwLabel->text(), version);
    }

    void cornersOnEveryEleventhTick()
    {
        view = new view_tessaro(nullptr, device);
        view->pollTimer->stop();
        for (int i = 1; i <= 4; ++i) {
            sensor->setReply(QStringLiteral("cal:read:x%1;").arg(i).toStdString(),
                             QStringLiteral("cal:read:x%1:%2;").arg(i).arg(i * 100).toStdString());
            sensor->setReply(QStringLiteral("cal:read:y%1;").arg(i).toStdString(),
                             QStringLiteral("cal:read:y%1:%2;").arg(i).arg(i * 10).toStdString());
        }
        sensor->setReply("cal:read:y4;", "cal:read:y4;");  // too short: reads as 0
        QSignalSpy corners(view.data(), &view_tessaro::updateCalPoints);
        // The counter is shared by all views: run until a corner read, then count.
        for (int i = 0; i < 11 && corners.isEmpty(); ++i)
            view->dataPollWorker();
        QCOMPARE(corners.count(), 1);
        QCOMPARE(corners.at(0).at(0).value<QList<int>>(), QList<int>({100, 200, 300, 400}));
        QCOMPARE(corners.at(0).at(1).value<QList<int>>(), QList<int>({10, 20, 30, 0}));
        sensor->clearLog();
        for (int i = 0; i < 10; ++i)
            view->dataPollWorker();
        QCOMPARE(corners.count(), 1);
        QCOMPARE(sent().size(), 40);
        view->dataPollWorker();
        QCOMPARE(corners.count(), 2);
        QCOMPARE(sent().mid(44), QStringList({"cal:read:x1;", "cal:read:y1;", "cal:read:x2;", "cal:read:y2;",
                                              "cal:read:x3;", "cal:read:y3;", "cal:read:x4;", "cal:read:y4;"}));
    }

    void cornerFailureEmitsNothing()
    {
        view = new view_tessaro(nullptr, device);
        view->pollTimer->stop();
        QSignalSpy corners(view.data(), &view_tessaro::updateCalPoints);
        for (int i = 0; i < 11 && corners.isEmpty(); ++i)
            view->dataPollWorker();
        QCOMPARE(corners.count(), 1);
        for (int i = 0; i < 10; ++i)
            view->dataPollWorker();
        sensor->injectFault(10, sim::Fault::WriteFails);  // 4 tick commands, then x1 y1 x2 y2 x3 y3
        view->dataPollWorker();
        QCOMPARE(corners.count(), 1);
        QVERIFY(!device->isConnected);
    }

    void tickWithoutReplyEndsThere_data()
    {
        QTest::addColumn<int>("silent");
        QTest::addColumn<QStringList>("commands");
        QTest::newRow("point") << 1 << QStringList({"sens:point;"});
        QTest::newRow("pen state") << 2 << QStringList({"sens:point;", "pen:state;"});
        QTest::newRow("calibration state") << 4 << QStringList({"sens:point;", "pen:state;", "pen:id;", "cal:state;"});
    }

    // A mute sensor costs one time limit a tick, not one for every exchange.
    void tickWithoutReplyEndsThere()
    {
        QFETCH(int, silent);
        QFETCH(QStringList, commands);
        view = new view_tessaro(nullptr, device);
        view->pollTimer->stop();
        sensor->clearLog();
        sensor->injectFault(silent, sim::Fault::NoReply);
        view->dataPollWorker();
        QCOMPARE(sent().mid(0, commands.size() + 1), commands);
        QVERIFY(device->isConnected);
    }

    void pollWhileDisconnectedOnlyRefreshesStatus()
    {
        view = new view_tessaro(nullptr, device);
        view->pollTimer->stop();
        view->firmwareStatusText = QStringLiteral("status");
        device->disconnectDevice();
        sensor->clearLog();
        view->dataPollWorker();
        QCOMPARE(view->statusLabel->text(), QStringLiteral("status"));
        QVERIFY(sent().isEmpty());
    }
};

TESSARO_TEST_MAIN(tst_viewtessaro)
#include "tst_viewtessaro.moc"
