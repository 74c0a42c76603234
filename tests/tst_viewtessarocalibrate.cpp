// The calibration screen: corner arrows by calibration state, the close after the end,
// the live point, the abort and restart buttons and what reaches the simulated sensor.
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "live/view_tessarocalibrate.h"
#include "live/view_tessarolive.h"
#include "simfixture.h"
#include "testmain.h"

#include <QElapsedTimer>
#include <QFontInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGridLayout>
#include <QLabel>
#include <QSignalSpy>

#include <optional>

namespace {

using Corner = view_tessarocalibrate::Corner;
constexpr Corner Corners[] = {view_tessarocalibrate::TopLeft, view_tessarocalibrate::TopRight,
                              view_tessarocalibrate::BottomLeft, view_tessarocalibrate::BottomRight};

// Counts the close events a widget receives: close() sends one even when hidden.
class CloseCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Close)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class tst_viewtessarocalibrate : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<sim::SimSensor> sensor;
    QPointer<tessaro> device;
    QPointer<view_tessarocalibrate> screen;
    // The pictures as drawn, by file name.
    QMap<QString, QImage> pictures;

    // Built in the build folder, where the pictures lie, as the program is.
    void buildScreen()
    {
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        screen = new view_tessarocalibrate(device);
        QDir::setCurrent(fixture->dir());
        screen->abortButton->setPauseMs(0);
        screen->restartButton->setPauseMs(0);
        screen->setFinishCloseMs(50);
    }

    QStringList sent() const { return SimFixture::commands(*sensor); }

    // The picture a corner shows, as the file name of the arrow it matches once mirrored
    // for that corner ("?" for none).
    QString cornerPicture(Corner corner) const
    {
        const bool horizontal = corner == view_tessarocalibrate::TopRight || corner == view_tessarocalibrate::BottomRight;
        const bool vertical = corner == view_tessarocalibrate::BottomLeft || corner == view_tessarocalibrate::BottomRight;
        const QImage image =
            screen->arrowItems[corner]->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        for (auto it = pictures.cbegin(); it != pictures.cend(); ++it) {
            if (it.value().mirrored(horizontal, vertical) == image)
                return it.key();
        }
        return QStringLiteral("?");
    }

    // Pictures of the four corners in the order top left, top right, bottom right, bottom
    // left (clockwise, as the sensor visits them): "active", "done" or "todo".
    QString clockwise() const
    {
        QStringList names;
        for (Corner corner : {view_tessarocalibrate::TopLeft, view_tessarocalibrate::TopRight,
                              view_tessarocalibrate::BottomRight, view_tessarocalibrate::BottomLeft})
            names << cornerPicture(corner);
        return names.join(QLatin1Char(' '));
    }

    QStringList liveLabels() const { return {screen->xLabel->text(), screen->yLabel->text(), screen->sizeLabel->text()}; }

