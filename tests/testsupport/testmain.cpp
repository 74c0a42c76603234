#include "testmain.h"

#include "app/askuser.h"

namespace {

QtMessageHandler qtTestHandler = nullptr;

void filterPlatformNoise(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg
        && (message == QLatin1String("This plugin does not support propagateSizeHints()")
            || message == QLatin1String("This plugin does not support raise()")))
        return;
    if (qtTestHandler)
        qtTestHandler(type, context, message);
}

} // namespace

void TestSupport::installPlatformNoiseFilter()
{
    qtTestHandler = qInstallMessageHandler(filterPlatformNoise);
}

QStringList TestSupport::Dialogs::shown;
bool TestSupport::Dialogs::confirmAnswer = true;
QString TestSupport::Dialogs::fileAnswer;

void TestSupport::Dialogs::install()
{
    AskUser::confirm = [](QWidget*, const QString& title, const QString& question) {
        shown << title + QLatin1String(": ") + question;
        return confirmAnswer;
    };
    AskUser::tell = [](QWidget*, const QString& title, const QString& text) { shown << title + QLatin1String(": ") + text; };
    AskUser::openFile = [](QWidget*, const QString&, const QString&, const QString&) { return fileAnswer; };
    AskUser::saveFile = AskUser::openFile;
}
