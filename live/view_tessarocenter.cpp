#include "view_tessarocenter.h"

#include "largetext.h"
#include "app/plainlabel.h"
#include "device/translatedtext.h"
#include "device/untrustedtext.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

namespace {

const char* const PictureStyle = "border-style: none; background: transparent";
const char* const MountStyle = "QPushButton {border: inset; padding: 0px;}";
const char* const OldHardware = "HW 1.0"; // sees the screen turned by 180 degrees
constexpr int ValueWidth = 100;
// The widest value the sensor reports, for a value label's width in its own type.
const char* const WidestValue = "1023";
constexpr int CentreSize = 150;
constexpr int FillStretch = 100;
constexpr QSize MountIconSize(160, 120);

// Distance from the centre at which the first, second and third arrow of a row turns
// bad; within the first the point counts as centred (centre plus or minus 20).
constexpr int BadFrom[view_tessarocenter::ArrowCount] = {21, 101, 201};

// Arrow positions in their row's scene, nearest the centre mark first; the pictures
// point right, so each row is turned to point at the mark.
const QPointF LeftPositions[] = {{75, 0}, {37, 0}, {0, 0}};
const QPointF LowerPositions[] = {{0, 0}, {0, 37}, {0, 75}};
const QPointF RightPositions[] = {{0, 0}, {37, 0}, {75, 0}};
const QPointF UpperPositions[] = {{0, 75}, {0, 37}, {0, 0}};
constexpr qreal LeftRotation = 0;
constexpr qreal LowerRotation = 270;
constexpr qreal RightRotation = 180;
constexpr qreal UpperRotation = 90;

QLabel* largeLabel(const QString& text = QString())
{
    auto* label = new PlainLabel(text);
    LargeText::enlarge(label, LargeText::ValueScale);
    return label;
}

QLabel* valueLabel()
{
    QLabel* label = largeLabel();
    // Fixed, so the row does not jump with each value; wider where large type needs it.
    const int widest = label->fontMetrics().horizontalAdvance(QLatin1String(WidestValue)) + 2 * label->margin();
    label->setFixedWidth(qMax(ValueWidth, widest));
    return label;
}

// The view keeps the whole picture in sight: the layout may not squeeze it behind
// scroll bars. It may grow; its alignment then keeps the picture in line with the mark.
void fitToScene(QGraphicsView* view, const QSizeF& size)
{
    view->setStyleSheet(QLatin1String(PictureStyle));
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setMinimumSize(size.toSize());
}

QPushButton* mountButton(const QIcon& icon)
{
    auto* button = new QPushButton;
    button->setIcon(icon);
    button->setIconSize(MountIconSize);
    button->setStyleSheet(QLatin1String(MountStyle));
    return button;
}

} // namespace

