// tessaroctl: the command-line face of TessaroUtility.
#include "ctlexit.h"
#include "ctlsignals.h"
#include "tessaroctl.h"
#include "app/logformat.h"
#include "device/untrustedtext.h"
#include "device/datafile.h"
#include "device/hidrecording.h"
#include "support/debugring.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <cstdio>
#include <unistd.h>

namespace {

bool verbose = false;

// The device link's debug lines only with --verbose; Qt's own warnings always.
void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !verbose)
        return;
    // A debug line may carry a device's reply: no terminal controls from it.
    const QByteArray line =
        UntrustedText::shown(qFormatLogMessage(type, context, text), UntrustedText::LineCap).toLocal8Bit();
    std::fprintf(stderr, "%s\n", line.constData());
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

int main(int argc, char* argv[])
{
    // Checked before anything opens a file: without a standard output, the next descriptor
    // opened (Qt's own, a device, the update log) would be number 1 and get the results.
    if (::fcntl(STDOUT_FILENO, F_GETFD) < 0) {
        std::fprintf(stderr, "tessaroctl: standard output is closed; nothing done\n");
        return 1;
    }
    installLogFormat();
    qInstallMessageHandler(handleMessage);
    // Every line, shown or not, for the support report.
    DebugRing::install();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaroctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));
    QStringList arguments = QCoreApplication::arguments().mid(1);
    verbose = arguments.contains(QStringLiteral("--verbose")) || arguments.contains(QStringLiteral("-v"));

    ctlSignals signalPipe;

    // Data files (sensors/) beside the executable, as for the window program; file
    // arguments where the user is.
    const QString callerDir = DataFile::useProgramFolder();

    // Runs until the program ends: the last close is recorded too.
    const HidRecording recording(&arguments, callerDir, QStringLiteral("tessaroctl"), QStringLiteral(TESSARO_VERSION),
                                 {QStringLiteral("-d"), QStringLiteral("--device"), QStringLiteral("-n"),
                                  QStringLiteral("--count")});
    if (!recording.ok()) {
        std::fprintf(stderr, "tessaroctl: %s\n", recording.errorText().toLocal8Bit().constData());
        return CtlExit::RefusedInput;
    }
    if (!recording.recordingProblem().isEmpty())
        std::fprintf(stderr, "tessaroctl: %s\n", recording.recordingProblem().toLocal8Bit().constData());

    QFile input;
    QFile output;
    QFile errors;
    input.open(stdin, QIODevice::ReadOnly);
    output.open(stdout, QIODevice::WriteOnly);
    errors.open(stderr, QIODevice::WriteOnly);
    int status = 0;
    bool reported = false;
    {
        tessaroCtl ctl(&input, &output, &errors);
        QObject::connect(&signalPipe, &ctlSignals::received, &ctl, &tessaroCtl::interrupt);
        ctl.setCallerDir(callerDir);
        ctl.setInteractive(::isatty(STDIN_FILENO) == 1);
        ctl.setTerminal(::isatty(STDOUT_FILENO) == 1);
        status = ctl.run(arguments);
        signalPipe.drain();
        reported = ctl.outputFailed();
    }
    output.close();
    // Some file systems report a failed write only when the file is closed.
    if ((std::fflush(stdout) != 0 || ::close(STDOUT_FILENO) != 0) && !reported) {
        std::fprintf(stderr, "tessaroctl: could not write standard output: %s\n", std::strerror(errno));
        return status == 0 ? 1 : status;
    }
    return status;
}
