// The stand-in web service as a process of its own, for scripts and manual runs: prints
// its address on one line and serves until it is killed.
#include "standinservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

// "ok" and "new" are what a tester thinks in; the service answers true and false.
bool parseVerdict(const QString& value, bool* current)
{
    if (value == QLatin1String("ok")) {
        *current = true;
        return true;
    }
    if (value == QLatin1String("new")) {
        *current = false;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{time hh:mm:ss.zzz} tessaro-service: %{message}"));
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaro-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in for the maker's web service on 127.0.0.1. Prints TESSARO_SERVICE_URL=<address> "
        "on standard output, logs each request on standard error and serves until killed."));
    parser.addHelpOption();
    const QCommandLineOption firmwareOption(QStringLiteral("firmware"),
        QStringLiteral("Firmware verdict of check.php and firmware.php: ok (current) or new (newer firmware exists)."),
        QStringLiteral("ok|new"), QStringLiteral("ok"));
    const QCommandLineOption softwareOption(QStringLiteral("software"),
        QStringLiteral("Tool verdict of check.php: ok (current) or new (a newer tool exists)."),
        QStringLiteral("ok|new"), QStringLiteral("ok"));
    const QCommandLineOption offlineOption(QStringLiteral("offline"),
        QStringLiteral("Answer the connectivity probe internet.php with false."));
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Port on 127.0.0.1 (default: any free port)."), QStringLiteral("port"), QStringLiteral("0"));
    parser.addOptions({firmwareOption, softwareOption, offlineOption, portOption});
    parser.process(application);

    bool firmwareCurrent = true;
    bool toolCurrent = true;
    if (!parseVerdict(parser.value(firmwareOption), &firmwareCurrent)
        || !parseVerdict(parser.value(softwareOption), &toolCurrent)) {
        std::fprintf(stderr, "tessaro-service: --firmware and --software take ok or new\n");
        return 2;
    }
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fprintf(stderr, "tessaro-service: --port takes a number from 0 to 65535\n");
        return 2;
    }

    StandInService service;
    service.setVerdicts(firmwareCurrent, toolCurrent);
    if (parser.isSet(offlineOption))
        service.setReply(QString::fromLatin1(StandInService::InternetPath), QByteArrayLiteral("false"));
    if (!service.listen(static_cast<quint16>(port))) {
        std::fprintf(stderr, "tessaro-service: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }

    std::printf("TESSARO_SERVICE_URL=%s\n", service.baseUrl().toLocal8Bit().constData());
    std::fflush(stdout);
    return application.exec();
}
