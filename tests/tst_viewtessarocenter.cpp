// The centering screen: arrow rows by pen point, mount and hardware, mount buttons, keys, calibration start.
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "findbytext.h"
#include "simfixture.h"
#include "testmain.h"

#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QPushButton>

#include <climits>
#include <memory>
#include <optional>

namespace {

QImage image(const QString& file)
{
    return QImage(QString::fromLatin1(QT_TESTCASE_BUILDDIR) + QLatin1Char('/') + file).convertToFormat(QImage::Format_ARGB32);
}

QImage iconImage(const QPushButton* button)
{
    return button->icon().pixmap(160, 120).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class tst_viewtessarocenter : public QObject
{
    Q_OBJECT

private:
    std::optional<SimFixture> fixture;
    std::shared_ptr<sim::SimSensor> sensor;
    QPointer<tessaro> device;
    std::unique_ptr<view_tessarocenter> screen;
    std::unique_ptr<view_tessarocalibrate> calibrate;
    std::unique_ptr<tessaroPushButton> startButton;
    QImage off, okay, bad;

    // One letter per arrow, nearest the centre first: "-" off, "k" okay, "B" bad, "?" none.
    QString row(QGraphicsPixmapItem* const* items) const
    {
        const QVector<QImage> pictures{off, okay, bad};
        QString letters;
        for (int i = 0; i < view_tessarocenter::ArrowCount; ++i)
            letters += QStringLiteral("?-kB").at(pictures.indexOf(items[i]->pixmap().toImage().convertToFormat(QImage::Format_ARGB32)) + 1);
        return letters;
    }

    QStringList rows() const
    {
        return {row(screen->leftItems), row(screen->lowerItems), row(screen->rightItems), row(screen->upperItems)};
    }

    QStringList sent() const { return SimFixture::commands(*sensor); }

private slots:
    void initTestCase()
    {
        off = image("rc/arrow_center_off.png");
        okay = image("rc/arrow_center_okay.png");
        bad = image("rc/arrow_center_bad.png");
        QVERIFY2(off != okay && okay != bad && off != bad, "pictures not drawn");
    }

    void init()
    {
        fixture.emplace();
        device = fixture->connectSensor(sensor);
        QVERIFY(device);
        // The pictures lie below rc/ of the build folder, the program's current directory.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        screen = std::make_unique<view_tessarocenter>(device);
        calibrate = std::make_unique<view_tessarocalibrate>(device);
        QDir::setCurrent(fixture->dir());
        // The start button, wired as the sensor view wires it.
        startButton = std::make_unique<tessaroPushButton>(QStringLiteral("[sys:calibrate:start]"), QStringLiteral("cal:start;"));
        startButton->setPauseMs(0);
        connect(startButton.get(), &tessaroPushButton::execCommand, device.data(), &tessaro::execCommand);
        connect(screen.get(), &view_tessarocenter::startCal, startButton.get(), &QAbstractButton::click);
        connect(startButton.get(), &QPushButton::clicked, calibrate.get(), &QWidget::showFullScreen);
    }

    void cleanup()
    {
        startButton.reset();
        calibrate.reset();
        screen.reset();
        fixture.reset();
    }

    void arrows_data()
    {
        QTest::addColumn<bool>("ceiling");
        QTest::addColumn<QString>("hardware");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("expected"); // left, lower, right, upper rows

        // Each row starts from all arrows okay. Tripod and other hardware: y is mirrored.
        const QString tripod = QStringLiteral("HW 1.1");
        const auto x = [](int value) { return QStringLiteral("sens:point:%1:383:9:1").arg(value); };
        const auto y = [](int used) { return QStringLiteral("sens:point:512:%1:9:1").arg(767 - used); };
        const auto xRows = [](const char* left, const char* right) { return QStringList({left, "kkk", right, "kkk"}); };
        const auto yRows = [](const char* lower, const char* upper) { return QStringList({"kkk", lower, "kkk", upper}); };
        // Both sides of each threshold (21, 101 and 201 from the centre) and the edges.
        const struct { int x; const char* left; const char* right; } xSteps[] = {
            {1, "---", "BBB"}, {311, "---", "BBB"}, {312, "---", "BB-"}, {411, "---", "BB-"}, {412, "---", "B--"},
            {491, "---", "B--"}, {492, "kkk", "kkk"}, {532, "kkk", "kkk"}, {533, "B--", "---"}, {612, "B--", "---"},
            {613, "BB-", "---"}, {712, "BB-", "---"}, {713, "BBB", "---"}, {1022, "BBB", "---"}};
        for (const auto& step : xSteps)
            QTest::addRow("x %d", step.x) << false << tripod << x(step.x) << xRows(step.left, step.right);
        QTest::newRow("x 1023 keeps the rows") << false << tripod << x(1023) << xRows("kkk", "kkk");
        QTest::newRow("x 0 turns the rows off") << false << tripod << x(0) << xRows("---", "---");
        QTest::newRow("ceiling, smallest int x keeps") << true << tripod << x(INT_MIN) << xRows("kkk", "kkk");
        QTest::newRow("largest int x keeps") << false << tripod << x(INT_MAX) << xRows("kkk", "kkk");
        QTest::newRow("smallest int y keeps") << false << tripod << QString("sens:point:512:%1:9:1").arg(INT_MIN) << yRows("kkk", "kkk");

        const struct { int y; const char* lower; const char* upper; } ySteps[] = {
            {1, "BBB", "---"}, {183, "BBB", "---"}, {184, "BB-", "---"}, {283, "BB-", "---"}, {284, "B--", "---"},
            {363, "B--", "---"}, {364, "kkk", "kkk"}, {404, "kkk", "kkk"}, {405, "---", "B--"}, {484, "---", "B--"},
            {485, "---", "BB-"}, {584, "---", "BB-"}, {585, "---", "BBB"}, {766, "---", "BBB"}};
        for (const auto& step : ySteps)
            QTest::addRow("y used %d", step.y) << false << tripod << y(step.y) << yRows(step.lower, step.upper);
        QTest::newRow("y 767 keeps the rows") << false << tripod << "sens:point:512:767:9:1" << yRows("kkk", "kkk");
        QTest::newRow("y 0 turns the rows off") << false << tripod << "sens:point:512:0:9:1" << yRows("---", "---");

        // Mount and hardware: the raw point x 100, y 100 in each combination.
        const QString corner = QStringLiteral("sens:point:100:100:9:1");
        QTest::newRow("ceiling") << true << tripod << corner << QStringList({"BBB", "BBB", "---", "---"});
        QTest::newRow("tripod, HW 1.0") << false << "HW 1.0" << corner << QStringList({"BBB", "BBB", "---", "---"});
        QTest::newRow("ceiling, HW 1.0") << true << "HW 1.0" << corner << QStringList({"---", "---", "BBB", "BBB"});
        QTest::newRow("tripod, hw 1.0") << false << "hw 1.0" << corner << QStringList({"---", "---", "BBB", "BBB"});
        QTest::newRow("tripod, HW 1.0 and blank") << false << "HW 1.0 " << corner << QStringList({"---", "---", "BBB", "BBB"});
        QTest::newRow("ceiling, x 0") << true << tripod << "sens:point:0:383:9:1" << xRows("---", "---");
        QTest::newRow("ceiling, x 1023 keeps") << true << tripod << "sens:point:1023:383:9:1" << xRows("kkk", "kkk");
        QTest::newRow("HW 1.0, y 767") << false << "HW 1.0" << "sens:point:512:767:9:1" << yRows("kkk", "kkk");
        QTest::newRow("HW 1.0, y 0") << false << "HW 1.0" << "sens:point:512:0:9:1" << yRows("---", "---");
        QTest::newRow("not numbers") << false << tripod << "sens:point:a:b:c" << QStringList({"---", "---", "---", "---"});
    }

    void arrows()
    {
        QFETCH(bool, ceiling);
        QFETCH(QString, hardware);
        QFETCH(QString, data);
        QFETCH(QStringList, expected);
        screen->hardwareVersion = hardware;
        if (ceiling)
            screen->setCeiling();
        // All okay first, whatever the mount: the centre of the sensor's range.
        screen->pointData(QStringLiteral("sens:point:512:383:1:1"));
        QCOMPARE(rows(), QStringList({"kkk", "kkk", "kkk", "kkk"}));
        screen->pointData(data);
        QCOMPARE(rows(), expected);
    }

    // The x, y and size labels, then the rows. After a point that leaves arrows bad (x 1, y 1),
    // the next one sets every arrow again.
    void labels_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("shown");
        // Last, the line that says what to do.
        const QString done = QStringLiteral("[center:hint:done] ([center:startcal])");
        QTest::newRow("full") << "sens:point:512:384:10:1" << QStringList({"512", "384", "10", "kkk", "kkk", "kkk", "kkk", done});
        QTest::newRow("text as is") << "sens:point: 1:x:-2" << QStringList({" 1", "x", "-2", "---", "---", "BBB", "---", "[center:hint:aim]"});
        QTest::newRow("x only") << "sens:point:7" << QStringList({"7", "", "", "---", "---", "BBB", "---", "[center:hint:aim]"});
        QTest::newRow("empty") << "" << QStringList({"", "", "", "---", "---", "---", "---", "[center:hint:pen]"});
    }

    void labels()
    {
        screen->pointData(QStringLiteral("sens:point:1:1:1:1"));
        QFETCH(QString, data);
        screen->pointData(data);
        QTEST(QStringList({screen->xValueLabel->text(), screen->yValueLabel->text(), screen->sizeValueLabel->text()}) + rows()
                  + QStringList(screen->hintLabel->text()),
              "shown");
    }

    // The mount buttons show which one is chosen; like the stop button and keys, they send nothing.
    // Keys are accepted either way (a full-screen window has nobody to pass them to); Escape closes.
    void mountButtonsStopAndKeys()
    {
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        for (const bool ceiling : {true, false}) {
            QTest::mouseClick(ceiling ? screen->ceilingButton : screen->tripodButton, Qt::LeftButton);
            QCOMPARE(screen->ceilingMount, ceiling);
            QCOMPARE(iconImage(screen->ceilingButton), image(ceiling ? "rc/ceiling.png" : "rc/ceiling_gray.png"));
            QCOMPARE(iconImage(screen->tripodButton), image(ceiling ? "rc/tripod_gray.png" : "rc/tripod.png"));
            QCOMPARE(screen->ceilingButton->iconSize(), QSize(160, 120));
            QCOMPARE(screen->tripodButton->iconSize(), QSize(160, 120));
        }

        for (const int key : {int(Qt::Key_A), int(Qt::Key_Escape)}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            press.ignore();
            QApplication::sendEvent(screen.get(), &press);
            QVERIFY(press.isAccepted());
            QCOMPARE(screen->isVisible(), key != Qt::Key_Escape);
        }
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        QTest::mouseClick(findByText<QPushButton>(screen.get(), QStringLiteral("[center:stop]")), Qt::LeftButton);
        QVERIFY(!screen->isVisible());
        QVERIFY(!calibrate->isVisible());
        QVERIFY(sent().isEmpty());
    }

    // "Start calibration" sends cal:start before the calibration screen shows, while this screen is still
    // up, then hides it; with the sensor gone nothing is sent, not even through a stale handle once back.
    void startCalibration_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("connected") << true;
        QTest::newRow("unplugged") << false;
    }

