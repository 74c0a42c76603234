// The centering screen: arrow rows by pen point, mount and hardware version, the mount
// buttons, the start of a calibration from here, and keys.
#include "device/tessaro.h"
#include "live/tessaropushbutton.h"
#include "live/view_tessarocalibrate.h"
#include "live/view_tessarocenter.h"
#include "simfixture.h"
#include "testmain.h"

#include <QFontInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include <climits>
#include <memory>
#include <optional>

namespace {

constexpr char PictureStyle[] = "border-style: none; background: transparent";

QImage image(const QString& file)
{
    return QImage(QString::fromLatin1(QT_TESTCASE_BUILDDIR) + QLatin1Char('/') + file)
        .convertToFormat(QImage::Format_ARGB32);
}

QImage iconImage(const QPushButton* button)
{
    return button->icon().pixmap(160, 120).toImage().convertToFormat(QImage::Format_ARGB32);
}

QPushButton* buttonWithText(QWidget* window, const QString& text)
{
    const auto buttons = window->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
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
    QImage off;
    QImage okay;
    QImage bad;

    // One letter per arrow, nearest the centre first: "-" off, "k" okay, "B" bad, "?" none.
    QString row(QGraphicsPixmapItem* const* items) const
    {
        QString letters;
        for (int i = 0; i < view_tessarocenter::ArrowCount; ++i) {
            const QImage shown = items[i]->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
            letters += shown == off ? QLatin1Char('-') : shown == okay ? QLatin1Char('k') : shown == bad ? QLatin1Char('B')
                                                                                                         : QLatin1Char('?');
        }
        return letters;
    }

    // Left, lower, right and upper rows.
    QStringList rows() const
    {
        return {row(screen->leftItems), row(screen->lowerItems), row(screen->rightItems), row(screen->upperItems)};
    }

    QStringList sent() const { return SimFixture::commands(*sensor); }

    // The calibration screen and the start button, wired as the sensor view wires them.
    void wireCalibration()
    {
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        calibrate = std::make_unique<view_tessarocalibrate>(device);
        QDir::setCurrent(fixture->dir());
        startButton = std::make_unique<tessaroPushButton>(QStringLiteral("[sys:calibrate:start]"),
                                                          QStringLiteral("cal:start;"));
        startButton->setPauseMs(0);
        connect(startButton.get(), &tessaroPushButton::execCommand, device.data(), &tessaro::execCommand);
        connect(screen.get(), &view_tessarocenter::startCal, startButton.get(), &QAbstractButton::click);
        connect(startButton.get(), &QPushButton::clicked, calibrate.get(), &QWidget::showFullScreen);
    }

private slots:
    void initTestCase()
    {
        off = image("rc/arrow_center_off.png");
        okay = image("rc/arrow_center_okay.png");
        bad = image("rc/arrow_center_bad.png");
        QVERIFY2(!off.isNull() && !okay.isNull() && !bad.isNull(), "pictures not drawn");
        QVERIFY(off != okay && okay != bad && off != bad);
    }

    void init()
    {
        fixture.emplace();
        fixture->writeCatalogue({SimFixture::sensorEntry()});
        sensor = fixture->plugSensor();
        device = SimFixture::openConnection();
        QVERIFY(device);
        // The pictures lie below rc/ of the build folder, the program's current directory.
        QDir::setCurrent(QString::fromLatin1(QT_TESTCASE_BUILDDIR));
        screen = std::make_unique<view_tessarocenter>(device);
        QDir::setCurrent(fixture->dir());
    }

    void cleanup()
    {
        startButton.reset();
        calibrate.reset();
        screen.reset();
        SimFixture::closeConnection(device);
        sensor.reset();
        fixture.reset();
    }

    void construction()
    {
        QVERIFY(screen->isWindow());
        QVERIFY(!screen->isVisible());
        QVERIFY(!screen->ceilingMount);
        QVERIFY(screen->hardwareVersion.isEmpty());
        QCOMPARE(rows(), QStringList({"---", "---", "---", "---"}));
        for (QLabel* label : {screen->xValueLabel, screen->yValueLabel, screen->sizeValueLabel}) {
            QVERIFY(label->text().isEmpty());
            QCOMPARE(label->minimumWidth(), 100);
            QCOMPARE(label->maximumWidth(), 100);
            QVERIFY(QFontInfo(label->font()).pixelSize() > QFontInfo(screen->font()).pixelSize());
        }

        auto* grid = qobject_cast<QGridLayout*>(screen->layout());
        QVERIFY(grid);
        int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
        const auto place = [&](QWidget* widget) {
            grid->getItemPosition(grid->indexOf(widget), &row, &column, &rowSpan, &columnSpan);
            return QList<int>({row, column, rowSpan, columnSpan});
        };
        const auto alignment = [grid](QWidget* widget) { return grid->itemAt(grid->indexOf(widget))->alignment(); };
        QCOMPARE(place(screen->upperView), QList<int>({1, 2, 1, 1}));
        QCOMPARE(alignment(screen->upperView), Qt::AlignBottom);
        QCOMPARE(place(screen->leftView), QList<int>({2, 1, 1, 1}));
        QCOMPARE(alignment(screen->leftView), Qt::AlignRight);
        QCOMPARE(place(screen->centerView), QList<int>({2, 2, 1, 1}));
        QCOMPARE(alignment(screen->centerView), Qt::AlignCenter);
        QCOMPARE(place(screen->rightView), QList<int>({2, 3, 1, 1}));
        QCOMPARE(alignment(screen->rightView), Qt::AlignLeft);
        QCOMPARE(place(screen->lowerView), QList<int>({3, 2, 1, 1}));
        QCOMPARE(alignment(screen->lowerView), Qt::AlignTop);

        QWidget* values = screen->xValueLabel->parentWidget();
        QCOMPARE(place(values), QList<int>({0, 1, 1, 3}));
        auto* valueBox = qobject_cast<QHBoxLayout*>(values->layout());
        QStringList texts;
        for (int i = 0; i < 6; ++i) {
            auto* label = qobject_cast<QLabel*>(valueBox->itemAt(i)->widget());
            QVERIFY(QFontInfo(label->font()).pixelSize() > QFontInfo(screen->font()).pixelSize());
            texts << (i % 2 ? QStringLiteral("value") : label->text());
        }
        QCOMPARE(texts, QStringList({"X:", "value", "Y:", "value", "Size:", "value"}));
        QCOMPARE(valueBox->itemAt(1)->widget(), screen->xValueLabel);
        QCOMPARE(valueBox->itemAt(3)->widget(), screen->yValueLabel);
        QCOMPARE(valueBox->itemAt(5)->widget(), screen->sizeValueLabel);
        QVERIFY(valueBox->itemAt(6)->spacerItem());
        QCOMPARE(valueBox->stretch(6), 100);

        auto* group = qobject_cast<QGroupBox*>(screen->ceilingButton->parentWidget());
        QCOMPARE(group->title(), QStringLiteral("[center:setup]"));
        QCOMPARE(place(group->parentWidget()), QList<int>({1, 4, 2, 1}));
        auto* setupBox = qobject_cast<QVBoxLayout*>(group->parentWidget()->layout());
        QCOMPARE(setupBox->contentsMargins(), QMargins(0, 0, 0, 0));
        QCOMPARE(setupBox->itemAt(0)->widget(), group);
        QCOMPARE(setupBox->stretch(1), 100);
        auto* groupBox = group->layout();
        QCOMPARE(groupBox->itemAt(0)->widget(), screen->ceilingButton);
        QCOMPARE(qobject_cast<QLabel*>(groupBox->itemAt(1)->widget())->text(), QStringLiteral("[center:setup:info]"));
        QCOMPARE(groupBox->itemAt(1)->alignment(), Qt::AlignHCenter);
        QCOMPARE(groupBox->itemAt(2)->widget(), screen->tripodButton);

        QPushButton* stop = buttonWithText(screen.get(), QStringLiteral("[center:stop]"));
        QPushButton* start = buttonWithText(screen.get(), QStringLiteral("[center:startcal]"));
        QVERIFY(stop && start);
        QCOMPARE(place(stop), QList<int>({4, 1, 1, 1}));
        QCOMPARE(place(start), QList<int>({4, 2, 1, 1}));

        QCOMPARE(grid->columnStretch(0), 400);
        QCOMPARE(grid->columnStretch(1), 300);
        QCOMPARE(grid->columnStretch(2), 0);
        QCOMPARE(grid->columnStretch(3), 300);
        QCOMPARE(grid->columnStretch(4), 400);
        QCOMPARE(grid->rowStretch(1), 300);
        QCOMPARE(grid->rowStretch(3), 300);

        for (QPushButton* button : {screen->ceilingButton, screen->tripodButton}) {
            QVERIFY(button->text().isEmpty());
            QCOMPARE(button->iconSize(), QSize(160, 120));
            QCOMPARE(button->styleSheet(), QStringLiteral("QPushButton {border: inset; padding: 0px;}"));
        }
        QCOMPARE(iconImage(screen->ceilingButton), image("rc/ceiling_gray.png"));
        QCOMPARE(iconImage(screen->tripodButton), image("rc/tripod.png"));
    }

    void scenes()
    {
        for (QGraphicsView* view :
             {screen->centerView, screen->leftView, screen->lowerView, screen->rightView, screen->upperView})
            QCOMPARE(view->styleSheet(), QLatin1String(PictureStyle));
        QCOMPARE(screen->centerView->scene(), screen->centerScene);
        QCOMPARE(screen->centerScene->sceneRect(), QRectF(0, 0, 150, 150));
        QCOMPARE(screen->centerItem->pos(), QPointF(0, 0));
        QCOMPARE(screen->centerItem->pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 image("rc/center.png"));
        // Never squeezed behind scroll bars.
        QCOMPARE(screen->centerView->minimumSize(), QSize(150, 150));
        QCOMPARE(screen->leftView->minimumSize(), QSize(150, 75));
        QCOMPARE(screen->rightView->minimumSize(), QSize(150, 75));
        QCOMPARE(screen->upperView->minimumSize(), QSize(75, 150));
        QCOMPARE(screen->lowerView->minimumSize(), QSize(75, 150));
        for (QGraphicsView* view :
             {screen->centerView, screen->leftView, screen->lowerView, screen->rightView, screen->upperView}) {
            QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        }
        QCOMPARE(screen->leftView->alignment(), Qt::AlignHCenter);
        QCOMPARE(screen->rightView->alignment(), Qt::AlignHCenter);
        QCOMPARE(screen->upperView->alignment(), Qt::AlignVCenter);
        QCOMPARE(screen->lowerView->alignment(), Qt::AlignVCenter);
        QCOMPARE(screen->leftView->scene(), screen->leftScene);
        QCOMPARE(screen->lowerView->scene(), screen->lowerScene);
        QCOMPARE(screen->rightView->scene(), screen->rightScene);
        QCOMPARE(screen->upperView->scene(), screen->upperScene);

        const QPointF left[] = {{75, 0}, {37, 0}, {0, 0}};
        const QPointF lower[] = {{0, 0}, {0, 37}, {0, 75}};
        const QPointF right[] = {{0, 0}, {37, 0}, {75, 0}};
        const QPointF upper[] = {{0, 75}, {0, 37}, {0, 0}};
        for (int i = 0; i < view_tessarocenter::ArrowCount; ++i) {
            QCOMPARE(screen->leftItems[i]->pos(), left[i]);
            QCOMPARE(screen->leftItems[i]->rotation(), 0.0);
            QCOMPARE(screen->leftItems[i]->scene(), screen->leftScene);
            QCOMPARE(screen->lowerItems[i]->pos(), lower[i]);
            QCOMPARE(screen->lowerItems[i]->rotation(), 270.0);
            QCOMPARE(screen->lowerItems[i]->scene(), screen->lowerScene);
            QCOMPARE(screen->rightItems[i]->pos(), right[i]);
            QCOMPARE(screen->rightItems[i]->rotation(), 180.0);
            QCOMPARE(screen->rightItems[i]->scene(), screen->rightScene);
            QCOMPARE(screen->upperItems[i]->pos(), upper[i]);
            QCOMPARE(screen->upperItems[i]->rotation(), 90.0);
            QCOMPARE(screen->upperItems[i]->scene(), screen->upperScene);
        }
        // Turned about their origin, the first arrow of each row lies next to the centre mark.
        QCOMPARE(screen->leftScene->itemsBoundingRect(), QRectF(0, 0, 150, 75));
        QCOMPARE(screen->leftItems[0]->sceneBoundingRect(), QRectF(75, 0, 75, 75));
        QCOMPARE(screen->rightScene->itemsBoundingRect(), QRectF(-75, -75, 150, 75));
        QCOMPARE(screen->rightItems[0]->sceneBoundingRect(), QRectF(-75, -75, 75, 75));
        QCOMPARE(screen->upperScene->itemsBoundingRect(), QRectF(-75, 0, 75, 150));
        QCOMPARE(screen->upperItems[0]->sceneBoundingRect(), QRectF(-75, 75, 75, 75));
        QCOMPARE(screen->lowerScene->itemsBoundingRect(), QRectF(0, -75, 75, 150));
        QCOMPARE(screen->lowerItems[0]->sceneBoundingRect(), QRectF(0, -75, 75, 75));
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
        const auto xRows = [](const char* left, const char* right) {
            return QStringList({left, "kkk", right, "kkk"});
        };
        const auto yRows = [](const char* lower, const char* upper) {
            return QStringList({"kkk", lower, "kkk", upper});
        };
        QTest::newRow("centre") << false << tripod << "sens:point:512:383:5:1" << xRows("kkk", "kkk");
        QTest::newRow("x 1") << false << tripod << x(1) << xRows("---", "BBB");
        QTest::newRow("x 311") << false << tripod << x(311) << xRows("---", "BBB");
        QTest::newRow("x 312") << false << tripod << x(312) << xRows("---", "BB-");
        QTest::newRow("x 411") << false << tripod << x(411) << xRows("---", "BB-");
        QTest::newRow("x 412") << false << tripod << x(412) << xRows("---", "B--");
        QTest::newRow("x 491") << false << tripod << x(491) << xRows("---", "B--");
        QTest::newRow("x 492") << false << tripod << x(492) << xRows("kkk", "kkk");
        QTest::newRow("x 532") << false << tripod << x(532) << xRows("kkk", "kkk");
        QTest::newRow("x 533") << false << tripod << x(533) << xRows("B--", "---");
        QTest::newRow("x 612") << false << tripod << x(612) << xRows("B--", "---");
        QTest::newRow("x 613") << false << tripod << x(613) << xRows("BB-", "---");
        QTest::newRow("x 712") << false << tripod << x(712) << xRows("BB-", "---");
        QTest::newRow("x 713") << false << tripod << x(713) << xRows("BBB", "---");
        QTest::newRow("x 1022") << false << tripod << x(1022) << xRows("BBB", "---");
        QTest::newRow("x 1023 keeps the rows") << false << tripod << x(1023) << xRows("kkk", "kkk");
        QTest::newRow("x 0 turns the rows off") << false << tripod << x(0) << xRows("---", "---");
        QTest::newRow("x above range keeps") << false << tripod << x(2000) << xRows("kkk", "kkk");
        QTest::newRow("x below range keeps") << false << tripod << x(-5) << xRows("kkk", "kkk");
        QTest::newRow("ceiling, smallest int x keeps") << true << tripod << x(INT_MIN) << xRows("kkk", "kkk");
        QTest::newRow("largest int x keeps") << false << tripod << x(INT_MAX) << xRows("kkk", "kkk");
        QTest::newRow("smallest int y keeps") << false << tripod << QStringLiteral("sens:point:512:%1:9:1").arg(INT_MIN)
                                               << yRows("kkk", "kkk");

        QTest::newRow("y used 1") << false << tripod << y(1) << yRows("BBB", "---");
        QTest::newRow("y used 183") << false << tripod << y(183) << yRows("BBB", "---");
        QTest::newRow("y used 184") << false << tripod << y(184) << yRows("BB-", "---");
        QTest::newRow("y used 283") << false << tripod << y(283) << yRows("BB-", "---");
        QTest::newRow("y used 284") << false << tripod << y(284) << yRows("B--", "---");
        QTest::newRow("y used 363") << false << tripod << y(363) << yRows("B--", "---");
        QTest::newRow("y used 364") << false << tripod << y(364) << yRows("kkk", "kkk");
        QTest::newRow("y used 404") << false << tripod << y(404) << yRows("kkk", "kkk");
        QTest::newRow("y used 405") << false << tripod << y(405) << yRows("---", "B--");
        QTest::newRow("y used 484") << false << tripod << y(484) << yRows("---", "B--");
        QTest::newRow("y used 485") << false << tripod << y(485) << yRows("---", "BB-");
        QTest::newRow("y used 584") << false << tripod << y(584) << yRows("---", "BB-");
        QTest::newRow("y used 585") << false << tripod << y(585) << yRows("---", "BBB");
        QTest::newRow("y used 766") << false << tripod << y(766) << yRows("---", "BBB");
        QTest::newRow("y 767 keeps the rows") << false << tripod << "sens:point:512:767:9:1" << yRows("kkk", "kkk");
        QTest::newRow("y 0 turns the rows off") << false << tripod << "sens:point:512:0:9:1" << yRows("---", "---");

        // Mount and hardware: the raw point x 100, y 100 in each combination.
        const QString corner = QStringLiteral("sens:point:100:100:9:1");
        QTest::newRow("tripod") << false << tripod << corner << QStringList({"---", "---", "BBB", "BBB"});
        QTest::newRow("ceiling") << true << tripod << corner << QStringList({"BBB", "BBB", "---", "---"});
        QTest::newRow("tripod, HW 1.0") << false << "HW 1.0" << corner << QStringList({"BBB", "BBB", "---", "---"});
        QTest::newRow("ceiling, HW 1.0") << true << "HW 1.0" << corner << QStringList({"---", "---", "BBB", "BBB"});
        QTest::newRow("tripod, hw 1.0") << false << "hw 1.0" << corner << QStringList({"---", "---", "BBB", "BBB"});
        QTest::newRow("tripod, HW 1.0 and blank") << false << "HW 1.0 " << corner
                                                  << QStringList({"---", "---", "BBB", "BBB"});
        QTest::newRow("ceiling, x 0") << true << tripod << "sens:point:0:383:9:1" << xRows("---", "---");
        QTest::newRow("ceiling, x 1023 keeps") << true << tripod << "sens:point:1023:383:9:1" << xRows("kkk", "kkk");
        QTest::newRow("HW 1.0, y 767") << false << "HW 1.0" << "sens:point:512:767:9:1"
                                       << QStringList({"kkk", "kkk", "kkk", "kkk"});
        QTest::newRow("HW 1.0, y 0") << false << "HW 1.0" << "sens:point:512:0:9:1"
                                     << QStringList({"kkk", "---", "kkk", "---"});

        QTest::newRow("x only") << false << tripod << "sens:point:600" << QStringList({"B--", "---", "---", "---"});
        QTest::newRow("no values") << false << tripod << "sens:point" << QStringList({"---", "---", "---", "---"});
        QTest::newRow("empty") << false << tripod << "" << QStringList({"---", "---", "---", "---"});
        QTest::newRow("garbage") << false << tripod << QString(64, QLatin1Char('z'))
                                 << QStringList({"---", "---", "---", "---"});
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
        screen->pointData(ceiling != (hardware == QLatin1String("HW 1.0")) ? QStringLiteral("sens:point:511:384:1:1")
                                                                           : QStringLiteral("sens:point:512:383:1:1"));
        QCOMPARE(rows(), QStringList({"kkk", "kkk", "kkk", "kkk"}));
        screen->pointData(data);
        QCOMPARE(rows(), expected);
    }

    void rowsFollowThePoint()
    {
        // Arrows that were bad go back to off or okay as the pen moves.
        screen->pointData(QStringLiteral("sens:point:100:700:9:1"));
        QCOMPARE(rows(), QStringList({"---", "BBB", "BBB", "---"}));
        screen->pointData(QStringLiteral("sens:point:560:300:9:1"));
        QCOMPARE(rows(), QStringList({"B--", "---", "---", "B--"}));
        screen->pointData(QStringLiteral("sens:point:512:383:9:1"));
        QCOMPARE(rows(), QStringList({"kkk", "kkk", "kkk", "kkk"}));
        screen->pointData(QString());
        QCOMPARE(rows(), QStringList({"---", "---", "---", "---"}));
    }

    void labels_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("full") << "sens:point:512:384:10:1" << QStringList({"512", "384", "10"});
        QTest::newRow("text as is") << "sens:point: 1:x:-2" << QStringList({" 1", "x", "-2"});
        QTest::newRow("x only") << "sens:point:7" << QStringList({"7", "", ""});
        QTest::newRow("empty") << "" << QStringList({"", "", ""});
        QTest::newRow("garbage") << QString(64, QLatin1Char('z')) << QStringList({"", "", ""});
    }

