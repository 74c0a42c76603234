#pragma once

#include "device/programname.h"

#include <QSettings>

// The per-user INI store of the program's preferences. Every place that touches the
// settings opens its own store with these parameters. QSettings turns "@Variant(...)"
// values back into objects (a picture, a list) as it parses: a file larger than any the
// program writes, one holding such a value, or one that is not a regular file, is moved
// aside as "<file>.refused" before it is parsed, and the program starts with its defaults
// (kept in memory only when it cannot be moved aside).
class appSettings : public QSettings
{
public:
    static constexpr const char* Organisation = programName::Organisation;
    static constexpr const char* Application = programName::Application;
    static constexpr char LangKey[] = "lang";
    static constexpr char DefaultLang[] = "nl";
    static constexpr char WindowGroup[] = "mainwindow";
    static constexpr char SizeKey[] = "size";
    static constexpr char PosKey[] = "pos";
    // The folder of the firmware image chosen last.
    static constexpr char ImageFolderKey[] = "update/imagefolder";
    // The program writes a few hundred bytes.
    static constexpr qint64 MaxFileBytes = 8 * 1024;

    // Names tried for the refused file beside it ("<file>.refused", "<file>.refused.1", ...).
    static constexpr int MaxAsideNames = 4;

    explicit appSettings(QObject* parent = nullptr);

    // The settings file, below the user's configuration folder.
    static QString filePath();

    // The language code of the run ("lang", default "nl"); a value that is no text is none.
    QString language() const;
    // A text value; the fallback when the key is missing or holds no text.
    QString text(const QString& key, const QString& fallback = QString()) const;

private:
    // filePath(), after moving a file aside that must not be parsed.
    static QString checkedFilePath();
    // Moves a refused file to a free "<file>.refused[.N]"; empty when it cannot be moved.
    static QString movedAside(const QString& path);
};