    void startCalibration()
    {
        QFETCH(bool, connected);
        if (!connected) {
            sim::SimBus::instance().unplug(sensor.get());
            device->hotplugWorker();
            QVERIFY(!device->isConnected);
            sim::SimBus::instance().plug(sensor);
            sensor->clearLog();
        }
        const int exchanges = sensor->exchangeCount();
        screen->showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        QList<QStringList> sentAtShow;
        QList<bool> visibleAtStart;
        connect(startButton.get(), &QPushButton::clicked, this, [&sentAtShow, this] { sentAtShow << sent(); });
        connect(screen.get(), &view_tessarocenter::startCal, this, [&visibleAtStart, this] { visibleAtStart << screen->isVisible(); });
        QTest::mouseClick(findByText<QPushButton>(screen.get(), QStringLiteral("[center:startcal]")), Qt::LeftButton);
        const QStringList start = connected ? QStringList({"cal:start;"}) : QStringList();
        QCOMPARE(sentAtShow, QList<QStringList>({start}));
        QCOMPARE(sensor->exchangeCount(), exchanges + (connected ? 1 : 0));
        QCOMPARE(visibleAtStart, QList<bool>({true}));
        QVERIFY(calibrate->isVisible() && !screen->isVisible());
    }
};

TESSARO_TEST_MAIN(tst_viewtessarocenter)
#include "tst_viewtessarocenter.moc"