    void labels()
    {
        QFETCH(QString, data);
        QFETCH(QStringList, labels);
        screen->pointData(QStringLiteral("sens:point:1:1:1:1"));
        screen->pointData(data);
        QCOMPARE(QStringList({screen->xValueLabel->text(), screen->yValueLabel->text(), screen->sizeValueLabel->text()}),
                 labels);
    }

    void mountButtons()
    {
        QTest::mouseClick(screen->ceilingButton, Qt::LeftButton);
        QVERIFY(screen->ceilingMount);
        QCOMPARE(iconImage(screen->ceilingButton), image("rc/ceiling.png"));
        QCOMPARE(iconImage(screen->tripodButton), image("rc/tripod_gray.png"));
        QCOMPARE(screen->ceilingButton->iconSize(), QSize(160, 120));
        QCOMPARE(screen->tripodButton->iconSize(), QSize(160, 120));
        // The mount changes how the next point is read.
        screen->pointData(QStringLiteral("sens:point:100:383:9:1"));
        QCOMPARE(row(screen->leftItems), QStringLiteral("BBB"));

        QTest::mouseClick(screen->tripodButton, Qt::LeftButton);
        QVERIFY(!screen->ceilingMount);
        QCOMPARE(iconImage(screen->ceilingButton), image("rc/ceiling_gray.png"));
        QCOMPARE(iconImage(screen->tripodButton), image("rc/tripod.png"));
        QCOMPARE(screen->ceilingButton->iconSize(), QSize(160, 120));
        QCOMPARE(screen->tripodButton->iconSize(), QSize(160, 120));
        screen->pointData(QStringLiteral("sens:point:100:383:9:1"));
        QCOMPARE(row(screen->rightItems), QStringLiteral("BBB"));

        screen->setCeiling();
        screen->setCeiling();
        QVERIFY(screen->ceilingMount);
        screen->setTripot();
        QVERIFY(!screen->ceilingMount);
    }

