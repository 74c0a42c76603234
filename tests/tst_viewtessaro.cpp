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

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGraphicsPixmapItem>
#include <QJsonDocument>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {

// Entries that are no parameter, of an unknown type or with a name that is no name get no editor.
const char* const Model = R"({
  "parameters_system": [
    {"name": "Detection", "parameters": [{"name": "Gain", "type": "int", "regname": "gain", "module": "sens",
        "min": "0", "max": "255"}, "not an object", {"name": "Mode", "type": "enum", "regname": "conf1thr",
        "module": "sens", "values": [{"value": "8", "comment": "Manual"}, {"value": "136", "comment": "Auto"}]},
        {"name": "Filter", "type": "bool", "regname": "filter", "module": "sens"}]},
    {"name": "Pen", "parameters": [{"name": "Float", "type": "float", "regname": "fl", "module": "pen"},
        {"name": "Power", "type": "int", "regname": "power", "module": "pen", "min": "0", "max": "255"},
        {"name": "Beep", "type": "bool", "regname": "beep", "module": "pen"}]}],
  "parameters_advanced": [{"name": "<i>Threshold</i>\u202e", "type": "int", "regname": "thr", "module": "sens", "min": "0",
      "max": "255"}, 7, {"name": "Level", "type": "int", "regname": "level", "module": "sens", "min": "0", "max": "255"},
      {"name": "Two commands", "type": "bool", "regname": "thr;app:bootloader", "module": "sens"}],
  "parameters_simple": [{"name": "Bright", "info": "For <b>bright</b>
 rooms", "parameters": [
      {"module": "sens", "regname": "gain", "value": "12abc"}, {"module": "pen", "regname": "power", "value": "3"},
      {"module": "sens", "regname": "thr", "value": "40"}]}, {"name": "Empty"}],
  "setting_easy_sensor_man": "thrman", "setting_easy_sensor_auto": "thrauto",
  "parameters_easy_man": ["10", "20", "30", "40"], "parameters_easy_auto": ["100", "200", "300"]})";

const QStringList EditorReads{"sens:read:gain;", "sens:read:conf1thr;", "sens:read:filter;", "pen:read:power;",
                              "pen:read:beep;",  "sens:read:thr;",      "sens:read:level;"};

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

    // The view as the main window builds it, with the poll stopped so tests tick by hand.
    void buildView(bool reload = true)
    {
        view = new view_tessaro(nullptr, device);
        view->pollTimer->stop();
        if (reload)
            view->reloadUi();
    }

    QStringList sent() const { return SimFixture::commands(*sensor); }

    // Earlier tests' checks (from TS-1) may still arrive.
    QVector<StandInService::Request> requestsFrom(const QString& id) const
    {
        QVector<StandInService::Request> found;
        const auto requests = service->requests();
        std::copy_if(requests.begin(), requests.end(), std::back_inserter(found),
                     [&id](const auto& request) { return request.identity.value(0) == id; });
        return found;
    }

