#include "firmwareimage.h"

#include "device/untrustedtext.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

QString FirmwareImage::namedFirmware(const QString& path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return QString();
    // Latin-1 keeps every byte one character, so 0x00 and 0xFF can end the match.
    // With the size given: the QByteArray overload would stop at the first zero byte.
    const QByteArray bytes = file.read(SearchBytes);
    const QString head = QString::fromLatin1(bytes.constData(), bytes.size());
    static const QRegularExpression version(QStringLiteral("SW \\d{1,3}\\.\\d{1,4}(?=[\\x{0}\\x{ff}])"));
    const QRegularExpressionMatch match = version.match(head);
    return match.hasMatch() ? UntrustedText::shown(match.captured(0), UntrustedText::LineCap) : QString();
}
