#include "logformat.h"

#include <QString>
#include <QtGlobal>

namespace {
const char* const LogPattern =
    "%{time hh:mm:ss.zzz} %{category} %{file}:%{line} %{function}: %{message}";
}

void installLogFormat()
{
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QString::fromLatin1(LogPattern));
}
