#include "app/appsettings.h"
#include "app/logformat.h"
#include "app/view_main.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    installLogFormat();
    QApplication application(argc, argv);
    int status = 0;
    {
        appSettings settings;
        const QString language = settings.language();
        Q_UNUSED(language)
        viewMain window;
        window.show();
        status = application.exec();
    }
    return status;
}
