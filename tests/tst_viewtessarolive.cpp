// The live view: pen point and its trail, calibration state and its signal, pen battery
// and the drawing of the calibrated area.
#include "live/pentrailitem.h"
#include "live/view_tessarolive.h"
#include "testmain.h"

#include <QApplication>
#include <QFontInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QSignalSpy>

#include <climits>
#include <memory>

using Points = QList<QPoint>;
using Trail = QVector<QPointF>;

class tst_viewtessarolive : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<view_tessarolive> view;

    QStringList pointLabels() const
    {
        return {view->xLabel->text(), view->yLabel->text(), view->sizeLabel->text(), view->numberLabel->text()};
    }

    Trail trail() const { return view->penTrail ? view->penTrail->points() : Trail(); }

    // The scene's items bottom up, by kind: "frame", "area" (with its corners) or "pen".
    QStringList drawing() const
    {
        QStringList items;
        const auto all = view->areaScene->items(Qt::AscendingOrder);
        for (QGraphicsItem* item : all) {
            if (auto* area = qgraphicsitem_cast<QGraphicsPolygonItem*>(item)) {
                QStringList corners;
                for (const QPointF& point : area->polygon())
                    corners << QStringLiteral("%1,%2").arg(point.x()).arg(point.y());
                items << QStringLiteral("area ") + corners.join(QLatin1Char(' '));
            } else {
                items << (item == view->penTrail ? QStringLiteral("pen") : QStringLiteral("frame"));
            }
        }
        return items;
    }

