#include "view_tessarocalibrate.h"

#include "largetext.h"
#include "app/plainlabel.h"
#include "device/tessaro.h"
#include "device/untrustedtext.h"
#include "live/tessaropushbutton.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QShowEvent>
#include <QStringList>
#include <QTimer>

namespace {

const char* const PictureStyle = "border-style: none; background: transparent";
constexpr int LiveMinimumWidth = 150;
constexpr int CentreStretch = 1000;
constexpr int ButtonWidthInChars = 14;
constexpr int ButtonHeightInLines = 2;

using Corner = view_tessarocalibrate::Corner;
using Picture = view_tessarocalibrate::Picture;

// Mirroring per corner (horizontal, vertical): the pictures point to the top-left corner.
constexpr bool MirrorHorizontal[view_tessarocalibrate::CornerCount] = {false, true, false, true};
constexpr bool MirrorVertical[view_tessarocalibrate::CornerCount] = {false, false, true, true};

// Pictures by the corner the sensor waits for, in corner order top left, top right,
// bottom left, bottom right; the sensor visits the corners clockwise. Row 0 is any
// other point.
constexpr Picture PointPictures[5][view_tessarocalibrate::CornerCount] = {
    {Picture::Todo, Picture::Todo, Picture::Todo, Picture::Todo},
    {Picture::Active, Picture::Todo, Picture::Todo, Picture::Todo},
    {Picture::Done, Picture::Active, Picture::Todo, Picture::Todo},
    {Picture::Done, Picture::Done, Picture::Todo, Picture::Active},
    {Picture::Done, Picture::Done, Picture::Active, Picture::Done},
};

QLabel* liveLabel()
{
    auto* label = new PlainLabel;
    label->setMinimumWidth(LiveMinimumWidth);
    LargeText::enlarge(label, LargeText::DistantScale);
    return label;
}

} // namespace

view_tessarocalibrate::view_tessarocalibrate(tessaro* deviceConnection, QWidget* parent)
    : QWidget(parent)
    , connection(deviceConnection)
{
    for (int corner = 0; corner < CornerCount; ++corner) {
        cornerScenes[corner] = new QGraphicsScene(0, 0, SceneSize, SceneSize, this);
        cornerViews[corner] = new QGraphicsView(cornerScenes[corner]);
    }

    arrowDone = QPixmap(QStringLiteral("rc/arrow_done.png"));
    arrowActive = QPixmap(QStringLiteral("rc/arrow_active.png"));
    arrowTodo = QPixmap(QStringLiteral("rc/arrow_todo.png"));
    const QImage loaded[PictureCount] = {arrowTodo.toImage(), arrowActive.toImage(), arrowDone.toImage()};
    for (int corner = 0; corner < CornerCount; ++corner) {
        for (int picture = 0; picture < PictureCount; ++picture)
            m_pictures[corner][picture] =
                QPixmap::fromImage(loaded[picture].mirrored(MirrorHorizontal[corner], MirrorVertical[corner]));
        arrowItems[corner] = cornerScenes[corner]->addPixmap(m_pictures[corner][Todo]);
    }

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* centre = new QWidget;
    grid->addWidget(cornerViews[TopLeft], 0, 0);
    grid->addWidget(cornerViews[TopRight], 0, 2);
    grid->addWidget(cornerViews[BottomLeft], 2, 0);
    grid->addWidget(cornerViews[BottomRight], 2, 2);
    grid->addWidget(centre, 1, 1);
    // Between the top corners, where the eye starts; the arrows say which corner.
    instructionLabel = new QLabel(tr("[cal:instruction]"));
    instructionLabel->setAlignment(Qt::AlignCenter);
    instructionLabel->setWordWrap(true);
    LargeText::enlarge(instructionLabel, LargeText::InstructionScale);
    grid->addWidget(instructionLabel, 0, 1);
    grid->setRowStretch(1, CentreStretch);
    grid->setColumnStretch(1, CentreStretch);

    xLabel = liveLabel();
    yLabel = liveLabel();
    sizeLabel = liveLabel();
    abortButton = new tessaroPushButton(tr("[cal:abort]"), QStringLiteral("cal:abort;"));
    restartButton = new tessaroPushButton(
        tr("[cal:restart]"), QStringList({QStringLiteral("cal:abort;"), QStringLiteral("cal:start;")}));
    auto* centreGrid = new QGridLayout(centre);
    centreGrid->addWidget(xLabel, 0, 0);
    centreGrid->addWidget(yLabel, 0, 1);
    centreGrid->addWidget(sizeLabel, 0, 2);
    // Large enough to hit from the pen's distance, side by side in the middle of the screen.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(CentreStretch);
    for (tessaroPushButton* button : {restartButton, abortButton}) {
        LargeText::enlarge(button, LargeText::InstructionScale);
        button->setMinimumWidth(button->fontMetrics().averageCharWidth() * ButtonWidthInChars);
        button->setMinimumHeight(button->fontMetrics().height() * ButtonHeightInLines);
        buttons->addWidget(button);
    }
    buttons->addStretch(CentreStretch);
    centreGrid->addLayout(buttons, 1, 0, 1, 3);

    // The connection refuses commands once its link is closed, so the buttons need no
    // guard of their own.
    if (connection) {
        connect(abortButton, &tessaroPushButton::execCommand, connection.data(), &tessaro::execCommand);
        connect(restartButton, &tessaroPushButton::execCommand, connection.data(), &tessaro::execCommand);
    }
    connect(abortButton, &QPushButton::pressed, this, &view_tessarocalibrate::noteAbort);
    connect(abortButton, &QPushButton::clicked, this, &view_tessarocalibrate::close);

    m_closeTimer = new QTimer(this);
    m_closeTimer->setSingleShot(true);
    connect(m_closeTimer, &QTimer::timeout, this, &view_tessarocalibrate::close);

    for (QGraphicsView* view : cornerViews) {
        view->setStyleSheet(QLatin1String(PictureStyle));
        // Exactly the scene: the arrows sit in the screen corners, never behind scroll bars.
        view->setFixedSize(SceneSize, SceneSize);
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->show();
    }
}

