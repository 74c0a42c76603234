#pragma once

#include <QString>
#include <QStringList>

// Status lines of a flashing sequence against the simulated bootloader's default geometry.
namespace FlashingLines {

inline QStringList geometry()
{
    return {QStringLiteral("flash size: 32768 bytes"), QStringLiteral("page size: 512 bytes"),
            QStringLiteral("page count: 64"), QStringLiteral("bootloader size: 4096 bytes")};
}

// A sequence that erased, wrote and verified the image at path.
inline QStringList success(const QString& path)
{
    return {QStringLiteral("Start flash erase"), QStringLiteral("Flash erased!"), QStringLiteral("Opening") + path,
            QStringLiteral("Start flashing"),    QStringLiteral("Flash written!"), QStringLiteral("Start Reading"),
            QStringLiteral("Flash readed!"),     QStringLiteral("Updated succesfully!")};
}

} // namespace FlashingLines
