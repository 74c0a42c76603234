#include "replymatcher.h"

namespace {

// The fields part of a command or reply: its text before the first ";". A view into text,
// not a copy: the channel asks this for every reply.
QByteArray fieldsPart(const QByteArray& text)
{
    const int end = text.indexOf(';');
    return QByteArray::fromRawData(text.constData(), end < 0 ? text.size() : end);
}

// Whether reply's leading fields are exactly fields (compared as whole fields).
bool startsWithFields(const QByteArray& reply, const QByteArray& fields)
{
    return reply.startsWith(fields) && (reply.size() == fields.size() || reply.at(fields.size()) == ':');
}

// Register reads ("sens:read:conf1thr", "cal:read:x1") and the version request.
bool repliesWithOwnFields(const QByteArray& command)
{
    if (command == "app:version")
        return true;
    const int first = command.indexOf(':');
    return first >= 0 && command.count(':') == 2 && command.mid(first + 1).startsWith("read:");
}

} // namespace

void ReplyMatcher::commandSent(const QByteArray& command)
{
    const QByteArray fields = fieldsPart(command);
    // The poll sends the same few commands over and over: those only move to the end.
    const int known = recent.indexOf(fields);
    if (known >= 0) {
        recent.move(known, recent.size() - 1);
        return;
    }
    recent.append(QByteArray(fields.constData(), fields.size()));
    if (recent.size() > RecentCommands)
        recent.removeFirst();
}

bool ReplyMatcher::accepts(const QByteArray& command, const QByteArray& reply) const
{
    const QByteArray own = fieldsPart(command);
    const QByteArray answer = fieldsPart(reply);
    if (startsWithFields(answer, own))
        return true;
    if (repliesWithOwnFields(own))
        return false;
    for (const QByteArray& other : recent) {
        if (other != own && startsWithFields(answer, other))
            return false;
    }
    return true;
}
