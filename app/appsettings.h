#pragma once

#include <QSettings>

// The per-user INI store of the program's preferences. Every place that touches the
// settings opens its own store with these parameters.
class appSettings : public QSettings
{
public:
    static constexpr char Organisation[] = "Corvanel";
    static constexpr char Application[] = "TessaroUtility";
    static constexpr char LangKey[] = "lang";
    static constexpr char DefaultLang[] = "nl";
    static constexpr char WindowGroup[] = "mainwindow";
    static constexpr char SizeKey[] = "size";
    static constexpr char PosKey[] = "pos";
    // The folder of the firmware image chosen last.
    static constexpr char ImageFolderKey[] = "update/imagefolder";

    explicit appSettings(QObject* parent = nullptr);

    // The language code of the run ("lang", default "nl").
    QString language() const;
};