    void stopHides()
    {
        screen->showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        QTest::mouseClick(buttonWithText(screen.get(), QStringLiteral("[center:stop]")), Qt::LeftButton);
        QVERIFY(!screen->isVisible());
    }

    void startCalAndCloseOrder()
    {
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        QList<bool> visibleAtStart;
        connect(screen.get(), &view_tessarocenter::startCal, this,
                [&visibleAtStart, this] { visibleAtStart << screen->isVisible(); });
        QTest::mouseClick(buttonWithText(screen.get(), QStringLiteral("[center:startcal]")), Qt::LeftButton);
        QCOMPARE(visibleAtStart, QList<bool>({true}));
        QVERIFY(!screen->isVisible());
        screen->startCalAndClose();
        QCOMPARE(visibleAtStart.size(), 2);
    }

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Escape") << int(Qt::Key_Escape) << true;
        QTest::newRow("A") << int(Qt::Key_A) << false;
        QTest::newRow("Space") << int(Qt::Key_Space) << false;
        QTest::newRow("Return") << int(Qt::Key_Return) << false;
        QTest::newRow("Left") << int(Qt::Key_Left) << false;
    }

    void keys()
    {
        QFETCH(int, key);
        QFETCH(bool, closes);
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        press.ignore();
        QApplication::sendEvent(screen.get(), &press);
        QVERIFY(press.isAccepted());
        QCOMPARE(screen->isVisible(), !closes);
        QVERIFY(!screen->ceilingMount);
        QVERIFY(sent().isEmpty());
    }

    void startCalibration()
    {
        wireCalibration();
        screen->showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        screen->pointData(QStringLiteral("sens:point:512:384:9:1"));
        QVERIFY(sent().isEmpty());
        QList<QStringList> sentAtShow;
        connect(startButton.get(), &QPushButton::clicked, this, [&sentAtShow, this] { sentAtShow << sent(); });
        QTest::mouseClick(buttonWithText(screen.get(), QStringLiteral("[center:startcal]")), Qt::LeftButton);
        QCOMPARE(sentAtShow, QList<QStringList>({{"cal:start;"}}));
        QCOMPARE(sent(), QStringList({"cal:start;"}));
        QVERIFY(calibrate->isVisible());
        QVERIFY(calibrate->isFullScreen());
        QVERIFY(!screen->isVisible());
    }

    void mountAndStopSendNothing()
    {
        wireCalibration();
        screen->show();
        QVERIFY(QTest::qWaitForWindowExposed(screen.get()));
        QTest::mouseClick(screen->ceilingButton, Qt::LeftButton);
        QTest::mouseClick(screen->tripodButton, Qt::LeftButton);
        screen->pointData(QStringLiteral("sens:point:512:384:9:1"));
        QTest::mouseClick(buttonWithText(screen.get(), QStringLiteral("[center:stop]")), Qt::LeftButton);
        QVERIFY(!screen->isVisible());
        QVERIFY(!calibrate->isVisible());
        QVERIFY(sent().isEmpty());
    }

    void nothingSentOnceUnplugged()
    {
        wireCalibration();
        sim::SimBus::instance().unplug(sensor.get());
        device->hotplugWorker();
        QVERIFY(!device->isConnected);
        // Back on the bus but not reopened: a write through a stale handle would show.
        sim::SimBus::instance().plug(sensor);
        sensor->clearLog();
        const int exchanges = sensor->exchangeCount();

        screen->showFullScreen();
        screen->pointData(QStringLiteral("sens:point:512:384:9:1"));
        QTest::mouseClick(buttonWithText(screen.get(), QStringLiteral("[center:startcal]")), Qt::LeftButton);
        QVERIFY(calibrate->isVisible());
        QVERIFY(!screen->isVisible());
        QCOMPARE(sensor->exchangeCount(), exchanges);
        QVERIFY(sent().isEmpty());
    }
};

TESSARO_TEST_MAIN(tst_viewtessarocenter)
#include "tst_viewtessarocenter.moc"
