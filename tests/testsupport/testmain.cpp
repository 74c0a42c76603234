#include "testmain.h"

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
