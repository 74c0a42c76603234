#pragma once

#include <QString>

#include <functional>

class QWidget;

// The window's blocking questions and notes, each a function that tests replace with an
// answer of their own instead of a modal dialog. Texts are shown as plain text.
class AskUser
{
public:
    // Yes or no, no being the default; true for yes.
    static std::function<bool(QWidget* parent, const QString& title, const QString& question)> confirm;
    // A result to read and acknowledge.
    static std::function<void(QWidget* parent, const QString& title, const QString& text)> tell;
    // A file to read, or to write (the dialog asks before replacing one); empty when cancelled.
    static std::function<QString(QWidget* parent, const QString& caption, const QString& path, const QString& filter)>
        openFile;
    static std::function<QString(QWidget* parent, const QString& caption, const QString& path, const QString& filter)>
        saveFile;
};
