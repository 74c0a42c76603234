// The shipped language files: valid, a text for every key the program shows and for every
// text of the shipped parameter files, and menu entries with mnemonics that do not clash.
#include "app/tessarotranslator.h"
#include "sensor/parameterfile.h"
#include "testmain.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>

namespace {

const QString SourceDir = QStringLiteral(TESSARO_SOURCE_DIR);
const QString DataDir = SourceDir + QStringLiteral("/data");

// A bracketed key as the first literal of tr(), QT_TR_NOOP() or the second of translate()
// and QT_TRANSLATE_NOOP(), whatever the spacing and line breaks.
const QRegularExpression TranslationCall(QStringLiteral(
    R"re((?:\b(?:tr|QT_TR_NOOP)\s*\(|\btranslate\s*\(\s*[^,;()]*,|\bQT_TRANSLATE_NOOP\s*\(\s*"[^"]*"\s*,)\s*"(\[[^"\\]*\])")re"));

// The menu bar's titles and each menu's entries: each needs a mnemonic of its own in its menu.
const QList<QStringList> Menus = {
    {"[menu:file]", "[menu:info]"},
    {"[menu:file:lang]", "[menu:file:update]", "[menu:file:exit]"},
    {"[menu:info:help]", "[menu:info:support]", "[menu:info:web]", "[menu:info:registration]", "[menu:info:about]"},
};

QSet<QString> keysIn(const QString& source)
{
    QSet<QString> keys;
    QRegularExpressionMatchIterator it = TranslationCall.globalMatch(source);
    while (it.hasNext())
        keys.insert(it.next().captured(1));
    return keys;
}

// Every key in the program's own code; sim/ and tests/ show nothing to the user.
QSet<QString> keysInProgram()
{
    QSet<QString> keys;
    for (const char* folder : {"app", "device", "sensor", "live", "update"}) {
        QDirIterator it(SourceDir + QLatin1Char('/') + QLatin1String(folder),
                        {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                keys.unite(keysIn(QString::fromUtf8(file.readAll())));
        }
    }
    return keys;
}

QJsonObject readJson(const QString& relativePath)
{
    QFile file(DataDir + QLatin1Char('/') + relativePath);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), &error);
    [&] { QVERIFY2(document.isObject(), qPrintable(relativePath + QLatin1String(": ") + error.errorString())); }();
    return document.object();
}

// The shown texts of one parameter row: caption and, for a drop-down, its choices.
void addRowTexts(const QJsonObject& parameter, QSet<QString>* texts)
{
    const QString type = ParameterFile::text(parameter.value(QLatin1String("type")));
    if (QStringList({"int", "bool", "enum"}).contains(type))
        texts->insert(ParameterFile::text(parameter.value(QLatin1String("name"))));
    for (const QJsonValue& value : type == QLatin1String("enum") ? ParameterFile::array(parameter, "values") : QJsonArray())
        texts->insert(ParameterFile::text(value.toObject().value(QLatin1String("comment"))));
}

// Group titles, captions and choices of every parameter file the shipped catalogue names.
QSet<QString> parameterTexts()
{
    QSet<QString> texts;
    const QJsonArray devices = readJson(QStringLiteral("sensors/supported.json")).value("devlist").toArray();
    for (const QJsonValue& device : devices) {
        const QString configFile = device.toObject().value("configfile").toString();
        if (configFile.isEmpty())
            continue;
        const QJsonObject file = readJson(QLatin1String(ParameterFile::Folder) + configFile);
        for (const QJsonValue& group : ParameterFile::array(file, "parameters_system")) {
            texts.insert(ParameterFile::text(group.toObject().value(QLatin1String("name"))));
            for (const QJsonValue& row : ParameterFile::array(group.toObject(), "parameters"))
                addRowTexts(row.toObject(), &texts);
        }
        for (const QJsonValue& row : ParameterFile::array(file, "parameters_advanced"))
            addRowTexts(row.toObject(), &texts);
    }
    texts.remove(QString());
    return texts;
}

// The letter after the text's '&' (a doubled one is shown, not a mnemonic); null without one.
QChar mnemonic(const QString& text)
{
    const QString single = QString(text).remove(QStringLiteral("&&"));
    const int at = single.indexOf(QLatin1Char('&'));
    return at >= 0 && at + 1 < single.size() ? single.at(at + 1).toLower() : QChar();
}

} // namespace

