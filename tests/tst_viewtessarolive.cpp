// The live view: pen point, calibration state and its signal, pen battery and the
// drawing of the calibrated area.
#include "live/pentrailitem.h"
#include "live/view_tessarolive.h"
#include "testmain.h"

#include <QApplication>
#include <QFontInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <climits>
#include <memory>

using Points = QList<QPoint>;
using Trail = QVector<QPointF>;

namespace {

const char* const BatteryFiles[] = {"rc/batt_unknown.png", "rc/batt_100.png", "rc/batt_75.png",
                                    "rc/batt_50.png",      "rc/batt_25.png",  "rc/batt_0.png"};

QImage picture(const QString& file)
{
    return QImage(QString::fromLatin1(QT_TESTCASE_BUILDDIR) + QLatin1Char('/') + file)
        .convertToFormat(QImage::Format_ARGB32);
}

QImage shown(const QGraphicsPixmapItem* item)
{
    return item->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

template <typename Item>
QList<Item*> itemsOf(QGraphicsScene* scene)
{
    QList<Item*> list;
    const auto items = scene->items(Qt::AscendingOrder);
    for (QGraphicsItem* item : items) {
        if (auto* typed = qgraphicsitem_cast<Item*>(item))
            list << typed;
    }
    return list;
}

} // namespace

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

    Points drawnCorners() const
    {
        const auto polygons = itemsOf<QGraphicsPolygonItem>(view->areaScene);
        if (polygons.size() != 1)
            return {};
        Points points;
        const QPolygonF polygon = polygons.first()->polygon();
        for (const QPointF& point : polygon)
            points << point.toPoint();
        return points;
    }

private slots:
    void initTestCase()
    {
        // The pictures lie below rc/ of the build folder.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        QVERIFY2(!picture(BatteryFiles[0]).isNull(), "pictures not drawn");
    }

    void init() { view = std::make_unique<view_tessarolive>(); }

    void cleanup() { view.reset(); }

