#pragma once

#include <QString>

class QCoreApplication;

// Installs Qt's own translations (qtbase_<code>.qm from Qt's translations folder) for the
// language code, so that Qt's dialogs speak the program's language. Install it after the
// program's translator, which answers every text it is asked for: the last installed
// translator is asked first. false when Qt has no translation for the code (nothing is
// installed then).
bool installQtTranslations(QCoreApplication* application, const QString& code);

// Qt's translations folder, where its qtbase_<code>.qm files are.
QString qtTranslationsPath();
