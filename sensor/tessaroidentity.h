#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class tessaro;

// A sensor's identity as it answers "app:id;" (identifier in colon field 2) and
// "app:version;" (hardware version in field 2, firmware in field 3, build in fields 4 to 6,
// taken only from a reply of more than five fields).
struct tessaroIdentity {
    std::optional<QString> id;
    bool hasVersion = false;
    QString hardware;
    QString firmware;
    QString build;

    static std::optional<QString> parseId(const QStringList& fields);
    // Fills hardware, firmware and build from a version reply that has them.
    bool parseVersion(const QStringList& fields);
    // The build as the user reads it: a date sent as "yyyy:MM:dd" in the default locale's
    // short date format, anything else as sent.
    QString buildDate() const;

    // "app:id;" then "app:version;", filling what each reply gives. false when an exchange
    // could not be made (debug line "Tessaro not connected, ABORT!" or "Error reading
    // Tessaro, ABORT!"); what was read before stays filled in.
    bool read(tessaro* connection);
};