view_tessarocenter::view_tessarocenter(tessaro* connection, QWidget* parent)
    : QWidget(parent)
{
    Q_UNUSED(connection)
    ceilingIcon = QIcon(QStringLiteral("rc/ceiling.png"));
    ceilingGrayIcon = QIcon(QStringLiteral("rc/ceiling_gray.png"));
    tripodIcon = QIcon(QStringLiteral("rc/tripod.png"));
    tripodGrayIcon = QIcon(QStringLiteral("rc/tripod_gray.png"));
    offPixmap = QPixmap(QStringLiteral("rc/arrow_center_off.png"));
    okayPixmap = QPixmap(QStringLiteral("rc/arrow_center_okay.png"));
    badPixmap = QPixmap(QStringLiteral("rc/arrow_center_bad.png"));

    ceilingButton = mountButton(ceilingGrayIcon);
    tripodButton = mountButton(tripodIcon);

    centerScene = new QGraphicsScene(0, 0, CentreSize, CentreSize, this);
    centerItem = centerScene->addPixmap(QPixmap(QStringLiteral("rc/center.png")));
    centerItem->setPos(0, 0);
    centerView = new QGraphicsView(centerScene);
    fitToScene(centerView, centerScene->sceneRect().size());

    leftView = arrowRow(&leftScene, leftItems, LeftPositions, LeftRotation, Qt::AlignHCenter);
    lowerView = arrowRow(&lowerScene, lowerItems, LowerPositions, LowerRotation, Qt::AlignVCenter);
    rightView = arrowRow(&rightScene, rightItems, RightPositions, RightRotation, Qt::AlignHCenter);
    upperView = arrowRow(&upperScene, upperItems, UpperPositions, UpperRotation, Qt::AlignVCenter);

    xValueLabel = valueLabel();
    yValueLabel = valueLabel();
    sizeValueLabel = valueLabel();
    auto* values = new QWidget;
    auto* topLayout = new QVBoxLayout(values);
    // One line of what to do, above all else: the arrows alone do not say it.
    hintLabel = new QLabel(tr("[center:hint:pen]"));
    LargeText::enlarge(hintLabel, LargeText::ValueScale);
    topLayout->addWidget(hintLabel);
    auto* valuesLayout = new QHBoxLayout;
    topLayout->addLayout(valuesLayout);
    valuesLayout->addWidget(largeLabel(QStringLiteral("X:")));
    valuesLayout->addWidget(xValueLabel);
    valuesLayout->addWidget(largeLabel(QStringLiteral("Y:")));
    valuesLayout->addWidget(yValueLabel);
    valuesLayout->addWidget(largeLabel(tr("[center:size]")));
    valuesLayout->addWidget(sizeValueLabel);
    valuesLayout->addStretch(FillStretch);

    auto* setup = new QWidget;
    auto* setupLayout = new QVBoxLayout(setup);
    setupLayout->setContentsMargins(0, 0, 0, 0);
    auto* setupGroup = new QGroupBox(tr("[center:setup]"));
    auto* groupLayout = new QVBoxLayout(setupGroup);
    groupLayout->addWidget(ceilingButton);
    groupLayout->addWidget(new QLabel(tr("[center:setup:info]")), 0, Qt::AlignHCenter);
    groupLayout->addWidget(tripodButton);
    setupLayout->addWidget(setupGroup);
    setupLayout->addStretch(FillStretch);

    auto* stopButton = new QPushButton(tr("[center:stop]"));
    auto* startButton = new QPushButton(tr("[center:startcal]"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(values, 0, 1, 1, 3);
    grid->addWidget(upperView, 1, 2, Qt::AlignBottom);
    grid->addWidget(leftView, 2, 1, Qt::AlignRight);
    grid->addWidget(centerView, 2, 2, Qt::AlignCenter);
    grid->addWidget(rightView, 2, 3, Qt::AlignLeft);
    grid->addWidget(lowerView, 3, 2, Qt::AlignTop);
    grid->addWidget(setup, 1, 4, 2, 1);
    grid->addWidget(stopButton, 4, 1);
    grid->addWidget(startButton, 4, 2);
    grid->setColumnStretch(0, 400);
    grid->setColumnStretch(1, 300);
    grid->setColumnStretch(3, 300);
    grid->setColumnStretch(4, 400);
    grid->setRowStretch(1, 300);
    grid->setRowStretch(3, 300);

    connect(stopButton, &QPushButton::clicked, this, &view_tessarocenter::hide);
    connect(startButton, &QPushButton::clicked, this, &view_tessarocenter::startCalAndClose);
    connect(ceilingButton, &QPushButton::clicked, this, &view_tessarocenter::setCeiling);
    connect(tripodButton, &QPushButton::clicked, this, &view_tessarocenter::setTripot);

    ceilingMount = false;
}

QGraphicsView* view_tessarocenter::arrowRow(QGraphicsScene** scene, QGraphicsPixmapItem** items,
                                            const QPointF* positions, qreal rotation, Qt::Alignment alignment)
{
    // No fixed scene rectangle: the scene grows to hold its turned arrows.
    *scene = new QGraphicsScene(this);
    for (int i = 0; i < ArrowCount; ++i) {
        items[i] = (*scene)->addPixmap(offPixmap);
        items[i]->setPos(positions[i]);
        items[i]->setRotation(rotation);
    }
    auto* view = new QGraphicsView(*scene);
    fitToScene(view, (*scene)->itemsBoundingRect().size());
    view->setAlignment(alignment);
    return view;
}

void view_tessarocenter::setCeiling()
{
    ceilingMount = true;
    ceilingButton->setIcon(ceilingIcon);
    ceilingButton->setIconSize(MountIconSize);
    tripodButton->setIcon(tripodGrayIcon);
    tripodButton->setIconSize(MountIconSize);
}

void view_tessarocenter::setTripot()
{
    ceilingMount = false;
    ceilingButton->setIcon(ceilingGrayIcon);
    ceilingButton->setIconSize(MountIconSize);
    tripodButton->setIcon(tripodIcon);
    tripodButton->setIconSize(MountIconSize);
}

void view_tessarocenter::startCalAndClose()
{
    // The start button shows the calibration screen before this one goes; a receiver
    // could delete this screen meanwhile.
    const QPointer<view_tessarocenter> self(this);
    emit startCal();
    if (self)
        hide();
}

void view_tessarocenter::setArrow(QGraphicsPixmapItem* item, Arrow* shown, Arrow arrow)
{
    // Called for twelve arrows ten times a second: only a change touches the scene.
    if (*shown == arrow)
        return;
    *shown = arrow;
    item->setPixmap(arrow == Okay ? okayPixmap : arrow == Bad ? badPixmap : offPixmap);
}

void view_tessarocenter::axisOff(QGraphicsPixmapItem** first, Arrow* firstShown, QGraphicsPixmapItem** second,
                                 Arrow* secondShown)
{
    for (int i = 0; i < ArrowCount; ++i) {
        setArrow(first[i], &firstShown[i], Off);
        setArrow(second[i], &secondShown[i], Off);
    }
}

void view_tessarocenter::showAxis(int offset, QGraphicsPixmapItem** positiveItems, Arrow* positiveShown,
                                  QGraphicsPixmapItem** negativeItems, Arrow* negativeShown)
{
    if (std::abs(offset) < BadFrom[0]) {
        for (int i = 0; i < ArrowCount; ++i) {
            setArrow(positiveItems[i], &positiveShown[i], Okay);
            setArrow(negativeItems[i], &negativeShown[i], Okay);
        }
        return;
    }
    int bad = 0;
    while (bad < ArrowCount && std::abs(offset) >= BadFrom[bad])
        ++bad;
    QGraphicsPixmapItem** badItems = offset > 0 ? positiveItems : negativeItems;
    Arrow* badShown = offset > 0 ? positiveShown : negativeShown;
    QGraphicsPixmapItem** offItems = offset > 0 ? negativeItems : positiveItems;
    Arrow* offShown = offset > 0 ? negativeShown : positiveShown;
    for (int i = 0; i < ArrowCount; ++i) {
        setArrow(badItems[i], &badShown[i], i < bad ? Bad : Off);
        setArrow(offItems[i], &offShown[i], Off);
    }
}

void view_tessarocenter::pointData(QString text)
{
    // A short text empties the missing values and reads their coordinates as 0, which
    // turns that axis's arrows off.
    const QStringList fields = text.split(QLatin1Char(':'));
    xValueLabel->setText(UntrustedText::shown(fields.value(2)));
    yValueLabel->setText(UntrustedText::shown(fields.value(3)));
    sizeValueLabel->setText(UntrustedText::shown(fields.value(4)));
    // Outside the sensor's range a value is garbage that keeps its rows as they are. Held
    // just outside, it stays outside through the mirroring below, which then cannot overflow.
    int x = qBound(-1, fields.value(2).toInt(), SensorMaxX + 1);
    int y = qBound(-1, fields.value(3).toInt(), SensorMaxY + 1);

    if (x == 0)
        axisOff(leftItems, m_left, rightItems, m_right);
    if (y == 0)
        axisOff(upperItems, m_upper, lowerItems, m_lower);

    // Into screen orientation: the sensor sees the screen mirrored one way from the
    // ceiling and the other way from a tripod; the first hardware sees it turned.
    if (ceilingMount)
        x = SensorMaxX - x;
    else
        y = SensorMaxY - y;
    if (hardwareVersion == QLatin1String(OldHardware)) {
        x = SensorMaxX - x;
        y = SensorMaxY - y;
    }

    // At the far edges, and outside the range (garbage), the rows stay as they are.
    if (x > 0 && x < SensorMaxX)
        showAxis(x - CentreX, leftItems, m_left, rightItems, m_right);
    if (y > 0 && y < SensorMaxY)
        showAxis(y - CentreY, upperItems, m_upper, lowerItems, m_lower);
    showHint();
}

void view_tessarocenter::showHint()
{
    const auto all = [](const Arrow* row, Arrow arrow) { return std::all_of(row, row + ArrowCount, [arrow](Arrow a) { return a == arrow; }); };
    const auto any = [](const Arrow* row, Arrow arrow) { return std::any_of(row, row + ArrowCount, [arrow](Arrow a) { return a == arrow; }); };
    if (any(m_left, Bad) || any(m_right, Bad) || any(m_upper, Bad) || any(m_lower, Bad))
        hintLabel->setText(tr("[center:hint:aim]"));
    else if (all(m_left, Okay) && all(m_right, Okay) && all(m_upper, Okay) && all(m_lower, Okay))
        hintLabel->setText(fillTranslation(tr("[center:hint:done]"), {tr("[center:startcal]")}));
    else
        hintLabel->setText(tr("[center:hint:pen]"));
}

void view_tessarocenter::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        close();
    // Other keys end here: a full-screen window has nobody to pass them to.
    event->accept();
}
