// tessaro-screens: pictures of every screen of the tool in one language, for the README's
// contact sheet (scripts/screens puts them together). Runs the real window against the
// simulated sensor and a stand-in web service on 127.0.0.1, with the data beside it.
//   tessaro-screens <language code> <output folder>
#include "screentour.h"

#include "app/grouptitlestyle.h"
#include "app/qttranslations.h"
#include "app/tessarotranslator.h"
#include "app/view_main.h"
#include "device/datafile.h"
#include "sim/standinservice.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

// The program's debug lines would bury the one line that says what failed.
void warningsOnly(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <language code> <output folder>\n", argv[0]);
        return 2;
    }
    // Settings and the flashing log of this run stay away from the user's own.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        QDir(home.path()).mkdir(QStringLiteral("runtime"));
        QFile::setPermissions(home.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("runtime")).toLocal8Bit());
    }
    qInstallMessageHandler(warningsOnly);

    QApplication application(argc, argv);
    GroupTitleStyle::install();
    const QString language = QString::fromLocal8Bit(argv[1]);
    // The data beside the program; the output folder as the caller named it.
    const QString folder = QDir(DataFile::useProgramFolder()).absoluteFilePath(QString::fromLocal8Bit(argv[2]));

    StandInService service;
    if (!service.listen()) {
        std::fprintf(stderr, "tessaro-screens: no local port for the stand-in web service\n");
        return 1;
    }
    qputenv("TESSARO_SERVICE_URL", service.baseUrl().toLatin1());

    auto* translator = new tessaroTranslator(&application);
    translator->getAvaibleLanguages();
    translator->loadLanguage(language);
    QCoreApplication::installTranslator(translator);
    QLocale::setDefault(QLocale(language));
    installQtTranslations(&application, language);

    int status = 1;
    {
        viewMain window;
        window.show();
        ScreenTour tour(&window, &service, folder, QStringLiteral(TESSARO_DEMO_IMAGE));
        QTimer::singleShot(0, &window, [&] {
            const bool ok = tour.run();
            if (!ok)
                std::fprintf(stderr, "tessaro-screens (%s): failed at %s\n", qPrintable(language),
                             qPrintable(tour.error()));
            status = ok ? 0 : 1;
            window.close();
            QCoreApplication::exit(status);
        });
        QCoreApplication::exec();
    }
    return status;
}
