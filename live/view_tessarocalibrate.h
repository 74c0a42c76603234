#pragma once

#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

class QGraphicsPixmapItem;
class QGraphicsScene;
class QGraphicsView;
class QKeyEvent;
class QLabel;
class QShowEvent;
class QTimer;
class tessaro;
class tessaroPushButton;

// Full-screen calibration: an arrow in each screen corner shows which corner the sensor
// waits for, which are done and which are still to do; a line that says what to do; the
// live pen point in large type; abort and restart buttons. It follows the calibration
// state that the live view derives from the poll and closes itself shortly after the
// sensor reports the end.
class view_tessarocalibrate : public QWidget
{
    Q_OBJECT
public:
    // Time the finished picture stays before the screen closes.
    static constexpr int DefaultFinishCloseMs = 1500;
    static constexpr int SceneSize = 200;

    enum Corner { TopLeft, TopRight, BottomLeft, BottomRight, CornerCount };
    enum Picture { Todo, Active, Done, PictureCount };

    explicit view_tessarocalibrate(tessaro* connection, QWidget* parent = nullptr);

    // Tests shorten the wait; the program always uses the default.
    void setFinishCloseMs(int ms);
    int finishCloseMs() const { return m_finishCloseMs; }

    // Which picture a corner shows (for tests and for skipping unchanged arrows).
    Picture shownPicture(Corner corner) const { return m_shown[corner]; }

    // Set once the finished picture is shown and the close is scheduled; cleared by every
    // report of a running calibration. Starts set: nothing is finished before a
    // calibration has been seen running.
    bool finishShown = true;
    QGraphicsView* cornerViews[CornerCount] = {};
    QGraphicsPixmapItem* arrowItems[CornerCount] = {};
    QGraphicsScene* cornerScenes[CornerCount] = {};
    QPixmap arrowDone;
    QPixmap arrowActive;
    QPixmap arrowTodo;
    QLabel* xLabel = nullptr;
    QLabel* yLabel = nullptr;
    QLabel* sizeLabel = nullptr;
    // What to do, in words, above the centre.
    QLabel* instructionLabel = nullptr;
    QPointer<tessaro> connection;
    tessaroPushButton* abortButton = nullptr;
    tessaroPushButton* restartButton = nullptr;

signals:
    // The calibration seen running has ended: what the screen said about it.
    void calibrationEnded(const QString& text);

public slots:
    void CalibrationState(int state, int point);
    // An abort was sent (here or from the sensor view): the run's end is no finished calibration.
    void noteAbort();
    void LivePoint(QString data);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showPicture(Corner corner, Picture picture);

    // Each picture mirrored for each corner, made once: the arrows are set ten times a second.
    QPixmap m_pictures[CornerCount][PictureCount];
    Picture m_shown[CornerCount] = {Todo, Todo, Todo, Todo};
    int m_finishCloseMs = DefaultFinishCloseMs;
    // The sensor's last corner; it waits for it before the calibration ends by itself.
    static constexpr int LastPoint = 4;
    int m_lastPoint = 0;
    bool m_abortSent = false;
    // The close after the finished picture; stopped by anything that says the sensor
    // calibrates (again): a running state, or the screen shown for a new run.
    QTimer* m_closeTimer = nullptr;
};
