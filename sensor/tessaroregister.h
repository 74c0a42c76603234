#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class tessaro;

// Register commands of the parameter editors: formatting, the exchanges, and reading of
// the replies.
namespace TessaroRegister {

// "module:read:regname;" with both names as UTF-8.
QByteArray readCommand(const QString& module, const QString& regname);
// "module:write:regname:value;" with both names as UTF-8 and the value in decimal.
QByteArray writeCommand(const QString& module, const QString& regname, int value);
// Whether the text is one command: no control characters and one ';', at its end. A ';' inside would make the rest a second command.
bool isOneCommand(const QByteArray& command);
// Whether the command fits the data part of one report; a cut command could hit
// another register or write a wrong value, so a longer one must not be sent at all.
bool fitsReport(const QByteArray& command);
// The register value of a read reply: the whole reply (local 8-bit) split at ":", and
// only with more than 4 parts is part 3 taken, as a decimal (0 when it does not parse).
std::optional<int> replyValue(const unsigned char* reply);

// One command exchange as every sensor-side operation makes it: nothing is sent without
// an open link ("Tessaro not connected, ABORT!"), that is not one command (isOneCommand)
// or with a command longer than one report;
// a failed exchange logs "Error reading Tessaro, ABORT!". reply must hold 65 bytes.
bool exchange(tessaro* connection, const QByteArray& command, unsigned char* reply);

// The editors' exchanges over connection. Nothing is sent without an open link or with a
// command longer than one report; each such case, and a failed exchange, gets its debug
// line. read returns whether a reply came, with its value (if it has one) in *value.
bool read(tessaro* connection, const QString& module, const QString& regname, std::optional<int>* value);
// Returns whether the command was sent and answered.
bool write(tessaro* connection, const QString& module, const QString& regname, int value);

} // namespace TessaroRegister
