#pragma once

#include <QMap>
#include <QString>
#include <QTranslator>

// Where the language data lies, relative to the program's folder (made the current one at
// start-up, see DataFile::useProgramFolder).
namespace TessaroLang {
constexpr char CataloguePath[] = "lang/lang.json";
constexpr char Folder[] = "lang/";
}

// One entry of the language catalogue.
struct Language
{
    QString code;
    QString name;    // in the language itself, shown as menu entry
    QString intname; // in English, shown in the entry's tool tip
    QString file;    // below the language folder
};

// Ordered by code, so the language menu lists the codes in ascending order.
using LangMap = QMap<QString, Language>;

// Answers every translation call of the program from one key-to-text table, whatever
// the context: the code writes its texts as keys such as "[menu:file]", and a key
// without a text is shown as itself.
class tessaroTranslator : public QTranslator
{
    Q_OBJECT
public:
    explicit tessaroTranslator(QObject* parent = nullptr);

    // Adds the languages listed in the catalogue file to this translator's catalogue
    // and returns a copy of it. loadLanguage() finds its file only through this.
    LangMap getAvaibleLanguages();

    // Replaces the table by the texts of the language with this code.
    void loadLanguage(QString code);

    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override;

private:
    LangMap languages;
    QMap<QString, QString> table;
};