void view_tessarocalibrate::setFinishCloseMs(int ms)
{
    m_finishCloseMs = qMax(0, ms);
}

void view_tessarocalibrate::showPicture(Corner corner, Picture picture)
{
    if (m_shown[corner] == picture)
        return;
    m_shown[corner] = picture;
    arrowItems[corner]->setPixmap(m_pictures[corner][picture]);
}

void view_tessarocalibrate::CalibrationState(int state, int point)
{
    if (state != 0) {
        // A report of "not running" in between (one reply lost) was no end.
        m_closeTimer->stop();
        if (finishShown)
            instructionLabel->setText(tr("[cal:instruction]"));
        finishShown = false;
        m_lastPoint = point;
        const int row = point >= 1 && point <= 4 ? point : 0;
        for (int corner = 0; corner < CornerCount; ++corner)
            showPicture(static_cast<Corner>(corner), PointPictures[row][corner]);
        return;
    }
    if (finishShown)
        return;
    finishShown = true;
    for (int corner = 0; corner < CornerCount; ++corner)
        showPicture(static_cast<Corner>(corner), Done);
    // Said on the screen and, once it has closed, in the sensor view: taken only when the
    // sensor left its last corner with nobody aborting.
    const QString said = !m_abortSent && m_lastPoint == LastPoint ? tr("[cal:finished]") : tr("[cal:ended]");
    instructionLabel->setText(said);
    emit calibrationEnded(said);
    // Leaves the finished picture on screen for a moment.
    m_closeTimer->start(m_finishCloseMs);
}

void view_tessarocalibrate::LivePoint(QString text)
{
    // A short text leaves the missing values empty behind their captions.
    const QStringList fields = text.split(QLatin1Char(':'));
    xLabel->setText(QStringLiteral("X: ") + UntrustedText::shown(fields.value(2)));
    yLabel->setText(QStringLiteral("Y: ") + UntrustedText::shown(fields.value(3)));
    sizeLabel->setText(tr("[cal:size]") + QLatin1Char(' ') + UntrustedText::shown(fields.value(4)));
}

void view_tessarocalibrate::noteAbort()
{
    m_abortSent = true;
}

void view_tessarocalibrate::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Shown for a new run: the close of the last one must not end it.
    m_closeTimer->stop();
    m_abortSent = false;
    instructionLabel->setText(tr("[cal:instruction]"));
}

void view_tessarocalibrate::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        close();
    // Other keys end here: a full-screen window has nobody to pass them to.
    event->accept();
}
