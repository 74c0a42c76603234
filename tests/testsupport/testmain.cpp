#include "testmain.h"

namespace {

QtMessageHandler qtTestHandler = nullptr;

void filterPlatformNoise(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    if (qtTestHandler)
        qtTestHandler(type, context, message);
}

} // namespace

void TestSupport::installPlatformNoiseFilter()
{
    qtTestHandler = qInstallMessageHandler(filterPlatformNoise);
}