private slots:
    void initTestCase() { QVERIFY(ServiceAddress::useStandIn(service)); }
    void cleanupTestCase() { service.reset(); }

    void init()
    {
        fixture.emplace();
        // An entry for any version, so that odd version replies still connect.
        QJsonObject anyVersion = SimFixture::sensorEntry({}, {}, "model.json");
        anyVersion.insert("default", true);
        fixture->writeCatalogue({anyVersion});
        fixture->writeFile(QStringLiteral("sensors/model.json"), Model);
        sensor = fixture->plugSensor();
        sensor->setIdReply("app:id:TS-1;");
        sensor->setReply("sens:read:conf1thr;", "sens:read:conf1thr:136:;");
        sensor->setReply("sens:read:thrauto;", "sens:read:thrauto:100:;");
        service->resetReplies();
        service->clearRequests();
        device = SimFixture::openConnection();
        QVERIFY(device);
    }

    void cleanup()
    {
        delete view;
        SimFixture::closeConnection(device);
        sensor.reset();
        fixture.reset();
    }

    void identityAndCheckRequest_data()
    {
        QTest::addColumn<QString>("idReply");
        QTest::addColumn<QString>("versionReply");
        QTest::addColumn<QStringList>("shown");  // id, hardware, firmware, build
        QTest::newRow("full") << "app:id:TS-7;" << "app:version:HW 1.1:SW 2.4:2026:11:20;"
                              << QStringList{"TS-7", "HW 1.1", "SW 2.4",
                                             QLocale().toString(QDate(2026, 11, 20), QLocale::ShortFormat)};
        QTest::newRow("five parts") << "app:id;" << "app:version:HW 1.1:SW 2.4:b;" << QStringList{"", "", "", ""};
        QTest::newRow("six parts") << "app:id;" << "app:version:HW 1.1:SW 2.4:a:b;" << QStringList{"", "HW 1.1", "SW 2.4", "a:b"};
        QTest::newRow("eight parts") << "app:id;" << "app:version:HW 1.1:SW 2.4:a:b:c:d;"
                                     << QStringList{"", "HW 1.1", "SW 2.4", "a:b:c"};
    }

    void identityAndCheckRequest()
    {
        QFETCH(QString, idReply);
        QFETCH(QString, versionReply);
        QFETCH(QStringList, shown);
        SimFixture::closeConnection(device);
        sensor->setIdReply(idReply.toStdString());
        sensor->setVersionReply(versionReply.toStdString());
        device = SimFixture::openConnection();
        buildView();
        QCOMPARE(QStringList({view->idLabel->text(), view->hwLabel->text(), view->swLabel->text(),
                              view->swBuildLabel->text()}),
                 shown);
        QCOMPARE(QStringList({sensorId, sensorHw, sensorSw}), shown.mid(0, 3));
        // Copy: the identity and the pen's, a line each, as shown.
        view->dataPollWorker();
        view->copyButton->click();
        QCOMPARE(QGuiApplication::clipboard()->text().split('\n'),
                 QStringList({"[info:sensor:id] " + shown.at(0), "[info:sensor:hw] " + shown.at(1),
                              "[info:sensor:sw] " + shown.at(2), "[info:pen:id] " + view->penIdLabel->text(),
                              "[info:pen:swver] " + view->penSwLabel->text()}));
        QVERIFY(!view->penIdLabel->text().isEmpty());
        QTRY_COMPARE(requestsFrom(shown.at(0)).size(), 1);
        QCOMPARE(requestsFrom(shown.at(0)).constFirst().path + requestsFrom(shown.at(0)).constFirst().identity.join(';'),
                 "/utility/check.php" + shown.mid(0, 3).join(';') + ";UTIL 2.2");
        QCOMPARE(requestsFrom(shown.at(0)).constFirst().acceptEncoding, QByteArray("identity"));
        QTRY_VERIFY(!view->checkRequest->isPending());
    }

    // A sensor gone before its identity is read is not checked with the service.
    void noCheckWithoutTheIdentity()
    {
        sim::SimBus::instance().unplug(sensor.get());
        buildView();
        QVERIFY(!view->checkRequest || !view->checkRequest->isPending());
    }

    void checkReplies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("serving");  // "" or "endless" (read only as far as it matters)
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QString>("software");
        const QString current = QStringLiteral("[info:sensor:uptodate]");
        const QString newSoft = QStringLiteral("[menu:info:about:newsoft]");
        // Longer than the part of an answer that is read.
        const QByteArray bothNew = "false;false;" + QByteArray(64 * 1024, ' ');
        QTest::newRow("current, newer tool") << QByteArray("true;false") << 200 << "" << current << newSoft;
        QTest::newRow("newer firmware only") << QByteArray("false") << 200 << "" << "[info:sensor:newfirm]" << "";
        QTest::newRow("both current") << QByteArray("true;true") << 200 << "" << current << "[menu:info:about:uptodate]";
        QTest::newRow("unexpected") << QByteArray("yes;TRUE") << 200 << "" << "" << "";
        QTest::newRow("zero byte") << QByteArray("true\0;false", 11) << 200 << "" << current << "";
        QTest::newRow("endless") << QByteArray("true;false") << 200 << "endless" << current << newSoft;
        QTest::newRow("server error") << QByteArray("true;true") << 500 << "" << "" << "";
        QTest::newRow("long error page") << bothNew << 500 << "" << "" << "";
        QTest::newRow("not found, long") << bothNew << 404 << "" << "" << "";
    }

    void checkReplies()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, serving);
        QFETCH(QString, firmware);
        QFETCH(QString, software);
        service->setReply(StandInService::CheckPath, body, status);
        service->setEndless(StandInService::CheckPath, serving == "endless");
        buildView();
        QTRY_VERIFY(!view->checkRequest->isPending());
        QCOMPARE(view->firmwareStatusText + '|' + view->softwareStatusText, firmware + '|' + software);
    }

    // A check still out goes with the view: its connection closes, so no answer can reach it.
    void checkReplyAfterViewIsGone()
    {
        sensor->setIdReply("app:id:TS-gone;");
        service->setHang(StandInService::CheckPath, true);
        buildView();
        QPointer<QObject> manager = view->networkManager.data();
        QTRY_COMPARE(requestsFrom("TS-gone").size(), 1);
        delete view;
        QVERIFY(manager.isNull());
        QTRY_COMPARE(service->openConnections(), 0);
    }

    void tabsAndAdvancedButtonsRead()
    {
        buildView();
        sensor->clearLog();
        view->tabs->setCurrentIndex(1);
        QVERIFY(sent().isEmpty());
        view->tabs->setCurrentIndex(2);
        QCOMPARE(sent(), EditorReads);
        QVERIFY(!view->advancedTab->findChild<QCheckBox*>());  // "Two commands" got none
        const auto buttons = view->advancedTab->findChildren<tessaroPushButton*>();
        for (tessaroPushButton* button : buttons)
            button->setPauseMs(0);
        // A value written is marked until it is saved, and then said to be stored.
        auto* caption = qobject_cast<QLabel*>(view->advancedLayout->itemAtPosition(0, 0)->widget());
        // The file's name as it is, markup and all, without its direction mark.
        QCOMPARE(caption->text(), QStringLiteral("<i>Threshold</i>\uFFFD"));
        QCOMPARE(caption->textFormat(), Qt::PlainText);
        emit view->advancedTab->findChild<QSlider*>()->sliderReleased();
        QVERIFY(caption->font().bold() && !view->unsavedLabel->isHidden());
        QCOMPARE(view->unsavedLabel->text(), QStringLiteral("[adv:unsaved]"));
        sensor->clearLog();
        buttons.at(1)->click();
        QVERIFY(!caption->font().bold());
        QCOMPARE(view->unsavedLabel->text(), QStringLiteral("[sensor:stored]"));
        // Reload: the reset, then every editor shows what the sensor holds again.
        sensor->setReply("sens:read:thr;", "sens:read:thr:77:;");
        buttons.at(0)->click();
        QCOMPARE(sent(), QStringList({"sens:reset;", "sens:commit;", "sens:reset;"}) + EditorReads);
        QCOMPARE(view->advancedTab->findChild<QSlider*>()->value(), 77);
    }

    void presets_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<int>("failingWrite");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("written, committed") << 0 << 0
                                            << QStringList{"sens:write:gain:12abc;", "pen:write:power:3;",
                                                           "sens:write:thr:40;", "sens:commit;", "sens:reset;"}
                                            << true;
        QTest::newRow("without writes") << 1 << 0 << QStringList{"sens:commit;", "sens:reset;"} << true;
        QTest::newRow("failure midway") << 0 << 2 << QStringList{"sens:write:gain:12abc;"} << true;
        QTest::newRow("not confirmed") << 0 << 0 << QStringList() << false;
    }

    void presets()
    {
        QFETCH(int, preset);
        QFETCH(int, failingWrite);
        QFETCH(QStringList, commands);
        buildView();
        view->presetCombo->setCurrentIndex(preset);
        // The file's text as it is, markup and all, without its line break.
        QCOMPARE(view->presetInfo->text(), preset == 0 ? QStringLiteral("For <b>bright</b>\uFFFD rooms") : QString());
        QCOMPARE(view->presetInfo->textFormat(), Qt::PlainText);
        sensor->clearLog();
        if (failingWrite)
            sensor->injectFault(failingWrite, sim::Fault::WriteFails);
        using TestSupport::Dialogs;
        const auto restore = qScopeGuard([] { Dialogs::confirmAnswer = true; });
        QFETCH(bool, confirmed);
        Dialogs::confirmAnswer = confirmed;
        Dialogs::shown.clear();
        view->simpleUpdateSensor();
        // The preset and the unit named before the first write.
        QCOMPARE(Dialogs::shown, QStringList{QStringLiteral("[simple:preset]: [simple:save:confirm] (%1, TS-1)")
                                                 .arg(view->presetCombo->currentText())});
        QCOMPARE(sent(), commands);
        QCOMPARE(device->isConnected, failingWrite == 0);
        QCOMPARE(!view->presetStoredLabel->isHidden(), failingWrite == 0 && confirmed);
    }

    void easyModeAndNearestEntry_data()
    {
        QTest::addColumn<QString>("mode");  // the reply's mode field
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("easyRegister");
        QTest::addColumn<int>("position");
        QTest::newRow("manual, between") << "8:" << "25" << "thrman" << 1;
        QTest::newRow("manual, far away") << "8:" << "5000" << "thrman" << 0;
        QTest::newRow("auto 136") << "136:" << "290" << "thrauto" << 2;
        QTest::newRow("auto unreadable") << "x:" << "200" << "thrauto" << 1;
        QTest::newRow("four fields mean auto") << "8" << "100" << "thrauto" << 0;
        QTest::newRow("smallest int") << "136:" << "-2147483648" << "thrauto" << 0;
        QTest::newRow("largest int") << "136:" << "2147483647" << "thrauto" << 0;
        QTest::newRow("no table") << "136:" << "100" << "thrauto" << -1;  // moving the slider writes nothing
    }

    void easyModeAndNearestEntry()
    {
        QFETCH(QString, mode);
        QFETCH(QString, current);
        QFETCH(QString, easyRegister);
        QFETCH(int, position);
        sensor->setReply("sens:read:conf1thr;", ("sens:read:conf1thr:" + mode + ";").toStdString());
        const QString read = "sens:read:" + easyRegister;
        sensor->setReply((read + ";").toStdString(), (read + ":" + current + ":;").toStdString());
        if (position < 0) {
            QJsonObject model = QJsonDocument::fromJson(Model).object();
            model.remove("parameters_easy_auto");
            fixture->writeFile(QStringLiteral("sensors/model.json"), QJsonDocument(model).toJson());
        }
        buildView();
        QCOMPARE(view->easyRegister, easyRegister);
        QCOMPARE(view->easySlider->value(), qMax(position, 0));
        QCOMPARE(view->easySlider->maximum(), position < 0 ? 0 : easyRegister == QLatin1String("thrman") ? 3 : 2);
        if (position < 0)
            view->easyUpdateSensor(0);
        // Showing is all: a threshold set elsewhere stays as it is.
        QCOMPARE(sent().filter(QRegularExpression(":write:|commit|reset")), QStringList());
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
        view->updateFirmware();
        QCOMPARE(sent(), QStringList({"sens:write:thrauto:200;", "sens:commit;", "sens:reset;", "app:bootloader;"}));
    }

    void disconnectStopsThePoll()
    {
        view = new view_tessaro(nullptr, device);
        QCOMPARE(view->pollTimer->interval(), 100);
        QVERIFY(view->pollTimer->isActive());
        view->firmwareStatusText = QStringLiteral("status");
        device->disconnectDevice();
        QVERIFY(!view->pollTimer->isActive());
        // A tick that comes all the same only shows the status.
        view->dataPollWorker();
        QCOMPARE(view->statusLabel->text(), QStringLiteral("status"));
        QVERIFY(sent().isEmpty());
    }

    void tickSequence_data()
    {
        QTest::addColumn<int>("silent");  // the exchange that gets no reply, 0 for none
        QTest::newRow("all answered") << 0;
        QTest::newRow("point") << 1;
        QTest::newRow("pen state") << 2;
        QTest::newRow("calibration state") << 4;
    }

    // A mute sensor costs one time limit a tick, not one for every exchange.
    void tickSequence()
    {
        QFETCH(int, silent);
        buildView(false);
        QSignalSpy points(view.data(), &view_tessaro::updatePoints);
        QSignalSpy calState(view.data(), &view_tessaro::updateCalState);
        sensor->setReply("sens:point;", "sens:point:100:200:3:1;x");
        sensor->setReply("cal:state;", "cal:state:1:2;");
        if (silent)
            sensor->injectFault(silent, sim::Fault::NoReply);
        view->dataPollWorker();
        const int asked = silent ? silent : 4;
        const QStringList all{"sens:point;", "pen:state;", "pen:id;", "cal:state;"};
        QCOMPARE(sent().mid(0, silent ? asked + 1 : asked), all.mid(0, asked));
        QCOMPARE(points.size(), silent == 1 ? 0 : 1);
        QCOMPARE(calState.size(), silent ? 0 : 1);
        if (!silent)
            QCOMPARE(points.at(0).at(0).toString() + calState.at(0).at(0).toString(),
                     QStringLiteral("sens:point:100:200:3:1cal:state:1:2"));
    }

    void penAndCalibrationState_data()
    {
        QTest::addColumn<QStringList>("replies");  // pen:state, pen:id, cal:state (empty: as before)
        QTest::addColumn<QStringList>("shown");  // volts, hours (German decimal comma, no grouping), pen id, status, version
        QTest::addColumn<QString>("battery");  // the picture shown, empty: unchanged (100)
        QTest::addColumn<bool>("abort");  // after a tick that reported a calibration running
        const QString no = QStringLiteral("[live:pen:nodata]");
        const QString volts = QStringLiteral("3,07 [live:pen:volt]");
        QTest::newRow("full") << QStringList{"pen:2:100:7200;", "pen:id:50:P-9:1A03;", "cal:state:1:2;"}
                              << QStringList{volts, "2,00 [live:pen:hours]", "P-9", "[info:pen:id:ready]", "SW 26.03"}
                              << "100" << true;
        QTest::newRow("acquiring") << QStringList{"pen:2:100:0;", "pen:id:49:P-9:7;", "cal:state:1:0;"}
                                   << QStringList{volts, no, "P-9", "[info:pen:id:acquire]", "SW 00.07"} << "100" << true;
        QTest::newRow("negative") << QStringList{"pen:2:-5:5400000;", "pen:id:60;", "cal:state:0:0;"}
                                  << QStringList{"-61,44 [live:pen:volt]", "1500,00 [live:pen:hours]", "",
                                                 "[info:pen:id:ready]", "SW 00.00"} << "0" << false;
        QTest::newRow("too short replies") << QStringList{"pen:2:110:60;", "pen:id;", "cal:state;"}
                                           << QStringList{"2,79 [live:pen:volt]", "0,02 [live:pen:hours]", "", "", ""}
                                           << "75" << false;
        QTest::newRow("no reading") << QStringList{"pen:2:0:3600;", "", ""}
                                    << QStringList{no, "1,00 [live:pen:hours]", "", "", ""} << "unknown" << true;
        QTest::newRow("no pen") << QStringList{"pen:1:100:7200;", "", ""} << QStringList{no, no, "", "", ""} << ""
                                << true;
        // Unchanged: as the first tick left them.
        QTest::newRow("too short") << QStringList{"pen:2:100;", "", ""}
                                   << QStringList{volts, "2,00 [live:pen:hours]", "", "", ""} << "" << true;
    }

    void penAndCalibrationState()
    {
        QFETCH(QStringList, replies);
        QFETCH(QStringList, shown);
        QFETCH(QString, battery);
        QFETCH(bool, abort);
        // The pictures are looked up in the build folder.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        buildView(false);
        QDir::setCurrent(fixture->dir());
        view->setLocale(QLocale(QLocale::German));
        // A first tick with a full pen and a calibration running.
        sensor->setReply("pen:state;", "pen:2:100:7200;");
        sensor->setReply("pen:id;", "pen:id;");
        sensor->setReply("cal:state;", "cal:state:1:3;");
        QVERIFY(!view->calibrateAbortButton->isEnabled());
        view->dataPollWorker();
        QVERIFY(view->calibrateAbortButton->isEnabled());
        const char* const commands[] = {"pen:state;", "pen:id;", "cal:state;"};
        for (int i = 0; i < 3; ++i) {
            if (!replies.at(i).isEmpty() || i == 0)
                sensor->setReply(commands[i], replies.at(i).toStdString());
        }
        view->dataPollWorker();
        QCOMPARE(QStringList({view->penVoltLabel->text(), view->penRunLabel->text(), view->penIdLabel->text(),
                              view->penIdStatusLabel->text(), view->penSwLabel->text()}),
                 shown);
        QCOMPARE(view->calibrateAbortButton->isEnabled(), abort);
        const QImage picture = view->batteryItem->pixmap().toImage();
        const QImage expected(QString::fromLatin1(QT_TESTCASE_BUILDDIR "/rc/batt_%1.png").arg(battery.isEmpty() ? "100" : battery));
        QCOMPARE(picture, expected.convertToFormat(picture.format()));
    }

    void cornersOnEveryEleventhTick()
    {
        buildView(false);
        for (int i = 1; i <= 4; ++i) {
            for (const char axis : {'x', 'y'})
                sensor->setReply(QStringLiteral("cal:read:%1%2;").arg(axis).arg(i).toStdString(),
                                 QStringLiteral("cal:read:%1%2:%3;").arg(axis).arg(i).arg(i * (axis == 'x' ? 100 : 10))
                                     .toStdString());
        }
        sensor->setReply("cal:read:y4;", "cal:read:y4;");  // too short: reads as 0
        QSignalSpy corners(view.data(), &view_tessaro::updateCalPoints);
        // The counter is shared by all views: run until a corner read, then count.
        for (int i = 0; i < 11 && corners.isEmpty(); ++i)
            view->dataPollWorker();
        QCOMPARE(corners.count(), 1);
        QCOMPARE(corners.at(0).at(0).value<QList<int>>() + corners.at(0).at(1).value<QList<int>>(),
                 QList<int>({100, 200, 300, 400, 10, 20, 30, 0}));
        sensor->clearLog();
        for (int i = 0; i < 10; ++i)
            view->dataPollWorker();
        QCOMPARE(sent().size(), 40);
        view->dataPollWorker();
        QCOMPARE(corners.count(), 2);
        QCOMPARE(sent().mid(44, 2) + sent().mid(50), QStringList({"cal:read:x1;", "cal:read:y1;", "cal:read:x4;", "cal:read:y4;"}));
    }
};

TESSARO_TEST_MAIN(tst_viewtessaro)
#include "tst_viewtessaro.moc"