    void layout()
    {
        auto* box = qobject_cast<QVBoxLayout*>(view->layout());
        QVERIFY(box);
        QCOMPARE(box->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(box->itemAt(0)->widget(), view->areaView);
        QCOMPARE(box->stretch(0), 0);
        QCOMPARE(view->areaView->scene(), view->areaScene);
        QCOMPARE(view->areaView->minimumSize(), QSize(420, 320));
        QCOMPARE(view->areaView->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(view->areaView->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(view->areaScene->sceneRect(), QRectF(0, 0, 420, 320));
        QVERIFY(view->areaScene->items().isEmpty());

        auto* pointGroup = qobject_cast<QGroupBox*>(box->itemAt(1)->widget());
        QVERIFY(pointGroup);
        QCOMPARE(pointGroup->title(), QStringLiteral("[live:sens]"));
        auto* pointGrid = qobject_cast<QGridLayout*>(pointGroup->layout());
        const auto caption = [pointGrid](int row, int column) {
            return qobject_cast<QLabel*>(pointGrid->itemAtPosition(row, column)->widget())->text();
        };
        QCOMPARE(caption(0, 0), QStringLiteral("[live:sens:x]:"));
        QCOMPARE(pointGrid->itemAtPosition(0, 1)->widget(), view->xLabel);
        QCOMPARE(caption(0, 2), QStringLiteral("[live:sens:y]:"));
        QCOMPARE(pointGrid->itemAtPosition(0, 3)->widget(), view->yLabel);
        QCOMPARE(caption(1, 0), QStringLiteral("[live:sens:size]:"));
        QCOMPARE(pointGrid->itemAtPosition(1, 1)->widget(), view->sizeLabel);
        QCOMPARE(caption(1, 2), QStringLiteral("[live:sens:num]:"));
        QCOMPARE(pointGrid->itemAtPosition(1, 3)->widget(), view->numberLabel);
        const int captionPixels = QFontInfo(pointGrid->itemAtPosition(0, 0)->widget()->font()).pixelSize();
        for (QLabel* label : {view->xLabel, view->yLabel, view->sizeLabel, view->numberLabel})
            QVERIFY(QFontInfo(label->font()).pixelSize() > captionPixels);

        auto* row = qobject_cast<QHBoxLayout*>(box->itemAt(2)->layout());
        QVERIFY(row);
        auto* calGroup = qobject_cast<QGroupBox*>(row->itemAt(0)->widget());
        auto* batteryGroup = qobject_cast<QGroupBox*>(row->itemAt(1)->widget());
        QCOMPARE(calGroup->title(), QStringLiteral("[live:cal]"));
        QCOMPARE(row->stretch(0), 100);
        QCOMPARE(batteryGroup->title(), QStringLiteral("[live:penbattery]"));
        QCOMPARE(row->stretch(1), 0);
        auto* calGrid = qobject_cast<QGridLayout*>(calGroup->layout());
        QCOMPARE(qobject_cast<QLabel*>(calGrid->itemAtPosition(0, 0)->widget())->text(),
                 QStringLiteral("[live:cal:state]:"));
        QCOMPARE(calGrid->itemAtPosition(0, 1)->widget(), view->calStateLabel);
        QCOMPARE(qobject_cast<QLabel*>(calGrid->itemAtPosition(0, 2)->widget())->text(),
                 QStringLiteral("[live:cal:point]:"));
        QCOMPARE(calGrid->itemAtPosition(0, 3)->widget(), view->calPointLabel);
        auto* batteryGrid = qobject_cast<QGridLayout*>(batteryGroup->layout());
        QCOMPARE(batteryGrid->itemAtPosition(0, 0)->widget(), view->batteryView);
        QCOMPARE(box->stretch(3), 100);

        QCOMPARE(view->batteryView->maximumSize(), QSize(64, 32));
        QCOMPARE(view->batteryView->styleSheet(), QStringLiteral("border-style: none; background: transparent"));
        QCOMPARE(view->batteryScene->sceneRect(), QRectF(0, 0, 64, 32));
        QCOMPARE(view->batteryItem->pos(), QPointF(0, 0));
        QCOMPARE(view->batteryItem->rotation(), 0.0);
        QCOMPARE(shown(view->batteryItem), picture(BatteryFiles[BatteryPicture::Unknown]));

        QCOMPARE(pointLabels(), QStringList({"", "", "", ""}));
        QVERIFY(view->calStateLabel->text().isEmpty());
        QVERIFY(view->calPointLabel->text().isEmpty());
    }

    void points_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("labels");
        // The pen trail after "sens:point:9:9:9:9" and the row's text, no corners drawn yet.
        QTest::addColumn<Trail>("marker");
        const Trail none;
        const QPointF first(13, 13);
        QTest::newRow("full") << "sens:point:512:384:3:1" << QStringList({"512", "384", "3", "1"})
                              << Trail{first, {210, 160}};
        QTest::newRow("extra fields") << "sens:point:1:2:3:4:5:6" << QStringList({"1", "2", "3", "4"})
                                      << Trail{first, {10, 10}};
        QTest::newRow("text as is") << "sens:point: 07:x::-1" << QStringList({" 07", "x", "", "-1"}) << none;
        QTest::newRow("x only") << "sens:point:512" << QStringList({"512", "", "", ""}) << none;
        QTest::newRow("no values") << "sens:point" << QStringList({"", "", "", ""}) << none;
        QTest::newRow("no pen") << "sens:point:0:0:0:0" << QStringList({"0", "0", "0", "0"}) << none;
        QTest::newRow("no x") << "sens:point:0:384:3:1" << QStringList({"0", "384", "3", "1"}) << none;
        QTest::newRow("negative") << "sens:point:-5:384:3:1" << QStringList({"-5", "384", "3", "1"}) << none;
        QTest::newRow("beyond the range, in the frame")
            << "sens:point:5000:900:3:1" << QStringList({"5000", "900", "3", "1"}) << Trail{first, {409, 310}};
        QTest::newRow("empty") << "" << QStringList({"", "", "", ""}) << none;
        QTest::newRow("garbage") << QString(64, QLatin1Char('z')) << QStringList({"", "", "", ""}) << none;
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

    void penFollowsTheCorners_data()
    {
        QTest::addColumn<QList<int>>("x");
        QTest::addColumn<QList<int>>("y");
        QTest::addColumn<QString>("pen");
        QTest::addColumn<QPointF>("marker");
        // The pen on corner 3 of each mount lands on corner 3 of the drawing.
        QTest::newRow("as the screen") << QList<int>{100, 900, 900, 100} << QList<int>{100, 100, 700, 700}
                                       << "sens:point:900:700:3:1" << QPointF(361, 283);
        QTest::newRow("x and y exchanged") << QList<int>{100, 100, 700, 700} << QList<int>{100, 900, 900, 100}
                                           << "sens:point:700:900:3:1" << QPointF(361, 283);
        QTest::newRow("x mirrored") << QList<int>{900, 100, 100, 900} << QList<int>{100, 100, 700, 700}
                                    << "sens:point:100:700:3:1" << QPointF(370, 283);
        QTest::newRow("y mirrored") << QList<int>{100, 900, 900, 100} << QList<int>{700, 700, 100, 100}
                                    << "sens:point:900:100:3:1" << QPointF(361, 270);
        QTest::newRow("exchanged and both mirrored")
            << QList<int>{700, 700, 100, 100} << QList<int>{900, 100, 100, 900} << "sens:point:100:100:3:1"
            << QPointF(370, 270);
    }

    void penFollowsTheCorners()
    {
        QFETCH(QList<int>, x);
        QFETCH(QList<int>, y);
        QFETCH(QString, pen);
        QFETCH(QPointF, marker);
        // Seen before the corners: the new drawing maps it again.
        view->updatePoints(pen);
        view->updateCalPoints(x, y);
        QCOMPARE(trail(), Trail{marker});
        view->updatePoints(pen);
        QCOMPARE(trail(), Trail({marker, marker}));
        // Drawn over the calibrated area.
        QCOMPARE(view->areaScene->items(Qt::AscendingOrder).last(), view->penTrail);
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
        view->updatePoints(QStringLiteral("sens:point:64:256:3:1"));
        QCOMPARE(trail(), Trail{QPointF(35, 110)});
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
        const auto* box = view->layout();
        auto* grid = qobject_cast<QGridLayout*>(qobject_cast<QGroupBox*>(box->itemAt(1)->widget())->layout());
        const int captionPixels = QFontInfo(grid->itemAtPosition(0, 0)->widget()->font()).pixelSize();
        QVERIFY(QFontInfo(view->xLabel->font()).pixelSize() > captionPixels);
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
        QTest::newRow("done") << "cal:state:0:0" << "[live:cal:done]" << "" << 0 << 0;
        QTest::newRow("done, any point") << "cal:state:0:4" << "[live:cal:done]" << "" << 0 << 0;
        QTest::newRow("other state text") << "cal:state:yes:4:x" << "[live:cal:running]" << "4" << 1 << 4;
        QTest::newRow("point not a number") << "cal:state:1:a" << "[live:cal:running]" << "a" << 1 << 0;
        QTest::newRow("point 00") << "cal:state:1:00" << "[live:cal:running]" << "00" << 1 << 0;
        QTest::newRow("empty fields") << "cal:state::" << "[live:cal:running]" << "" << 1 << 0;
        QTest::newRow("three fields") << "cal:state:0" << "[live:cal:running]" << "2" << 0 << 0;
        QTest::newRow("empty") << "" << "[live:cal:running]" << "2" << 0 << 0;
        QTest::newRow("garbage") << "garbage" << "[live:cal:running]" << "2" << 0 << 0;
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
        view->updateCalibration(data);
        QCOMPARE(view->calStateLabel->text(), stateLabel);
        QCOMPARE(view->calPointLabel->text(), pointLabel);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), QVariantList({state, point}));
    }

    void calibrationStateRepeats()
    {
        QSignalSpy spy(view.get(), &view_tessarolive::CalibrationState);
        for (int i = 0; i < 10; ++i)
            view->updateCalibration(QStringLiteral("cal:state:0:0"));
        QCOMPARE(spy.count(), 10);
    }

    void battery_data()
    {
        QTest::addColumn<double>("volts");
        QTest::addColumn<int>("battery");
        QTest::newRow("3.072") << 3.072 << int(BatteryPicture::Full);
        QTest::newRow("2.8000001") << 2.8000001 << int(BatteryPicture::Full);
        QTest::newRow("2.8") << 2.8 << int(BatteryPicture::ThreeQuarters);
        QTest::newRow("2.793") << 2.793 << int(BatteryPicture::ThreeQuarters);
        QTest::newRow("2.6") << 2.6 << int(BatteryPicture::Half);
        QTest::newRow("2.5") << 2.5 << int(BatteryPicture::Half);
        QTest::newRow("2.4") << 2.4 << int(BatteryPicture::Quarter);
        QTest::newRow("2.1000001") << 2.1000001 << int(BatteryPicture::Quarter);
        QTest::newRow("2.1") << 2.1 << int(BatteryPicture::Empty);
        QTest::newRow("0") << 0.0 << int(BatteryPicture::Empty);
        QTest::newRow("-1") << -1.0 << int(BatteryPicture::Unknown);
        QTest::newRow("-61.44") << -61.44 << int(BatteryPicture::Unknown);
    }

    void battery()
    {
        QFETCH(double, volts);
        QFETCH(int, battery);
        view->setPenBattery(volts);
        QCOMPARE(shown(view->batteryItem), picture(BatteryFiles[battery]));
    }

    void batteryFollowsChanges()
    {
        view->setPenBattery(3.0);
        QCOMPARE(shown(view->batteryItem), picture(BatteryFiles[BatteryPicture::Full]));
        view->setPenBattery(-1.0);
        QCOMPARE(shown(view->batteryItem), picture(BatteryFiles[BatteryPicture::Unknown]));
        view->setPenBattery(3.0);
        view->setPenBattery(3.0);
        QCOMPARE(shown(view->batteryItem), picture(BatteryFiles[BatteryPicture::Full]));
        view->setPenBattery(2.0);
        QCOMPARE(shown(view->batteryItem), picture(BatteryFiles[BatteryPicture::Empty]));
    }

    void area_data()
    {
        QTest::addColumn<QList<int>>("x");
        QTest::addColumn<QList<int>>("y");
        QTest::addColumn<Points>("corners");
        const Points upright{{49, 49}, {361, 49}, {361, 283}, {49, 283}};
        QTest::newRow("as the screen") << QList<int>{100, 900, 900, 100} << QList<int>{100, 100, 700, 700} << upright;
        QTest::newRow("x and y exchanged")
            << QList<int>{100, 100, 700, 700} << QList<int>{100, 900, 900, 100} << upright;
        QTest::newRow("x mirrored") << QList<int>{900, 100, 100, 900} << QList<int>{100, 100, 700, 700}
                                    << Points{{58, 49}, {370, 49}, {370, 283}, {58, 283}};
        QTest::newRow("y mirrored") << QList<int>{100, 900, 900, 100} << QList<int>{700, 700, 100, 100}
                                    << Points{{49, 36}, {361, 36}, {361, 270}, {49, 270}};
        QTest::newRow("exchanged and both mirrored")
            << QList<int>{700, 700, 100, 100} << QList<int>{900, 100, 100, 900}
            << Points{{58, 36}, {370, 36}, {370, 270}, {58, 270}};
        QTest::newRow("equal spans, no exchange")
            << QList<int>{100, 500, 500, 100} << QList<int>{100, 500, 600, 200}
            << Points{{49, 49}, {205, 205}, {205, 244}, {49, 88}};
        QTest::newRow("truncated scaling") << QList<int>{1, 1023, 1023, 1} << QList<int>{1, 1, 767, 767}
                                           << Points{{10, 10}, {409, 10}, {409, 309}, {10, 309}};
        QTest::newRow("skewed") << QList<int>{200, 800, 850, 150} << QList<int>{150, 120, 650, 700}
                                << Points{{88, 68}, {322, 56}, {342, 263}, {68, 283}};
        QTest::newRow("beyond the range, at its edges")
            << QList<int>{INT_MIN, 6000001, INT_MAX, -1} << QList<int>{1, 1, 767, 767}
            << Points{{10, 10}, {409, 10}, {409, 309}, {10, 309}};
        QTest::newRow("extra entries ignored")
            << QList<int>{100, 900, 900, 100, 5} << QList<int>{100, 100, 700, 700, 5} << upright;
    }

    void area()
    {
        QFETCH(QList<int>, x);
        QFETCH(QList<int>, y);
        QFETCH(Points, corners);
        view->updateCalPoints(x, y);
        QCOMPARE(view->areaScene->items().size(), 2);
        QCOMPARE(drawnCorners(), corners);

        const auto frames = itemsOf<QGraphicsRectItem>(view->areaScene);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.first()->rect(), QRectF(10, 10, 400, 300));
        const QPen framePen = frames.first()->pen();
        QCOMPARE(framePen.widthF(), 1.0);
        QCOMPARE(framePen.style(), Qt::SolidLine);
        QCOMPARE(framePen.capStyle(), Qt::RoundCap);
        QCOMPARE(framePen.joinStyle(), Qt::BevelJoin);
        QCOMPARE(framePen.color(), QColor::fromRgbF(0.5, 0, 0, 1));
        QCOMPARE(frames.first()->brush(), QBrush(Qt::white, Qt::SolidPattern));

        auto* polygon = itemsOf<QGraphicsPolygonItem>(view->areaScene).first();
        const QPen pen = polygon->pen();
        QCOMPARE(pen.widthF(), 1.0);
        QCOMPARE(pen.style(), Qt::SolidLine);
        QCOMPARE(pen.capStyle(), Qt::RoundCap);
        QCOMPARE(pen.joinStyle(), Qt::BevelJoin);
        QCOMPARE(pen.color(), QColor(Qt::black));
        QCOMPARE(polygon->brush(), QBrush(Qt::white, Qt::SolidPattern));
        // The area is drawn over the frame.
        QVERIFY(polygon->zValue() >= frames.first()->zValue());
        QCOMPARE(view->areaScene->items(Qt::AscendingOrder).last(), polygon);
    }