private slots:
    void initTestCase()
    {
        for (const char* name : {"todo", "active", "done"}) {
            const QImage image = QImage(QStringLiteral(QT_TESTCASE_BUILDDIR "/rc/arrow_%1.png").arg(QLatin1String(name)))
                                     .convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(!image.isNull(), name);
            pictures.insert(QLatin1String(name), image);
        }
        // A picture that looked the same mirrored would prove nothing below.
        QVERIFY(pictures.value("active") != pictures.value("active").mirrored(true, false));
        QVERIFY(pictures.value("active") != pictures.value("active").mirrored(false, true));
    }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        sensor = fixture->plugSensor();
        device = SimFixture::openConnection();
        QVERIFY(device);
        buildScreen();
    }

    void cleanup()
    {
        delete screen;
        SimFixture::closeConnection(device);
        sensor.reset();
        fixture.reset();
    }

    void construction()
    {
        QVERIFY(screen->isWindow());
        QVERIFY(!screen->isVisible());
        QCOMPARE(screen->connection.data(), device.data());
        QCOMPARE(screen->finishCloseMs(), 50);
        QCOMPARE(view_tessarocalibrate(nullptr).finishCloseMs(), 1500);
        QVERIFY(screen->finishShown);

        auto* grid = qobject_cast<QGridLayout*>(screen->layout());
        QVERIFY(grid);
        QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(grid->itemAtPosition(0, 0)->widget(), screen->cornerViews[view_tessarocalibrate::TopLeft]);
        QCOMPARE(grid->itemAtPosition(0, 2)->widget(), screen->cornerViews[view_tessarocalibrate::TopRight]);
        QCOMPARE(grid->itemAtPosition(2, 0)->widget(), screen->cornerViews[view_tessarocalibrate::BottomLeft]);
        QCOMPARE(grid->itemAtPosition(2, 2)->widget(), screen->cornerViews[view_tessarocalibrate::BottomRight]);
        QCOMPARE(grid->rowStretch(1), 1000);
        QCOMPARE(grid->columnStretch(1), 1000);
        QWidget* centre = grid->itemAtPosition(1, 1)->widget();
        QVERIFY(centre);

        auto* centreGrid = qobject_cast<QGridLayout*>(centre->layout());
        QCOMPARE(centreGrid->itemAtPosition(0, 0)->widget(), screen->xLabel);
        QCOMPARE(centreGrid->itemAtPosition(0, 1)->widget(), screen->yLabel);
        QCOMPARE(centreGrid->itemAtPosition(0, 2)->widget(), screen->sizeLabel);
        QCOMPARE(centreGrid->itemAtPosition(1, 0)->widget(), screen->restartButton);
        QCOMPARE(centreGrid->itemAtPosition(1, 1)->widget(), screen->abortButton);
        QVERIFY(centreGrid->itemAtPosition(1, 2)->widget());
        QCOMPARE(centreGrid->columnStretch(2), 1000);

        for (Corner corner : Corners) {
            QGraphicsView* view = screen->cornerViews[corner];
            QCOMPARE(view->scene(), screen->cornerScenes[corner]);
            QCOMPARE(view->parentWidget()->window(), screen.data());
            QCOMPARE(view->styleSheet(), QStringLiteral("border-style: none; background: transparent"));
            QVERIFY(!view->isHidden());
            // Exactly the picture, so the arrow sits in the screen corner.
            QCOMPARE(view->minimumSize(), QSize(200, 200));
            QCOMPARE(view->maximumSize(), QSize(200, 200));
            QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(screen->cornerScenes[corner]->sceneRect(), QRectF(0, 0, 200, 200));
            QCOMPARE(screen->arrowItems[corner]->scene(), screen->cornerScenes[corner]);
            QCOMPARE(cornerPicture(corner), QStringLiteral("todo"));
        }
        const auto convert = [](const QPixmap& pixmap) { return pixmap.toImage().convertToFormat(QImage::Format_ARGB32); };
        QCOMPARE(convert(screen->arrowTodo), pictures.value("todo"));
        QCOMPARE(convert(screen->arrowActive), pictures.value("active"));
        QCOMPARE(convert(screen->arrowDone), pictures.value("done"));

        // Large type, sized from the application font.
        const int buttonPixels = QFontInfo(screen->abortButton->font()).pixelSize();
        for (QLabel* label : {screen->xLabel, screen->yLabel, screen->sizeLabel}) {
            QCOMPARE(label->minimumWidth(), 150);
            QVERIFY(QFontInfo(label->font()).pixelSize() > 2 * buttonPixels);
        }
        QCOMPARE(grid->itemAtPosition(0, 1)->widget(), screen->instructionLabel);
        QCOMPARE(screen->instructionLabel->text(), QStringLiteral("[cal:instruction]"));
        QCOMPARE(screen->abortButton->text(), QStringLiteral("[cal:abort]"));
        QCOMPARE(screen->abortButton->commands, QStringList({"cal:abort;"}));
        QCOMPARE(screen->restartButton->text(), QStringLiteral("[cal:restart]"));
        QCOMPARE(screen->restartButton->commands, QStringList({"cal:abort;", "cal:start;"}));
        // The program keeps the command button's own pause.
        QCOMPARE(view_tessarocalibrate(nullptr).restartButton->pauseMs(), tessaroPushButton::DefaultPauseMs);
        QVERIFY(sent().isEmpty());
    }

    void arrows_data()
    {
        QTest::addColumn<int>("point");
        QTest::addColumn<QString>("corners"); // clockwise from the top left
        QTest::newRow("1") << 1 << "active todo todo todo";
        QTest::newRow("2") << 2 << "done active todo todo";
        QTest::newRow("3") << 3 << "done done active todo";
        QTest::newRow("4") << 4 << "done done done active";
        QTest::newRow("0, no point yet") << 0 << "todo todo todo todo";
        QTest::newRow("5") << 5 << "todo todo todo todo";
        QTest::newRow("-1") << -1 << "todo todo todo todo";
    }

    void arrows()
    {
        QFETCH(int, point);
        QFETCH(QString, corners);
        // From a different picture, so every corner that has to change does.
        screen->CalibrationState(1, point == 3 ? 2 : 3);
        screen->CalibrationState(1, point);
        QCOMPARE(clockwise(), corners);
        QVERIFY(!screen->finishShown);
        QCOMPARE(screen->shownPicture(view_tessarocalibrate::TopLeft) == view_tessarocalibrate::Active,
                 corners.startsWith(QLatin1String("active")));
    }

    void runningStateValues()
    {
        // Any state but 0 counts as running.
        screen->CalibrationState(7, 2);
        QCOMPARE(clockwise(), QStringLiteral("done active todo todo"));
        screen->CalibrationState(-1, 1);
        QCOMPARE(clockwise(), QStringLiteral("active todo todo todo"));
    }

    void fullCalibrationThenClose()
    {
        screen->showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(screen));
        CloseCounter closes;
        screen->installEventFilter(&closes);

        const QStringList expected{"active todo todo todo", "done active todo todo", "done done active todo",
                                   "done done done active"};
        for (int point = 1; point <= 4; ++point) {
            screen->CalibrationState(1, point);
            QCOMPARE(clockwise(), expected.at(point - 1));
        }
        screen->CalibrationState(0, 0);
        QVERIFY(screen->finishShown);
        QCOMPARE(clockwise(), QStringLiteral("done done done done"));
        QVERIFY(screen->isVisible());
        QTRY_VERIFY(!screen->isVisible());
        QCOMPARE(closes.count, 1);
        QVERIFY(!screen.isNull());
        QCOMPARE(clockwise(), QStringLiteral("done done done done"));
    }

    void closesAfterOneAndAHalfSeconds()
    {
        screen->setFinishCloseMs(view_tessarocalibrate::DefaultFinishCloseMs);
        screen->show();
        screen->CalibrationState(1, 4);
        QElapsedTimer clock;
        clock.start();
        screen->CalibrationState(0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!screen->isVisible(), 5000);
        QVERIFY2(clock.elapsed() >= 1450, qPrintable(QString::number(clock.elapsed())));
    }

    void closeScheduledOnce()
    {
        screen->show();
        CloseCounter closes;
        screen->installEventFilter(&closes);
        screen->CalibrationState(1, 3);
        for (int i = 0; i < 10; ++i)
            screen->CalibrationState(0, 0);
        QTRY_COMPARE(closes.count, 1);
        // Shown again, it stays: no second close was scheduled.
        screen->show();
        QTest::qWait(3 * screen->finishCloseMs());
        QCOMPARE(closes.count, 1);
        QVERIFY(screen->isVisible());
    }

    void newCalibrationSchedulesAgain()
    {
        CloseCounter closes;
        screen->installEventFilter(&closes);
        screen->CalibrationState(1, 1);
        screen->CalibrationState(0, 0);
        QTRY_COMPARE(closes.count, 1);
        screen->CalibrationState(1, 2);
        QCOMPARE(clockwise(), QStringLiteral("done active todo todo"));
        screen->CalibrationState(0, 0);
        QTRY_COMPARE(closes.count, 2);
    }

    void closeCancelledWhenCalibrationGoesOn_data()
    {
        QTest::addColumn<bool>("showAgain");
        QTest::newRow("running reported again") << false;
        QTest::newRow("shown again for a new run") << true;
    }

    void closeCancelledWhenCalibrationGoesOn()
    {
        QFETCH(bool, showAgain);
        screen->show();
        CloseCounter closes;
        screen->installEventFilter(&closes);
        screen->CalibrationState(1, 2);
        // One reply lost mid-calibration reads as "not running", or the user aborted.
        screen->CalibrationState(0, 0);
        if (showAgain) {
            screen->hide();
            screen->show();
        } else {
            screen->CalibrationState(1, 2);
        }
        QTest::qWait(3 * screen->finishCloseMs());
        QCOMPARE(closes.count, 0);
        QVERIFY(screen->isVisible());
    }

    void notRunningBeforeAnyCalibration()
    {
        // The sensor reports no calibration while the screen waits hidden: nothing to finish.
        CloseCounter closes;
        screen->installEventFilter(&closes);
        for (int i = 0; i < 5; ++i)
            screen->CalibrationState(0, 0);
        QTest::qWait(3 * screen->finishCloseMs());
        QCOMPARE(closes.count, 0);
        QCOMPARE(clockwise(), QStringLiteral("todo todo todo todo"));
    }

    void closeDroppedWithTheScreen()
    {
        screen->CalibrationState(1, 1);
        screen->CalibrationState(0, 0);
        delete screen;
        QTest::qWait(3 * 50);
        QVERIFY(screen.isNull());
    }

    void livePoint_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("full") << "sens:point:512:384:10:1" << QStringList({"X: 512", "Y: 384", "Size: 10"});
        QTest::newRow("text as is") << "sens:point:0:-3:big" << QStringList({"X: 0", "Y: -3", "Size: big"});
        QTest::newRow("x only") << "sens:point:7" << QStringList({"X: 7", "Y: ", "Size: "});
        QTest::newRow("empty") << "" << QStringList({"X: ", "Y: ", "Size: "});
        QTest::newRow("garbage") << QString(64, QLatin1Char('z')) << QStringList({"X: ", "Y: ", "Size: "});
    }

    void livePoint()
    {
        QFETCH(QString, data);
        QFETCH(QStringList, labels);
        screen->LivePoint(QStringLiteral("sens:point:1:1:1:1"));
        screen->LivePoint(data);
        QCOMPARE(liveLabels(), labels);
    }

    void restartSendsAbortThenStart()
    {
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen));
        screen->CalibrationState(1, 3);
        QTest::mouseClick(screen->restartButton, Qt::LeftButton);
        QCOMPARE(sent(), QStringList({"cal:abort;", "cal:start;"}));
        QVERIFY(screen->isVisible());
    }

    void abortSendsOnPressClosesOnRelease()
    {
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen));
        QTest::mousePress(screen->abortButton, Qt::LeftButton);
        QCOMPARE(sent(), QStringList({"cal:abort;"}));
        QVERIFY(screen->isVisible());
        QTest::mouseRelease(screen->abortButton, Qt::LeftButton);
        QVERIFY(!screen->isVisible());
        QVERIFY(!screen.isNull());
        QCOMPARE(sent(), QStringList({"cal:abort;"}));
    }

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Escape") << int(Qt::Key_Escape) << true;
        QTest::newRow("A") << int(Qt::Key_A) << false;
        QTest::newRow("Space") << int(Qt::Key_Space) << false;
        QTest::newRow("Return") << int(Qt::Key_Return) << false;
        QTest::newRow("F4") << int(Qt::Key_F4) << false;
    }

    void keys()
    {
        QFETCH(int, key);
        QFETCH(bool, closes);
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen));
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        press.ignore();
        QApplication::sendEvent(screen, &press);
        QVERIFY(press.isAccepted());
        QCOMPARE(screen->isVisible(), !closes);
        QVERIFY(sent().isEmpty());
    }

    void followsTheLiveView()
    {
        // The calibration state reaches the screen through the live view, as the sensor
        // view connects them.
        view_tessarolive live;
        connect(&live, &view_tessarolive::CalibrationState, screen.data(), &view_tessarocalibrate::CalibrationState);
        screen->showFullScreen();
        for (const char* state : {"cal:state:1:0", "cal:state:1:1", "cal:state:1:2", "cal:state:1:3"})
            live.updateCalibration(QLatin1String(state));
        QCOMPARE(clockwise(), QStringLiteral("done done active todo"));
        live.updateCalibration(QStringLiteral("cal:state:1:4"));
        QCOMPARE(clockwise(), QStringLiteral("done done done active"));
        live.updateCalibration(QString());
        QCOMPARE(clockwise(), QStringLiteral("done done done done"));
        for (int i = 0; i < 5; ++i)
            live.updateCalibration(QStringLiteral("cal:state:0:0"));
        QTRY_VERIFY(!screen->isVisible());
    }

    void nothingSentOnceTheLinkIsClosed_data()
    {
        QTest::addColumn<bool>("unplug");
        QTest::newRow("sensor unplugged") << true;
        QTest::newRow("link closed, sensor still on the bus") << false;
    }

    void nothingSentOnceTheLinkIsClosed()
    {
        QFETCH(bool, unplug);
        QSignalSpy lost(device.data(), &tessaro::disconnected);
        if (unplug) {
            sim::SimBus::instance().unplug(sensor.get());
            device->hotplugWorker();
            // Back on the bus but not reopened: a write through a stale handle would show.
            sim::SimBus::instance().plug(sensor);
        } else {
            device->disconnectDevice();
        }
        QCOMPARE(lost.count(), 1);
        QVERIFY(!device->isConnected);
        sensor->clearLog();
        const int exchanges = sensor->exchangeCount();

        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen));
        screen->LivePoint(QStringLiteral("sens:point:512:384:10:1"));
        screen->CalibrationState(1, 2);
        QTest::mouseClick(screen->restartButton, Qt::LeftButton);
        QVERIFY(screen->isVisible());
        QTest::mouseClick(screen->abortButton, Qt::LeftButton);
        QVERIFY(!screen->isVisible());
        QCOMPARE(sensor->exchangeCount(), exchanges);
        QVERIFY(sent().isEmpty());
    }

    void connectionDeletedFirst()
    {
        device->disconnectDevice();
        delete device;
        QVERIFY(screen->connection.isNull());
        screen->show();
        QTest::mouseClick(screen->restartButton, Qt::LeftButton);
        QTest::mouseClick(screen->abortButton, Qt::LeftButton);
        QVERIFY(!screen->isVisible());
        QVERIFY(sent().isEmpty());
    }

    void withoutConnection()
    {
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        view_tessarocalibrate alone(nullptr);
        QDir::setCurrent(fixture->dir());
        alone.abortButton->setPauseMs(0);
        alone.restartButton->setPauseMs(0);
        alone.show();
        QTest::mouseClick(alone.restartButton, Qt::LeftButton);
        QTest::mouseClick(alone.abortButton, Qt::LeftButton);
        QVERIFY(!alone.isVisible());
        QVERIFY(sent().isEmpty());
    }
};

TESSARO_TEST_MAIN(tst_viewtessarocalibrate)
#include "tst_viewtessarocalibrate.moc"
