#include "tessarotranslator.h"

#include "device/untrustedtext.h"
#include "device/datafile.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonDocument parseUtf8(const QByteArray& content)
{
    // Through QString so that stray invalid bytes become replacement characters
    // instead of making the whole file unreadable.
    return QJsonDocument::fromJson(QString::fromUtf8(content).toUtf8());
}

// Non-string members and members of non-objects read as empty strings.
QString member(const QJsonValue& element, const char* name)
{
    return element.toObject().value(QLatin1String(name)).toString();
}

} // namespace

// The installed translator must outlive every window, so it never takes an owner.
tessaroTranslator::tessaroTranslator(QObject* /*parent*/)
    : QTranslator(nullptr)
{
}

LangMap tessaroTranslator::getAvaibleLanguages()
{
    const QString path = QString::fromLatin1(TessaroLang::CataloguePath);
    bool read = false;
    const QByteArray content = DataFile::read(path, &read);
    if (!read)
        qDebug().noquote() << "language catalogue not read (missing, not a file, or too large):" << path;
    const QJsonDocument document = parseUtf8(content);
    if (document.isNull())
        return languages;

    const QJsonArray langs = document.object().value(QLatin1String("langs")).toArray();
    for (const QJsonValue& element : langs) {
        // A stray number or string in the list would give a blank menu entry.
        if (!element.isObject())
            continue;
        const Language language{member(element, "code"), member(element, "name"), member(element, "intname"),
                                member(element, "file")};
        // A language's file lies in the language folder, not elsewhere.
        if (!language.file.isEmpty() && !DataFile::isBareName(language.file)) {
            qDebug().noquote() << "language refused, its file is not a bare file name:"
                               << language.file.toUtf8().toPercentEncoding("/ .");
            continue;
        }
        languages.insert(language.code, language);
        qDebug().noquote() << QLatin1Char('"') + UntrustedText::shown(language.file) + QLatin1Char('"');
    }
    return languages;
}

void tessaroTranslator::loadLanguage(QString code)
{
    const Language language = languages.value(code);
    table.clear();

    // A missing file shows every text as its key, which is report enough.
    if (!DataFile::isBareName(language.file))
        return;
    const QJsonDocument document = parseUtf8(DataFile::read(QString::fromLatin1(TessaroLang::Folder) + language.file));
    if (document.isNull())
        return;

    const QJsonArray entries = document.object().value(QLatin1String("tr")).toArray();
    for (const QJsonValue& element : entries)
        table.insert(member(element, "id"), member(element, "tr"));
}

QString tessaroTranslator::translate(const char* /*context*/, const char* sourceText,
                                     const char* /*disambiguation*/, int /*n*/) const
{
    if (!sourceText)
        return QString();
    const QString key = QString::fromUtf8(sourceText);
    const QString text = table.value(key);
    return text.isEmpty() ? key : text;
}

// Never empty, even with no table: installing an empty translator reports failure and
// sends no language change, yet this one answers every key.
bool tessaroTranslator::isEmpty() const
{
    return false;
}