    void areaWithoutValuesIsKept_data()
    {
        QTest::addColumn<QList<int>>("x");
        QTest::addColumn<QList<int>>("y");
        QTest::newRow("x of corner 3 is 0") << QList<int>{100, 900, 0, 100} << QList<int>{100, 100, 700, 700};
        QTest::newRow("y of corner 1 is 0") << QList<int>{100, 900, 900, 100} << QList<int>{0, 100, 700, 700};
        QTest::newRow("three corners") << QList<int>{100, 900, 900} << QList<int>{100, 100, 700};
        QTest::newRow("no y") << QList<int>{100, 900, 900, 100} << QList<int>{};
        QTest::newRow("empty") << QList<int>{} << QList<int>{};
    }

    void areaWithoutValuesIsKept()
    {
        QFETCH(QList<int>, x);
        QFETCH(QList<int>, y);
        view->updateCalPoints(x, y);
        QVERIFY(view->areaScene->items().isEmpty());

        const Points upright{{49, 49}, {361, 49}, {361, 283}, {49, 283}};
        view->updateCalPoints({100, 900, 900, 100}, {100, 100, 700, 700});
        view->updateCalPoints(x, y);
        QCOMPARE(view->areaScene->items().size(), 2);
        QCOMPARE(drawnCorners(), upright);
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
        view->updateCalPoints({100, 900, 900, 100}, {100, 100, 700, 0});
        QCOMPARE(view->areaScene->items().size(), 3);

        view->updateCalPoints({100, 900, 900, 101}, y);
        QCOMPARE(view->areaScene->items().size(), 2);
        QCOMPARE(drawnCorners(), Points({{49, 49}, {361, 49}, {361, 283}, {49, 283}}));
        view->updateCalPoints(x, y);
        QCOMPARE(view->areaScene->items().size(), 2);
    }

