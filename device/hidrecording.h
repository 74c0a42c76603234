#pragma once

#include <QString>
#include <QStringList>

// The options --record FILE and --replay FILE of both programs (given before the command)
// and the environment variable TESSARO_RECORD=FILE. Recording runs while this object
// lives; replaying needs a simulator build, which registers how it is done.
class HidRecording
{
public:
    using ReplayStarter = bool (*)(const QString& path, QString* error);
    static void setReplayStarter(ReplayStarter starter);

    // Takes the two options out of *arguments (the program's name not included), up to the
    // first argument that is not an option; valueOptions are the other options there that
    // take a value. Then starts what they ask for, a relative FILE taken from callerDir
    // (where the user started the program, not the program's own folder).
    HidRecording(QStringList* arguments, const QString& callerDir, const QString& program, const QString& version,
                 const QStringList& valueOptions = {});
    ~HidRecording();
    HidRecording(const HidRecording&) = delete;
    HidRecording& operator=(const HidRecording&) = delete;

    // False when the options are wrong or the replay cannot start: the program must not go on.
    bool ok() const { return m_error.isEmpty(); }
    QString errorText() const { return m_error; }
    // Why a recording asked for did not start; the program goes on without it.
    QString recordingProblem() const { return m_recordingProblem; }

private:
    bool takeOptions(QStringList* arguments, const QStringList& valueOptions, QString* record, QString* replay);

    QString m_error;
    QString m_recordingProblem;
    bool m_recording = false;
};
