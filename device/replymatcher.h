#pragma once

#include <QByteArray>
#include <QVector>

// Decides whether a reply read during a command's wait is that command's answer. A reply
// can come after its own wait has ended and then be read during the next command's wait;
// it must never be taken for the next command's answer.
//
// The rule, the only place it is kept:
// - Commands whose reply repeats the command's own fields before the value: register and
//   corner reads ("m:read:name;" answered "m:read:name:value…") and "app:version;"
//   (answered "app:version:…"). A reply whose leading fields differ is not theirs.
// - Every other command: its reply's form is not fixed, so a reply is refused only when
//   it repeats the fields of another command sent recently (the late answer of that one).
//   A reply that repeats the command's own fields is always its own.
// Fields are the text before the first ";" split at ":", as the callers parse them.
class ReplyMatcher
{
public:
    // Remembers a command as written to the device.
    void commandSent(const QByteArray& command);
    // Whether reply, read during command's wait, may be taken as its answer.
    bool accepts(const QByteArray& command, const QByteArray& reply) const;

private:
    // Enough to cover every command of a poll tick with its corner reads, several times.
    static constexpr int RecentCommands = 32;
    QVector<QByteArray> recent;  // fields parts, newest last
};