    void pollSequence()
    {
        // What the poll passes on over a few ticks, as the sensor view connects it.
        QSignalSpy spy(view.get(), &view_tessarolive::CalibrationState);
        const QStringList states{"cal:state:1:1", "", "cal:state:1:2", "cal:state:1:0", "cal:state:0:0"};
        for (const QString& state : states) {
            view->updatePoints(QStringLiteral("sens:point:300:200:4:2"));
            view->updateCalibration(state);
            view->setPenBattery(2.7);
        }
        QCOMPARE(spy.count(), 5);
        QCOMPARE(spy.at(0), QVariantList({1, 1}));
        QCOMPARE(spy.at(1), QVariantList({0, 0}));
        QCOMPARE(spy.at(2), QVariantList({1, 2}));
        QCOMPARE(spy.at(3), QVariantList({1, 0}));
        QCOMPARE(spy.at(4), QVariantList({0, 0}));
        QCOMPARE(pointLabels(), QStringList({"300", "200", "4", "2"}));
        QCOMPARE(view->calStateLabel->text(), QStringLiteral("[live:cal:done]"));
        QCOMPARE(shown(view->batteryItem), picture(BatteryFiles[BatteryPicture::ThreeQuarters]));
    }
};

TESSARO_TEST_MAIN(tst_viewtessarolive)
#include "tst_viewtessarolive.moc"
