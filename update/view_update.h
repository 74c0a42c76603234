#pragma once

#include "bootloader.h"
#include "flashprogress.h"

#include <QElapsedTimer>

#include <QPointer>
#include <QSharedPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class tessaro;

// The page for a sensor in its resident HID bootloader: the update button that asks for
// an image file and starts the sequence, a translated line saying where the run stands
// (which of its three passes, the seconds left of a wait, done, or where and why it
// failed, what that left on the unit and what to do next), a warning not to unplug while
// the sequence runs, the progress of the running pass in a bar and beside it that of the
// whole run with the time left, and the flash geometry
// and every status line of the sequence in a list. After an update refused before
// anything was erased (a cancelled file dialog too), a second button offers to start
// the firmware still in the flash instead.
class view_update : public QWidget
{
    Q_OBJECT
public:
    view_update(QWidget* parent, tessaro* device);
    ~view_update() override;

    // Asks the user for the image file, starting in folder; returns an empty name when
    // cancelled. A seam, so that tests answer it instead of a modal dialog. Defaults to
    // QFileDialog::getOpenFileName.
    static std::function<QString(QWidget* parent, const QString& caption, const QString& folder, const QString& filter)>
        chooseImageFile;

    // The question asked before an image is flashed: the file's name and size, the unit
    // (its id and the firmware it runs now, when known) and the firmware the image names.
    static QString flashQuestion(const QString& imagePath, const QString& unitId, const QString& firmwareNow);
    static QString flashQuestionTitle();

    // Who the unit is, as far as the window saw it before it entered its bootloader.
    void setUnit(const QString& id, const QString& firmware);

    // Where the file dialog starts: the folder of the image chosen last (kept in the
    // settings) while it exists, else the user's home.
    static QString imageFolder();

    // The sequence's two waits (default 5 s) and its reply time limit; tests shorten them.
    void setSettleTimeMs(int ms);
    void setReplyTimeoutMs(int ms);

    // The file filter offered for the connected device: its translated name and
    // "(*.xxxx.bin)".
    QString imageFilter() const;

    // A status line of the sequence as the list shows it, in the user's language; the
    // run's lines (lastRunLines) keep the original.
    static QString shownLine(const QString& line);

    // The status lines of the last run started here (empty before any), for showing after
    // this page has gone.
    QStringList lastRunLines() const { return runLines; }
    // The image of that run and its size when the run began; empty when none was chosen.
    QString lastRunImage() const { return runImage; }
    qint64 lastRunImageSize() const { return runImageSize; }

    QWidget* container = nullptr;
    QVBoxLayout* containerLayout = nullptr;
    QHBoxLayout* buttonLayout = nullptr;
    QPushButton* updateButton = nullptr;
    QPushButton* restartButton = nullptr;
    QLabel* phaseLabel = nullptr;
    QLabel* unplugWarning = nullptr;
    QListWidget* statusList = nullptr;
    QProgressBar* progressBar = nullptr;
    // Beside it: the whole run (waits and passes) with the time left.
    QProgressBar* overallBar = nullptr;
    // Shared: a running sequence keeps the object alive after this page is gone.
    QSharedPointer<bootloader> loader;

signals:
    // A run asked for with Update() has ended: ok only after a verified run that started
    // the application; cancelled when no image file was chosen (nothing to record then).
    void updateEnded(bool ok, bool cancelled);

public slots:
    void Update();
    // Flashes imagePath without asking for a file: the update dialog has asked already.
    void flashFile(const QString& imagePath);
    // Starts the firmware still in the flash (offered after a refused update).
    void startPresentFirmware();
    void status(QString line, bool clear);

private:
    void sequenceFinished(bool ok);
    void beginRun(const QString& imagePath);
    void startRun(const QString& imagePath);
    void showPhase(bootloader::Phase phase, int secondsLeft);
    void showPhaseText(const QString& text);
    void beginOverall(const FlashProgress& plan);
    void showOverall();
    void endOverall();
    QString failureSummary() const;
    bool unitStillOnTheBus() const;

    QPointer<tessaro> device;
    bool runActive = false;
    QString runImage;
    qint64 runImageSize = 0;
    QStringList runLines;
    // The pass the run is in or was in last (1 to 3), for naming where it failed.
    int lastPass = 0;
    // A run of this page has erased: the firmware in the flash is no longer one to start.
    bool erasedHere = false;
    QString unitId;
    QString unitFirmware;
    std::optional<FlashProgress> overall;
    QElapsedTimer overallClock;
};
