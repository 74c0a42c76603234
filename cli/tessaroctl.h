#pragma once

#include "ctldevicescan.h"

#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextStream>

class QIODevice;
class RegisterMap;

// tessaroctl: the sensor work of the window program from a terminal. run() takes the
// arguments after the program name and returns the exit status (CtlExit). Results go to
// out (one JSON document with --json; monitor writes one JSON object per line), messages
// to err, answers to questions come from in. Runs its own event loops where it waits, so
// it needs a QCoreApplication but no running loop.
class tessaroCtl : public QObject
{
    Q_OBJECT
public:
    tessaroCtl(QIODevice* in, QIODevice* out, QIODevice* err, QObject* parent = nullptr);

    int run(const QStringList& arguments);

    // Where relative file arguments are found (default: the current directory).
    void setCallerDir(const QString& dir) { callerDir = dir; }
    // out is a terminal: flash draws a progress bar instead of plain lines.
    void setTerminal(bool on) { terminal = on; }
    // in is a terminal: flash may ask instead of requiring --yes.
    void setInteractive(bool on) { interactive = on; }

    // Waits of the flashing run, shortened by tests: the bootloader's settle time, how
    // long a device may take to come back in its other role, and the monitor's period.
    void setSettleTimeMs(int ms) { settleMs = ms; }
    void setReturnTimeoutMs(int ms) { returnTimeoutMs = ms; }
    void setPollPeriodMs(int ms) { pollPeriodMs = ms; }

    static QString usage();

    // Output that was lost: a write or flush of out failed (full disk, closed pipe).
    bool outputFailed() const;

public slots:
    // SIGINT or SIGTERM: stops a wait (prompt, device selection, a wait for a device,
    // monitor); while a unit is being flashed it is reported and the run goes on, as are
    // SIGHUP and SIGPIPE then.
    void interrupt(int signalNumber);

signals:
    void stopping();
    // A signal the flashing run went on through, in the words told to the user.
    void heldThrough(const QString& text);

private:
    friend class ctlFlash;

    int list();
    int info();
    int get(const QStringList& names);
    int set(const QStringList& assignments);
    int dump();
    int report(const QStringList& files);
    int load(const QStringList& files);
    int preset(const QStringList& names);
    int easy(const QStringList& positions);
    int monitor();
    int flash(const QStringList& images);

    // Picks the one ready device of the wanted kinds (--device or the only candidate),
    // with its connection open; else reports and returns the exit status in *status.
    bool selectDevice(const QStringList& types, ctlDevice* chosen, int* status);
    bool selectSensor(ctlDevice* chosen, int* status);
    // The parameter file of the chosen sensor; null document reported as RefusedInput.
    bool loadModel(const ctlDevice& sensor, QJsonObject* file, int* status);
    // Writes each value, reads each back, commits on --commit.
    int writeRegisters(const ctlDevice& sensor, const QList<QPair<const struct SensorRegister*, int>>& values);
    // "sens:commit;" then "sens:reset;", each acknowledged; else why not in *error.
    bool commitAndReset(tessaro* connection, QString* error);
    // Info and dump need the identity the scan read.
    int identityMissing(const ctlDevice& sensor);

    int fail(int status, const QString& message);
    void message(const QString& text);
    void printJson(const QJsonObject& object);
    void printLine(const QString& line);
    QString resolvePath(const QString& path) const;
    void waitMs(int ms);
    // Waits until in has a line to read; false when interrupted meanwhile.
    bool waitForInput();
    int runCommand(const QStringList& arguments);

    QTextStream in;
    QTextStream out;
    QTextStream err;
    QString callerDir;
    bool terminal = false;
    bool interactive = false;
    int settleMs = -1;  // the bootloader's default
    int returnTimeoutMs = 30000;
    int pollPeriodMs = 100;

    bool json = false;
    // monitor: one compact JSON object per line, errors included.
    bool jsonLines = false;
    bool commit = false;
    bool yes = false;
    bool force = false;
    QString devicePath;
    int count = 0;

    bool stopRequested = false;
    // A unit is being erased, written or verified: signals no longer stop anything.
    bool uninterruptible = false;
    QSet<int> signalsHeld;
};
