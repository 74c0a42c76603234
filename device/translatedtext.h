#pragma once

#include <QString>
#include <QStringList>

// A translated text with its values put in at %1, %2, ... A text without all of those
// places (a key that has no translation, or a translation that dropped one) shows the
// values after it in brackets, so that nothing is lost and QString::arg has nothing to
// warn about. At most three values.
QString fillTranslation(const QString& text, const QStringList& values);