private slots:
    void initTestCase()
    {
        // The pictures lie below rc/ of the build folder.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
    }

    void init() { view = std::make_unique<view_tessarolive>(); }

    void cleanup() { view.reset(); }

    void points_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("labels");
        // The pen trail after "sens:point:9:9:9:9" and the row's text, no corners drawn yet.
        QTest::addColumn<Trail>("marker");
        const QPointF first(13, 13);
        QTest::newRow("full") << "sens:point:512:384:3:1" << QStringList({"512", "384", "3", "1"})
                              << Trail{first, {210, 160}};
        QTest::newRow("extra fields") << "sens:point:1:2:3:4:5:6" << QStringList({"1", "2", "3", "4"})
                                      << Trail{first, {10, 10}};
        QTest::newRow("text as is") << "sens:point: 07:x::-1" << QStringList({" 07", "x", "", "-1"}) << Trail();
        QTest::newRow("x only") << "sens:point:512" << QStringList({"512", "", "", ""}) << Trail();
        QTest::newRow("no x") << "sens:point:0:384:3:1" << QStringList({"0", "384", "3", "1"}) << Trail();
        QTest::newRow("no y") << "sens:point:512:0:0:0" << QStringList({"512", "0", "0", "0"}) << Trail();
        QTest::newRow("negative") << "sens:point:-5:384:3:1" << QStringList({"-5", "384", "3", "1"}) << Trail();
        QTest::newRow("beyond the range, in the frame")
            << "sens:point:5000:900:3:1" << QStringList({"5000", "900", "3", "1"}) << Trail{first, {409, 310}};
        QTest::newRow("empty") << "" << QStringList({"", "", "", ""}) << Trail();
    }

    void points()
    {
        QFETCH(QString, data);
        QFETCH(QStringList, labels);
        QFETCH(Trail, marker);
        view->updatePoints(QStringLiteral("sens:point:9:9:9:9"));
        view->updatePoints(data);
        QCOMPARE(pointLabels(), labels);
        QCOMPARE(trail(), marker);
    }

    void trailKeepsTheLatestPoints()
    {
        Trail expected;
        for (int i = 1; i <= 10; ++i) {
            view->updatePoints(QStringLiteral("sens:point:%1:256:3:1").arg(i * 64));
            expected << QPointF(i * 25 + 10, 110);
        }
        QCOMPARE(trail(), expected.mid(2));
        view->updatePoints(QStringLiteral("sens:point:0:0:0:0"));
        QCOMPARE(trail(), Trail());
    }

    void largeTypeFollowsTheApplicationFont()
    {
        // A desktop at twice the resolution, or a large font: 20 px were smaller than
        // the captions there.
        const QFont before = QApplication::font();
        QFont large = before;
        large.setPointSize(24);
        QApplication::setFont(large);
        view = std::make_unique<view_tessarolive>();
        QApplication::setFont(before);
        QVERIFY(QFontInfo(view->xLabel->font()).pixelSize() > QFontInfo(large).pixelSize());
    }

    void calibrationState_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("stateLabel");
        QTest::addColumn<QString>("pointLabel");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("point");
        // Before each row the view has seen "cal:state:1:2": running at point 2.
        QTest::newRow("running at 3") << "cal:state:1:3" << "[live:cal:running]" << "3" << 1 << 3;
        QTest::newRow("running, no point yet") << "cal:state:1:0" << "[live:cal:running]" << "2" << 1 << 0;
        QTest::newRow("done, any point") << "cal:state:0:4" << "[live:cal:done]" << "" << 0 << 0;
        QTest::newRow("other state text") << "cal:state:yes:4:x" << "[live:cal:running]" << "4" << 1 << 4;
        QTest::newRow("point not a number") << "cal:state:1:a" << "[live:cal:running]" << "a" << 1 << 0;
        QTest::newRow("point 00") << "cal:state:1:00" << "[live:cal:running]" << "00" << 1 << 0;
        QTest::newRow("three fields, or a lost reply") << "cal:state:0" << "[live:cal:running]" << "2" << 0 << 0;
    }

    void calibrationState()
    {
        QFETCH(QString, data);
        QFETCH(QString, stateLabel);
        QFETCH(QString, pointLabel);
        QFETCH(int, state);
        QFETCH(int, point);
        view->updateCalibration(QStringLiteral("cal:state:1:2"));
        QSignalSpy spy(view.get(), &view_tessarolive::CalibrationState);
        // Every poll passes its state on, a repeated one too.
        view->updateCalibration(data);
        view->updateCalibration(data);
        QCOMPARE(view->calStateLabel->text(), stateLabel);
        QCOMPARE(view->calPointLabel->text(), pointLabel);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0), QVariantList({state, point}));
        QCOMPARE(spy.at(1), spy.at(0));
    }

    void battery()
    {
        // In poll order: a band seen again keeps its picture, a change shows the new one.
        const QList<QPair<double, const char*>> polls{
            {3.072, "100"}, {2.8000001, "100"}, {2.8, "75"}, {2.6, "50"}, {2.4, "25"},
            {2.1000001, "25"}, {2.1, "0"}, {0.0, "0"}, {-1.0, "unknown"}, {3.0, "100"}};
        for (const auto& poll : polls) {
            view->setPenBattery(poll.first);
            const QImage expected(QStringLiteral("rc/batt_%1.png").arg(QLatin1String(poll.second)));
            QVERIFY(!expected.isNull());
            QCOMPARE(view->batteryItem->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                     expected.convertToFormat(QImage::Format_ARGB32));
        }
    }

    void area_data()
    {
        QTest::addColumn<QList<int>>("x");
        QTest::addColumn<QList<int>>("y");
        QTest::addColumn<QString>("corners"); // drawn; a pen on corner 3 sits on the third
        const QString upright = "49,49 361,49 361,283 49,283";
        QTest::newRow("as the screen") << QList<int>{100, 900, 900, 100} << QList<int>{100, 100, 700, 700} << upright;
        QTest::newRow("x and y exchanged")
            << QList<int>{100, 100, 700, 700} << QList<int>{100, 900, 900, 100} << upright;
        QTest::newRow("x mirrored") << QList<int>{900, 100, 100, 900} << QList<int>{100, 100, 700, 700}
                                    << "58,49 370,49 370,283 58,283";
        QTest::newRow("y mirrored") << QList<int>{100, 900, 900, 100} << QList<int>{700, 700, 100, 100}
                                    << "49,36 361,36 361,270 49,270";
        QTest::newRow("exchanged and both mirrored")
            << QList<int>{700, 700, 100, 100} << QList<int>{900, 100, 100, 900} << "58,36 370,36 370,270 58,270";
        QTest::newRow("equal spans, no exchange")
            << QList<int>{100, 500, 500, 100} << QList<int>{100, 500, 600, 200} << "49,49 205,205 205,244 49,88";
        QTest::newRow("truncated scaling") << QList<int>{1, 1023, 1023, 1} << QList<int>{1, 1, 767, 767}
                                           << "10,10 409,10 409,309 10,309";
        QTest::newRow("skewed") << QList<int>{200, 800, 850, 150} << QList<int>{150, 120, 650, 700}
                                << "88,68 322,56 342,263 68,283";
        QTest::newRow("beyond the range, at its edges")
            << QList<int>{INT_MIN, 6000001, INT_MAX, -1} << QList<int>{1, 1, 767, 767} << "10,10 409,10 409,309 10,309";
        QTest::newRow("extra entries ignored")
            << QList<int>{100, 900, 900, 100, 5} << QList<int>{100, 100, 700, 700, 5} << upright;
    }

    void area()
    {
        QFETCH(QList<int>, x);
        QFETCH(QList<int>, y);
        QFETCH(QString, corners);
        const QString pen = QStringLiteral("sens:point:%1:%2:3:1").arg(x[2]).arg(y[2]);
        const QStringList third = corners.section(QLatin1Char(' '), 2, 2).split(QLatin1Char(','));
        const QPointF marker(third[0].toInt(), third[1].toInt());
        // Seen before the corners: the new drawing maps it again, over the area.
        view->updatePoints(pen);
        view->updateCalPoints(x, y);
        QCOMPARE(drawing(), QStringList({"frame", "area " + corners, "pen"}));
        QCOMPARE(trail(), Trail{marker});
        view->updatePoints(pen);
        QCOMPARE(trail(), Trail({marker, marker}));
    }

    void areaWithoutValuesIsKept_data()
    {
        QTest::addColumn<QList<int>>("x");
        QTest::addColumn<QList<int>>("y");
        QTest::newRow("x of corner 3 is 0") << QList<int>{100, 900, 0, 100} << QList<int>{100, 100, 700, 700};
        QTest::newRow("y of corner 1 is 0") << QList<int>{100, 900, 900, 100} << QList<int>{0, 100, 700, 700};
        QTest::newRow("three corners") << QList<int>{100, 900, 900} << QList<int>{100, 100, 700};
    }

    void areaWithoutValuesIsKept()
    {
        QFETCH(QList<int>, x);
        QFETCH(QList<int>, y);
        view->updateCalPoints(x, y);
        QVERIFY(view->areaScene->items().isEmpty());
        view->updateCalPoints({100, 900, 900, 100}, {100, 100, 700, 700});
        view->updateCalPoints(x, y);
        QCOMPARE(drawing(), QStringList({"frame", "area 49,49 361,49 361,283 49,283"}));
    }

    void areaRedrawnOnlyOnChange()
    {
        const QList<int> x{100, 900, 900, 100};
        const QList<int> y{100, 100, 700, 700};
        view->updateCalPoints(x, y);
        // A marker of the test's own survives as long as the scene is not redrawn.
        view->areaScene->addEllipse(0, 0, 1, 1);
        view->updateCalPoints(x, y);
        QCOMPARE(view->areaScene->items().size(), 3);
        view->updateCalPoints({100, 900, 900, 101}, y);
        QCOMPARE(drawing(), QStringList({"frame", "area 49,49 361,49 361,283 49,283"}));
    }
};

TESSARO_TEST_MAIN(tst_viewtessarolive)
#include "tst_viewtessarolive.moc"
