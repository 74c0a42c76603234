#pragma once

#include <QObject>

class QSocketNotifier;

// The terminal's signals as Qt signals: the handler only writes the number into a pipe,
// whose reading end the event loop watches, so every wait (a prompt included) wakes up
// and the reaction runs as ordinary code. One instance, made by main before the work.
class ctlSignals : public QObject
{
    Q_OBJECT
public:
    explicit ctlSignals(QObject* parent = nullptr);
    ~ctlSignals() override;

    // From now on a hang-up or a closed output only reports (received) instead of ending
    // the program: once a unit is being flashed, the run must end whatever happens.
    static void holdThroughHangUp();
    // Hands on the signals still waiting in the pipe: the program may reach its end before
    // the event loop has looked at them (a closed output noticed by the last write).
    void drain();

signals:
    void received(int signalNumber);

private:
    static void handle(int signalNumber);
    static void install(int signalNumber);

    QSocketNotifier* notifier = nullptr;
};
