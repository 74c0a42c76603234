#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class tessaro;

// What a "pen:state;" reply says (colon fields 1 to 3).
struct tessaroPenState {
    bool valid = false;        // field 1 is "2": the fields below mean something
    bool hasBattery = false;   // field 2 is not 0
    double volts = -1.0;       // 256 / field 2 x 1.2 when hasBattery
    bool hasRunning = false;   // field 3 is not 0
    double runningHours = 0.0; // field 3 (seconds) / 3600 when hasRunning
};

// What a "pen:id;" reply says (colon fields 2 to 4).
struct tessaroPenIdentity {
    QString id;
    int pairing = 0;
    bool ready = false;        // pairing above 49
    int version = 0;           // field 4 in base 16: high byte major, low byte minor
    // "SW 01.05" for version 0x0105.
    QString versionText() const;
};

// The pen point of a "sens:point;" reply (colon fields 2 to 5; 0 = no value).
struct tessaroPenPoint {
    int x = 0;
    int y = 0;
    int size = 0;
    int number = 0;
};

// The calibration state of a "cal:state;" reply (colon fields 2 and 3).
struct tessaroCalState {
    bool running = false;
    int point = 0;
};

Q_DECLARE_METATYPE(tessaroPenState)
Q_DECLARE_METATYPE(tessaroPenIdentity)

// The data poll of a connected sensor, without any widget: each read exchanges one
// command and hands its parsed reply on as a signal; tick() runs one poll tick (point,
// pen state, pen identity, calibration state, and on every eleventh tick that gets that
// far the four corners). A failed exchange ends the tick with "Error reading Tessaro,
// ABORT!" on the debug stream; without a link nothing is sent ("Tessaro not connected,
// ABORT!"). The sensor view and tessaroctl's info and monitor use the same reads.
class tessaroPoll : public QObject
{
    Q_OBJECT
public:
    static constexpr int CornerReadEvery = 10;  // corners on every eleventh completed tick
    static constexpr int PairingReady = 49;     // pairing progress above this: pen ready

    explicit tessaroPoll(tessaro* connection, QObject* parent = nullptr);

    // One poll tick; false when it ended early (not connected, failed exchange).
    bool tick();

    bool readPoint();
    bool readPenState();
    bool readPenId();
    bool readCalState();
    // All eight corner reads; cornersRead only after every one succeeded.
    bool readCorners();

    // Reply parsing, for the reads above and for tests.
    static QString firstField(const unsigned char* reply);
    static std::optional<tessaroPenState> parsePenState(const QStringList& fields);
    static std::optional<tessaroPenIdentity> parsePenId(const QStringList& fields);
    static tessaroPenPoint parsePoint(const QString& firstField);
    static tessaroCalState parseCalState(const QString& firstField);

signals:
    void pointReply(QString data);
    void penState(tessaroPenState state);
    void penIdentity(tessaroPenIdentity identity);
    void calStateReply(QString data);
    void cornersRead(QList<int> x, QList<int> y);

private:
    bool exchange(const QByteArray& command, unsigned char* reply);

    tessaro* connection = nullptr;
};
