// tessaroctl: the command-line face of TessaroUtility.
#include "tessaroctl.h"
#include "app/logformat.h"
#include "device/untrustedtext.h"
#include "device/datafile.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
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

void stopOnSignal(int)
{
    tessaroCtl::requestStop();
}

} // namespace

int main(int argc, char* argv[])
{
    installLogFormat();
    qInstallMessageHandler(handleMessage);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaroctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    verbose = arguments.contains(QStringLiteral("--verbose")) || arguments.contains(QStringLiteral("-v"));

    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);

    // Data files (sensors/) beside the executable, as for the window program; file
    // arguments where the user is.
    const QString callerDir = DataFile::useProgramFolder();

    QFile input;
    QFile output;
    QFile errors;
    input.open(stdin, QIODevice::ReadOnly);
    output.open(stdout, QIODevice::WriteOnly);
    errors.open(stderr, QIODevice::WriteOnly);
    tessaroCtl ctl(&input, &output, &errors);
    ctl.setCallerDir(callerDir);
    ctl.setInteractive(::isatty(STDIN_FILENO) == 1);
    ctl.setTerminal(::isatty(STDOUT_FILENO) == 1);
    return ctl.run(arguments);
}
