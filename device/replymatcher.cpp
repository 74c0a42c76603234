#include "replymatcher.h"

namespace {

QStringList fieldsOf(const QByteArray& text)
{
    return QString::fromLatin1(text).split(QLatin1Char(';')).constFirst().split(QLatin1Char(':'));
}

bool startsWithFields(const QStringList& reply, const QStringList& fields)
{
    if (reply.size() < fields.size())
        return false;
    for (int i = 0; i < fields.size(); ++i) {
        if (reply.at(i) != fields.at(i))
            return false;
    }
    return true;
}

// Register reads ("sens:read:conf1thr;", "cal:read:x1;") and the version request.
bool repliesWithOwnFields(const QStringList& command)
{
    return (command.size() == 3 && command.at(1) == QLatin1String("read"))
        || command == QStringList{QStringLiteral("app"), QStringLiteral("version")};
}

} // namespace

void ReplyMatcher::commandSent(const QByteArray& command)
{
    const QStringList fields = fieldsOf(command);
    recent.removeAll(fields);
    recent.append(fields);
    if (recent.size() > RecentCommands)
        recent.removeFirst();
}

bool ReplyMatcher::accepts(const QByteArray& command, const QByteArray& reply) const
{
    const QStringList own = fieldsOf(command);
    const QStringList answer = fieldsOf(reply);
    if (startsWithFields(answer, own))
        return true;
    if (repliesWithOwnFields(own))
        return false;
    for (const QStringList& other : recent) {
        if (other != own && startsWithFields(answer, other))
            return false;
    }
    return true;
}
