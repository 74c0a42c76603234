#pragma once

#include "ctldevicescan.h"
#include "update/flashlog.h"

#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

class UpdateLock;
class bootloader;
class QJsonObject;
class tessaroCtl;

// tessaroctl flash: checks the image, brings the chosen unit into its bootloader (or uses
// the bootloader already there), runs the bootloader class's own sequence (its checks of
// size and geometry come before any erase), and waits for the sensor to come back with
// its new firmware. Only a run that the bootloader reports as verified, followed by the
// sensor's return, ends with status 0. The unit's UpdateLock is held from before the
// request to restart until the run has ended or the sensor is back: while another program
// holds it, nothing is sent and the status is 1. Every run that sent a unit to its
// bootloader or used one is recorded in the update log the window writes too. A unit sent
// to its bootloader here whose image is refused before anything is erased is started again
// on the firmware it had.
class ctlFlash
{
public:
    ctlFlash(tessaroCtl* ctl, QString imagePath);
    int exec();

private:
    int flash();
    // Fails the run: the text goes to the user and into the run's record.
    int failRun(int status, const QString& text);
    void recordRun();
    bool checkImage(int* status);
    bool confirm(const ctlDevice& device, int* status);
    // Scans until exactly one ready device of the type appears that is not in before, by
    // node and serial number (a device of before that leaves meanwhile counts as new when
    // it returns): the kernel may give a re-enumerated unit the node another one just freed.
    bool waitForNew(const QString& type, QSet<QString> before, ctlDevice* found, int* status, const QString& what);
    // Identities (tessaro::deviceIdentity) of the devices of that type on the bus.
    QSet<QString> presentKeys(const QString& type) const;
    // sentHere: this run sent the unit into its bootloader, so the firmware in its flash
    // ran a moment ago; an image refused before any erase then starts it again.
    int runBootloader(ctlDevice loaderDevice, bool sentHere);
    // Waits for the end of the sequence the bootloader has started; its outcome.
    static bool waitForSequence(bootloader* loader);
    int restartPresentFirmware(bootloader* loader, const QSet<QString>& sensorsBefore, QJsonObject result);
    void showStatusLine(const QString& line);
    void showProgress(int percent);
    void endProgressLine();
    // The waits before erasing and after starting the application (bootloader::Phase).
    void showCountdown(int phase, int secondsLeft);

    tessaroCtl* ctl;
    // One claim, carried from the sensor's connection to the bootloader's.
    QSharedPointer<UpdateLock> claim;
    QString image;
    QStringList lines;
    QString pass;
    int lastPlainStep = -1;
    bool progressShown = false;
    int countdownShown = -1;
    // The unit and the outcome as far as the run got; written once a unit was involved.
    FlashLog::Run record;
    bool recordDue = false;
    // Signals the run went on through go into its record.
    QMetaObject::Connection heldReports;
};
