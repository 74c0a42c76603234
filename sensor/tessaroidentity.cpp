#include "tessaroidentity.h"

#include "tessaroregister.h"
#include "device/tessaro.h"

#include <QDate>
#include <QLocale>

namespace {

constexpr int BuildFields = 3;

} // namespace

std::optional<QString> tessaroIdentity::parseId(const QStringList& fields)
{
    if (fields.size() > 2)
        return fields.at(2);
    return std::nullopt;
}

bool tessaroIdentity::parseVersion(const QStringList& fields)
{
    if (fields.size() <= 5)
        return false;
    hasVersion = true;
    hardware = fields.at(2);
    firmware = fields.at(3);
    build = fields.mid(4, BuildFields).join(QLatin1Char(':'));
    return true;
}

bool tessaroIdentity::read(tessaro* connection)
{
    unsigned char reply[TessaroLink::ReportBufferSize];
    if (!TessaroRegister::exchange(connection, "app:id;", reply))
        return false;
    if (const auto text = parseId(colonFields(reply)))
        id = text;
    if (!TessaroRegister::exchange(connection, "app:version;", reply))
        return false;
    parseVersion(colonFields(reply));
    return true;
}

QString tessaroIdentity::buildDate() const
{
    const QDate date = QDate::fromString(build, QStringLiteral("yyyy:MM:dd"));
    return date.isValid() ? QLocale().toString(date, QLocale::ShortFormat) : build;
}
