#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

namespace {
// The code comes from the settings file: only a language code names a file.
const QRegularExpression LanguageCode(QStringLiteral("^[A-Za-z]{2,3}(_[A-Za-z]{2,4})?$"));
}

bool installQtTranslations(QCoreApplication* application, const QString& code)
{
    if (!LanguageCode.match(code).hasMatch())
        return false;
    auto* translator = new QTranslator(application);
    if (!translator->load(QStringLiteral("qtbase_") + code, qtTranslationsPath())) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

QString qtTranslationsPath()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}
