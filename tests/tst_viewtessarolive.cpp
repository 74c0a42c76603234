// The live view: pen point and its trail, calibration state and its signal, pen battery
// and the drawing of the calibrated area.
#include "live/pentrailitem.h"
#include "live/view_tessarolive.h"
#include "testmain.h"

#include <QApplication>
#include <QFontInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>

#include <climits>
#include <memory>

class tst_viewtessarolive : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<view_tessarolive> view;

    static QString text(const QVector<QPointF>& points)
    {
        QStringList all;
        for (const QPointF& point : points)
            all << QStringLiteral("%1,%2").arg(point.x()).arg(point.y());
        return all.join(QLatin1Char(' '));
    }

    QString trail() const { return view->penTrail ? text(view->penTrail->points()) : QString(); }

    // The scene's items bottom up: "frame", "area" with its corners, "pen".
    QStringList drawing() const
    {
        QStringList items;
        const auto all = view->areaScene->items(Qt::AscendingOrder);
        for (QGraphicsItem* item : all) {
            const auto* area = qgraphicsitem_cast<QGraphicsPolygonItem*>(item);
            items << (area ? "area " + text(area->polygon()) : item == view->penTrail ? "pen" : "frame");
        }
        return items;
    }

private slots:
    // The pictures lie below rc/ of the build folder.
    void initTestCase() { QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR)); }

    void init() { view = std::make_unique<view_tessarolive>(); }

    void points_data()
    {
        QTest::addColumn<QString>("data"); // one poll's text, or several apart by "/"
        QTest::addColumn<QString>("labels");
        QTest::addColumn<QString>("marker"); // after "sens:point:9:9:9:9", no corners drawn yet
        QTest::newRow("full") << "sens:point:512:384:3:1" << "512|384|3|1" << "13,13 210,160";
        QTest::newRow("text as is") << "sens:point: 07:x::-1" << " 07|x||-1" << "";
        QTest::newRow("x only") << "sens:point:512" << "512|||" << "";
        QTest::newRow("no x") << "sens:point:0:384:3:1" << "0|384|3|1" << "";
        QTest::newRow("no y") << "sens:point:512:0:0:0" << "512|0|0|0" << "";
        QTest::newRow("negative") << "sens:point:-5:384:3:1" << "-5|384|3|1" << "";
        QTest::newRow("beyond the range, in the frame") << "sens:point:5000:900:3:1" << "5000|900|3|1" << "13,13 409,310";
        QTest::newRow("empty") << "" << "|||" << "";
        QStringList ten;
        for (int i = 1; i <= 10; ++i)
            ten << QStringLiteral("sens:point:%1:256:3:1").arg(i * 64);
        QTest::newRow("the trail keeps the newest eight") << ten.join('/') << "640|256|3|1"
                                                          << "85,110 110,110 135,110 160,110 185,110 210,110 235,110 260,110";
    }

    void points()
    {
        QFETCH(QString, data);
        QFETCH(QString, labels);
        QFETCH(QString, marker);
        view->updatePoints(QStringLiteral("sens:point:9:9:9:9"));
        for (const QString& poll : data.split('/'))
            view->updatePoints(poll);
        const QStringList shown{view->xLabel->text(), view->yLabel->text(), view->sizeLabel->text(), view->numberLabel->text()};
        QCOMPARE(shown.join(QLatin1Char('|')), labels);
        QCOMPARE(trail(), marker);
    }

    void largeTypeFollowsTheFontWithoutOverlap()
    {
        // A large font, or a desktop at twice the resolution: 20 px were smaller than the captions.
        const QFont before = QApplication::font();
        const QFont large(before.family(), 24);
        QApplication::setFont(large);
        view = std::make_unique<view_tessarolive>();
        QApplication::setFont(before);
        QVERIFY(QFontInfo(view->xLabel->font()).pixelSize() > QFontInfo(large).pixelSize());
        // Every value and caption has a place of its own: no text is drawn over another.
        view->show();
        for (const QLabel* value : {view->xLabel, view->yLabel, view->sizeLabel, view->numberLabel, view->calStateLabel})
            for (const QLabel* other : value->parentWidget()->findChildren<QLabel*>())
                QVERIFY(other == value || !other->geometry().intersects(value->geometry()));
    }

    void calibrationState_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("shown"); // state and point labels
        QTest::addColumn<QVariantList>("signal");
        // Before each row the view has seen "cal:state:1:2": running at point 2.
        QTest::newRow("running at 3") << "cal:state:1:3" << "[live:cal:running] 3" << QVariantList{1, 3};
        QTest::newRow("running, no point yet") << "cal:state:1:0" << "[live:cal:running] 2" << QVariantList{1, 0};
        QTest::newRow("done, any point") << "cal:state:0:4" << "[live:cal:done] " << QVariantList{0, 0};
        QTest::newRow("other state text") << "cal:state:yes:4:x" << "[live:cal:running] 4" << QVariantList{1, 4};
        QTest::newRow("point not a number") << "cal:state:1:a" << "[live:cal:running] a" << QVariantList{1, 0};
        QTest::newRow("point 00") << "cal:state:1:00" << "[live:cal:running] 00" << QVariantList{1, 0};
        QTest::newRow("three fields, or a lost reply") << "cal:state:0" << "[live:cal:running] 2" << QVariantList{0, 0};
    }

    void calibrationState()
    {
        QFETCH(QString, data);
        QFETCH(QString, shown);
        QFETCH(QVariantList, signal);
        view->updateCalibration(QStringLiteral("cal:state:1:2"));
        QSignalSpy spy(view.get(), &view_tessarolive::CalibrationState);
        // Every poll passes its state on, a repeated one too.
        view->updateCalibration(data);
        view->updateCalibration(data);
        QCOMPARE(view->calStateLabel->text() + ' ' + view->calPointLabel->text(), shown);
        QCOMPARE(QList<QVariantList>(spy), QList<QVariantList>({signal, signal}));
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
        using L = QList<int>;
        QTest::addColumn<L>("x");
        QTest::addColumn<L>("y");
        QTest::addColumn<QString>("corners"); // drawn; a pen on corner 3 sits on the third
        const QString upright = "49,49 361,49 361,283 49,283";
        QTest::newRow("as the screen") << L{100, 900, 900, 100} << L{100, 100, 700, 700} << upright;
        QTest::newRow("x and y exchanged") << L{100, 100, 700, 700} << L{100, 900, 900, 100} << upright;
        QTest::newRow("x mirrored") << L{900, 100, 100, 900} << L{100, 100, 700, 700} << "58,49 370,49 370,283 58,283";
        QTest::newRow("y mirrored") << L{100, 900, 900, 100} << L{700, 700, 100, 100} << "49,36 361,36 361,270 49,270";
        QTest::newRow("exchanged, both mirrored") << L{700, 700, 100, 100} << L{900, 100, 100, 900} << "58,36 370,36 370,270 58,270";
        QTest::newRow("equal spans, no exchange") << L{100, 500, 500, 100} << L{100, 500, 600, 200} << "49,49 205,205 205,244 49,88";
        QTest::newRow("truncated scaling") << L{1, 1023, 1023, 1} << L{1, 1, 767, 767} << "10,10 409,10 409,309 10,309";
        QTest::newRow("skewed") << L{200, 800, 850, 150} << L{150, 120, 650, 700} << "88,68 322,56 342,263 68,283";
        QTest::newRow("beyond the range, at its edges")
            << L{INT_MIN, 6000001, INT_MAX, -1} << L{1, 1, 767, 767} << "10,10 409,10 409,309 10,309";
    }

    void area()
    {
        QFETCH(QList<int>, x);
        QFETCH(QList<int>, y);
        QFETCH(QString, corners);
        // A corner without a value (0, or missing) draws nothing, and later keeps what is drawn.
        QList<int> noValue = y;
        noValue[1] = 0;
        view->updateCalPoints(x.mid(0, 3), y);
        QCOMPARE(drawing(), QStringList());
        const QString pen = QStringLiteral("sens:point:%1:%2:3:1").arg(x[2]).arg(y[2]);
        const QString marker = corners.section(QLatin1Char(' '), 2, 2);
        // Seen before the corners: the new drawing maps it again, over the area.
        view->updatePoints(pen);
        view->updateCalPoints(x, y);
        QCOMPARE(drawing(), QStringList({"frame", "area " + corners, "pen"}));
        QCOMPARE(trail(), marker);
        view->updatePoints(pen);
        QCOMPARE(trail(), marker + ' ' + marker);
        // Drawn again only when a corner changes: a marker of the test's own shows a redraw.
        view->areaScene->addEllipse(0, 0, 1, 1);
        view->updateCalPoints(x, y);
        view->updateCalPoints(x, noValue);
        QCOMPARE(drawing().size(), 4);
        view->updatePoints(QStringLiteral("sens:point"));
        view->updateCalPoints({100, 900, 900, 101}, {100, 100, 700, 700});
        QCOMPARE(drawing(), QStringList({"frame", "area 49,49 361,49 361,283 49,283"}));
    }

    // On the screen, after a long trail and a new calibration, exactly what a fresh drawing
    // of the same state shows: no old trail left, the frame and the area whole.
    void screenShowsOnlyWhatIsThere()
    {
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        const auto shown = [this] {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            const QRect area(view->areaView->mapTo(view.get(), QPoint()), view->areaView->size());
            return view->screen()->grabWindow(view->winId()).toImage().copy(area).convertToFormat(QImage::Format_RGB32);
        };
        const auto fresh = [this] { return view->areaView->grab().toImage().convertToFormat(QImage::Format_RGB32); };
        for (const QList<int>& x : {QList<int>{100, 900, 900, 100}, QList<int>{1, 1023, 1023, 1}}) {
            view->updateCalPoints(x, {100, 100, 700, 700});
            for (int i = 0; i < 40; ++i) {
                view->updatePoints(QStringLiteral("sens:point:%1:%2:3:1").arg(1 + i * 97 % 1023).arg(1 + i * 61 % 767));
                shown();
            }
            QTRY_COMPARE(shown(), fresh());
        }
    }

    // Every segment is drawn, the oldest too, and nothing off the trail.
    void trailIsDrawnFromItsOldestPoint()
    {
        QGraphicsScene scene(0, 0, 100, 100);
        auto* trail = new PenTrailItem;
        trail->setPoints({{10, 10}, {90, 10}, {90, 90}});
        scene.addItem(trail);
        QImage image(100, 100, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        scene.render(&painter);
        painter.end();
        QVERIFY(image.pixelColor(50, 10) != QColor(Qt::white));
        QVERIFY(image.pixelColor(90, 50) != QColor(Qt::white));
        QCOMPARE(image.pixelColor(50, 50), QColor(Qt::white));
    }
};

TESSARO_TEST_MAIN(tst_viewtessarolive)
#include "tst_viewtessarolive.moc"
