// The calibration screen: corner arrows by calibration state, the close after the end,
// the live point, the abort and restart buttons and what reaches the simulated sensor.
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "live/view_tessarocalibrate.h"
#include "simfixture.h"
#include "testmain.h"

#include <QFontInfo>
#include <QGraphicsPixmapItem>
#include <QLabel>

#include <optional>

class tst_viewtessarocalibrate : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<sim::SimSensor> sensor;
    QPointer<tessaro> device;
    QPointer<view_tessarocalibrate> screen;
    QMap<QString, QImage> pictures; // the pictures as drawn, by file name

    // The corners clockwise from the top left, as the sensor visits them: each named by
    // the picture it shows once mirrored back for its corner ("?" for none).
    QString clockwise() const
    {
        using C = view_tessarocalibrate;
        const C::Corner order[] = {C::TopLeft, C::TopRight, C::BottomRight, C::BottomLeft};
        QStringList names;
        for (int i = 0; i < 4; ++i) {
            const QImage image = screen->arrowItems[order[i]]->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
            names << pictures.key(image.mirrored(i == 1 || i == 2, i >= 2), QStringLiteral("?"));
        }
        return names.join(QLatin1Char(' '));
    }

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
        const QImage active = pictures.value("active");
        QVERIFY(active != active.mirrored(true, false) && active != active.mirrored(false, true));
    }

    void init()
    {
        fixture.emplace();
        device = fixture->connectSensor(sensor);
        QVERIFY(device);
        // Built in the build folder, where the pictures lie, as the program is.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        screen = new view_tessarocalibrate(device);
        QDir::setCurrent(fixture->dir());
        screen->abortButton->setPauseMs(0);
        screen->restartButton->setPauseMs(0);
        screen->setFinishCloseMs(50);
    }

    void cleanup()
    {
        delete screen;
        fixture.reset();
    }

    void labels()
    {
        QCOMPARE(screen->instructionLabel->text(), QStringLiteral("[cal:instruction]"));
        const int basePixels = QFontInfo(screen->font()).pixelSize();
        for (QLabel* label : {screen->xLabel, screen->yLabel, screen->sizeLabel})
            QVERIFY(QFontInfo(label->font()).pixelSize() > 2 * basePixels);
        // The buttons in large type too, side by side in the middle of a wide screen.
        screen->resize(1920, 1080);
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen.data()));
        QVERIFY(QFontInfo(screen->abortButton->font()).pixelSize() > basePixels);
        const QRect restart(screen->restartButton->mapTo(screen.data(), QPoint()), screen->restartButton->size());
        const QRect abort(screen->abortButton->mapTo(screen.data(), QPoint()), screen->abortButton->size());
        QVERIFY(qAbs((restart.left() + abort.right()) / 2 - 960) <= 2);
        // A short text leaves the missing values empty behind their captions.
        const QList<QPair<QString, QString>> points{{"sens:point:512:384:big:1", "X: 512|Y: 384|[cal:size] big"},
                                                    {"sens:point:7", "X: 7|Y: |[cal:size] "},
                                                    {"", "X: |Y: |[cal:size] "}};
        for (const auto& point : points) {
            screen->LivePoint(point.first);
            QCOMPARE(QStringList({screen->xLabel->text(), screen->yLabel->text(), screen->sizeLabel->text()}).join('|'),
                     point.second);
        }
    }

    // Steps: "state:point", "show", "hide", "wait" (for the close, if one is due), and the
    // checks "shown" and "gone".
    void states_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("corners");
        QTest::addColumn<QString>("said");  // what the line at the top says at the end
        const QString todo = QStringLiteral("[cal:instruction]");
        // From a different picture, so every corner that has to change does.
        QTest::newRow("point 1") << "1:3 1:1" << "active todo todo todo" << todo;
        QTest::newRow("point 2, any running state") << "1:3 7:2" << "done active todo todo" << todo;
        QTest::newRow("point 3, negative state") << "1:2 -1:3" << "done done active todo" << todo;
        QTest::newRow("point 4") << "1:3 1:4" << "done done done active" << todo;
        QTest::newRow("no point yet") << "1:3 1:0" << "todo todo todo todo" << todo;
        QTest::newRow("point 5") << "1:3 1:5" << "todo todo todo todo" << todo;
        QTest::newRow("finished: closes once") << "show 1:1 1:2 1:3 1:4 0:0 0:0 0:0 wait gone show wait shown"
                                               << "done done done done" << todo;
        QTest::newRow("finished at the last corner") << "show 1:3 1:4 0:0" << "done done done done" << "[cal:finished]";
        QTest::newRow("aborted at the last corner") << "show 1:3 1:4 abort 0:0" << "done done done done" << "[cal:ended]";
        QTest::newRow("a new run closes again") << "show 1:1 0:0 wait gone show 1:2 0:0 wait gone" << "done done done done" << "[cal:ended]";
        // One reply lost mid-calibration reads as "not running", or the user aborted.
        QTest::newRow("running reported again") << "show 1:2 0:0 1:2 wait shown" << "done active todo todo" << todo;
        QTest::newRow("shown again for a new run") << "show 1:2 0:0 hide show wait shown" << "done done done done" << todo;
        QTest::newRow("not running before any run") << "show 0:0 0:0 wait shown" << "todo todo todo todo" << todo;
    }

    void states()
    {
        QFETCH(QString, steps);
        QFETCH(QString, corners);
        auto* close = screen->findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
        for (const QString& step : steps.split(QLatin1Char(' '))) {
            if (step == QLatin1String("show"))
                screen->show();
            else if (step == QLatin1String("hide"))
                screen->hide();
            else if (step == QLatin1String("abort"))
                screen->noteAbort();
            else if (step == QLatin1String("wait"))
                QVERIFY(!close->isActive() || QSignalSpy(close, &QTimer::timeout).wait());
            else if (step == QLatin1String("shown") || step == QLatin1String("gone"))
                QCOMPARE(screen->isVisible(), step == QLatin1String("shown"));
            else
                screen->CalibrationState(step.section(QLatin1Char(':'), 0, 0).toInt(), step.section(QLatin1Char(':'), 1).toInt());
        }
        QCOMPARE(clockwise(), corners);
        QTEST(screen->instructionLabel->text(), "said");
        QCOMPARE(screen->shownPicture(view_tessarocalibrate::TopLeft) == view_tessarocalibrate::Active,
                 corners.startsWith(QLatin1String("active")));
    }

    void buttonsKeysAndTheLink()
    {
        screen->show();
        // Only Escape closes it.
        QTest::keyClick(screen, Qt::Key_A);
        QVERIFY(screen->isVisible());
        QTest::mouseClick(screen->restartButton, Qt::LeftButton);
        QCOMPARE(SimFixture::commands(*sensor), QStringList({"cal:abort;", "cal:start;"}));
        QVERIFY(screen->isVisible());
        sensor->clearLog();
        // The abort is sent on the press; the screen closes on the release.
        QTest::mousePress(screen->abortButton, Qt::LeftButton);
        QCOMPARE(SimFixture::commands(*sensor), QStringList({"cal:abort;"}));
        QVERIFY(screen->isVisible());
        QTest::mouseRelease(screen->abortButton, Qt::LeftButton);
        QVERIFY(!screen->isVisible());
        screen->show();
        QTest::keyClick(screen, Qt::Key_Escape);
        QVERIFY(!screen->isVisible());
        QCOMPARE(SimFixture::commands(*sensor), QStringList({"cal:abort;"}));
        view_tessarocalibrate alone(nullptr);
        // Nothing is sent by a screen built without a connection while the sensor is
        // connected, nor once the sensor was unplugged and is back on the bus but not
        // reopened (a write through a stale handle would show).
        for (view_tessarocalibrate* shown : {&alone, screen.data()}) {
            if (shown == screen) {
                sim::SimBus::instance().unplug(sensor.get());
                device->hotplugWorker();
                sim::SimBus::instance().plug(sensor);
            }
            const int exchanges = sensor->exchangeCount();
            shown->show();
            QTest::mouseClick(shown->restartButton, Qt::LeftButton);
            QTest::mouseClick(shown->abortButton, Qt::LeftButton);
            QVERIFY(!shown->isVisible());
            QCOMPARE(sensor->exchangeCount(), exchanges);
        }
    }
};

TESSARO_TEST_MAIN(tst_viewtessarocalibrate)
#include "tst_viewtessarocalibrate.moc"
