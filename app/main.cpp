#include "app/appsettings.h"
#include "app/grouptitlestyle.h"
#include "app/logformat.h"
#include "app/qttranslations.h"
#include "app/tessarotranslator.h"
#include "app/view_main.h"
#include "app/serviceidentity.h"
#include "device/datafile.h"
#include "device/hidrecording.h"
#include "support/debugring.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>

namespace {
// The one translator of the process, installed for the whole run.
tessaroTranslator* translator = nullptr;
}

int main(int argc, char* argv[])
{
    installLogFormat();
    // The last minutes of the debug stream, for the support report.
    DebugRing::install();
    QApplication application(argc, argv);
    GroupTitleStyle::install();
    // sensors/, lang/ and rc/ beside the program, wherever it was started from.
    const QString callerDir = DataFile::useProgramFolder();
    QStringList arguments = QCoreApplication::arguments().mid(1);
    // Outlives the window: the device's last close is recorded too.
    const HidRecording recording(&arguments, callerDir, QStringLiteral("TessaroUtility"), QLatin1String(ToolVersion));
    if (!recording.ok()) {
        std::fprintf(stderr, "TessaroUtility: %s\n", recording.errorText().toLocal8Bit().constData());
        return 2;
    }
    if (!recording.recordingProblem().isEmpty())
        std::fprintf(stderr, "TessaroUtility: %s\n", recording.recordingProblem().toLocal8Bit().constData());
    int status = 0;
    {
        appSettings settings;
        const QString language = settings.language();

        translator = new tessaroTranslator;
        translator->getAvaibleLanguages();  // fills the catalogue that loadLanguage looks in
        translator->loadLanguage(language);
        QCoreApplication::installTranslator(translator);
        // Numbers are written as in the chosen language, not as in the desktop's.
        QLocale::setDefault(QLocale(language));
        // After the program's own: Qt's dialogs (the image file dialog) in the same language.
        installQtTranslations(&application, language);

        viewMain window;
        window.show();
        status = QCoreApplication::exec();
    }
    return status;
}
