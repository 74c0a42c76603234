#include "tessaropushbutton.h"

#include <QPointer>
#include <QThread>

tessaroPushButton::tessaroPushButton(QWidget* parent)
    : QPushButton(parent)
{
    connect(this, &QPushButton::pressed, this, &tessaroPushButton::emitCommand);
}

tessaroPushButton::tessaroPushButton(const QString& text, const QStringList& commandList, QWidget* parent)
    : QPushButton(text, parent)
    , commands(commandList)
{
    connect(this, &QPushButton::pressed, this, &tessaroPushButton::emitCommand);
}

tessaroPushButton::tessaroPushButton(const QString& text, const QString& command, QWidget* parent)
    : QPushButton(text, parent)
    , commands(command)
{
    connect(this, &QPushButton::pressed, this, &tessaroPushButton::emitCommand);
}

void tessaroPushButton::setPauseMs(int ms)
{
    m_pauseMs = qMax(0, ms);
}

void tessaroPushButton::emitCommand()
{
    // A receiver may change the list or delete the button while a command is out: the
    // size is read again each time, and a deleted button stops.
    const QPointer<tessaroPushButton> self(this);
    for (int i = 0; i < commands.size(); ++i) {
        const QString command = commands.at(i);
        const auto pause = static_cast<unsigned long>(m_pauseMs);
        emit execCommand(command);
        QThread::msleep(pause);
        if (!self)
            return;
    }
}
