#include "askuser.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
// Names and identities in the texts come from files and devices: never rich text.
int showBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}
}

std::function<bool(QWidget*, const QString&, const QString&)> AskUser::confirm =
    [](QWidget* parent, const QString& title, const QString& question) {
        return showBox(parent, QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::No)
            == QMessageBox::Yes;
    };

std::function<void(QWidget*, const QString&, const QString&)> AskUser::tell =
    [](QWidget* parent, const QString& title, const QString& text) {
        showBox(parent, QMessageBox::Information, title, text, QMessageBox::Ok, QMessageBox::Ok);
    };

std::function<QString(QWidget*, const QString&, const QString&, const QString&)> AskUser::openFile =
    [](QWidget* parent, const QString& caption, const QString& path, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, path, filter);
    };

std::function<QString(QWidget*, const QString&, const QString&, const QString&)> AskUser::saveFile =
    [](QWidget* parent, const QString& caption, const QString& path, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, path, filter);
    };
