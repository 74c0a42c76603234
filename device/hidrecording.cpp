#include "hidrecording.h"

#include "datafile.h"
#include "tessaro.h"
#include "trace/hidrecorder.h"

#include <QDir>

namespace {

HidRecording::ReplayStarter replayStarter = nullptr;
const char* const RecordOption = "--record";
const char* const ReplayOption = "--replay";
const char* const RecordVariable = "TESSARO_RECORD";

} // namespace

void HidRecording::setReplayStarter(ReplayStarter starter)
{
    replayStarter = starter;
}

HidRecording::HidRecording(QStringList* arguments, const QString& callerDir, const QString& program,
                           const QString& version, const QStringList& valueOptions)
{
    QString record;
    QString replay;
    if (!takeOptions(arguments, valueOptions, &record, &replay))
        return;
    if (record.isEmpty())
        record = qEnvironmentVariable(RecordVariable);
    const QDir caller(callerDir);
    if (!record.isEmpty())
        record = caller.absoluteFilePath(record);
    if (!replay.isEmpty())
        replay = caller.absoluteFilePath(replay);
    if (!replay.isEmpty()) {
        if (!replayStarter) {
            m_error = QStringLiteral("--replay works only in the simulator builds (%1-sim)").arg(program);
            return;
        }
        if (!replayStarter(replay, &m_error))
            return;
    }
    if (!record.isEmpty()) {
        HidRecorder::Header header;
        header.program = program;
        header.version = version;
        header.catalogue = DataFile::read(QString::fromLatin1(TessaroLink::CataloguePath));
        QString problem;
        m_recording = HidRecorder::start(record, header, &problem);
        if (!m_recording)
            m_recordingProblem = QStringLiteral("not recording: %1").arg(problem);
    }
}

HidRecording::~HidRecording()
{
    if (m_recording)
        HidRecorder::stop();
}

bool HidRecording::takeOptions(QStringList* arguments, const QStringList& valueOptions, QString* record,
                               QString* replay)
{
    int at = 0;
    while (at < arguments->size() && arguments->at(at).startsWith(QLatin1Char('-')) && arguments->at(at) != QLatin1String("-")) {
        const QString option = arguments->at(at);
        QString* target = nullptr;
        QString name;
        for (const char* known : {RecordOption, ReplayOption}) {
            const QString knownName = QLatin1String(known);
            if (option == knownName || option.startsWith(knownName + QLatin1Char('='))) {
                target = known == RecordOption ? record : replay;
                name = knownName;
            }
        }
        if (!target) {
            at += valueOptions.contains(option) ? 2 : 1;
            continue;
        }
        if (option.size() > name.size()) {
            *target = option.mid(name.size() + 1);
            arguments->removeAt(at);
        } else if (at + 1 < arguments->size()) {
            *target = arguments->at(at + 1);
            arguments->removeAt(at);
            arguments->removeAt(at);
        } else {
            target->clear();
        }
        if (target->isEmpty()) {
            m_error = QStringLiteral("%1 needs a file").arg(name);
            return false;
        }
    }
    return true;
}
