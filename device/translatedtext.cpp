#include "translatedtext.h"

namespace {
constexpr int MaxValues = 3;
}

QString fillTranslation(const QString& text, const QStringList& values)
{
    if (values.isEmpty())
        return text;
    bool placed = values.size() <= MaxValues;
    for (int i = 1; placed && i <= values.size(); ++i)
        placed = text.contains(QLatin1Char('%') + QString::number(i));
    if (!placed)
        return text + QStringLiteral(" (") + values.join(QStringLiteral(", ")) + QLatin1Char(')');
    // The arg() forms with several values put each in once, whatever the values hold.
    switch (values.size()) {
    case 1:
        return text.arg(values.at(0));
    case 2:
        return text.arg(values.at(0), values.at(1));
    default:
        return text.arg(values.at(0), values.at(1), values.at(2));
    }
}