class tst_languages : public QObject
{
    Q_OBJECT

private slots:
    void scanFindsTranslationCalls_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("tr, spaces, class") << R"(tr ( "[a:b]" ) + view_about::tr("[y]"))" << QStringList({"[a:b]", "[y]"});
        QTest::newRow("translate, line break") << "QCoreApplication::translate(Context,\n    \"[k]\")" << QStringList({"[k]"});
        QTest::newRow("NOOPs") << R"({QT_TR_NOOP("[one]"), QT_TRANSLATE_NOOP("viewMain", "[two]")})"
                               << QStringList({"[one]", "[two]"});
        QTest::newRow("not a key, no call") << R"(tr("Update"); QLabel("[plain]"); str("[s]"); tr(key))" << QStringList();
    }

    void scanFindsTranslationCalls()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, keys);
        QStringList found(keysIn(source).values());
        found.sort();
        QCOMPARE(found, keys);
    }

    void languages_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("file");
        QSet<QString> codes;
        for (const QJsonValue& entry : readJson(QLatin1String(TessaroLang::CataloguePath)).value("langs").toArray()) {
            const QString code = entry.toObject().value("code").toString();
            QTest::newRow(qPrintable(code)) << code << entry.toObject().value("file").toString();
            QVERIFY2(!codes.contains(code), qPrintable(code + QStringLiteral(" listed twice")));
            codes.insert(code);
            for (const char* member : {"name", "intname"})
                QVERIFY2(!entry.toObject().value(QLatin1String(member)).toString().isEmpty(), qPrintable(code));
        }
        // A first run, with no setting stored, starts in Dutch.
        QVERIFY(codes.contains(QStringLiteral("nl")));
    }

    // Well-formed, each key once, a text for every key the program and the parameter files
    // show, as the program's translator loads it; mnemonics that do not clash in a menu.
    void languages()
    {
        QFETCH(QString, code);
        QFETCH(QString, file);
        const QSet<QString> shownParameterTexts = parameterTexts();
        QVERIFY(!shownParameterTexts.isEmpty());
        static const QRegularExpression bracketedKey(QStringLiteral(R"(^\[[^\[\]]+\]$)"));
        QMap<QString, QString> texts;
        const QJsonValue tr = readJson(QLatin1String(TessaroLang::Folder) + file).value("tr");
        QVERIFY2(tr.isArray(), "\"tr\" is not an array");
        for (const QJsonValue& value : tr.toArray()) {
            const QJsonObject entry = value.toObject();
            const QString id = entry.value("id").toString();
            const QString where = QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact));
            QVERIFY2(value.isObject() && entry.value("tr").isString(), qPrintable(where));
            QVERIFY2(bracketedKey.match(id).hasMatch() || shownParameterTexts.contains(id), qPrintable(where));
            QVERIFY2(!texts.contains(id), qPrintable(where + QStringLiteral(": key given twice")));
            texts.insert(id, entry.value("tr").toString());
        }

        const QSet<QString> keys = keysInProgram();
        // The main window's title is passed through the translation call from the start.
        QVERIFY(keys.contains(QStringLiteral("[title]")));
        const QString previous = QDir::currentPath();  // the program opens its data from there
        QVERIFY(QDir::setCurrent(DataDir));
        const auto restore = qScopeGuard([&previous] { QDir::setCurrent(previous); });
        tessaroTranslator translator;
        QVERIFY(translator.getAvaibleLanguages().contains(code));
        translator.loadLanguage(code);
        QStringList missing;
        for (const QString& key : keys + shownParameterTexts) {
            const QString text = texts.value(key);
            if (text.trimmed().isEmpty() || translator.translate("viewMain", key.toUtf8().constData()) != text)
                missing << key;
        }
        missing.sort();
        QVERIFY2(missing.isEmpty(), qPrintable(file + QStringLiteral(" lacks ") + missing.join(QStringLiteral(", "))));

        for (const QStringList& menu : Menus) {
            QMap<QChar, QString> taken;
            for (const QString& key : menu) {
                const QChar letter = mnemonic(texts.value(key));
                QVERIFY2(letter.isLetterOrNumber(), qPrintable(key + QStringLiteral(" has no mnemonic")));
                QVERIFY2(!taken.contains(letter), qPrintable(key + QStringLiteral(" and ") + taken.value(letter)));
                taken.insert(letter, key);
            }
        }
    }
};

TESSARO_TEST_MAIN(tst_languages)
#include "tst_languages.moc"
