#include "app/appsettings.h"
#include "app/grouptitlestyle.h"
#include "app/logformat.h"
#include "app/qttranslations.h"
#include "app/tessarotranslator.h"
#include "app/view_main.h"
#include "device/datafile.h"

#include <QApplication>
#include <QLocale>

namespace {
// The one translator of the process, installed for the whole run.
tessaroTranslator* translator = nullptr;
}

int main(int argc, char* argv[])
{
    installLogFormat();
    QApplication application(argc, argv);
    GroupTitleStyle::install();
    // sensors/, lang/ and rc/ beside the program, wherever it was started from.
    DataFile::useProgramFolder();
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
