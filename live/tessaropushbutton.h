#pragma once

#include <QPushButton>
#include <QString>
#include <QStringList>

// Push button that hands a fixed list of commands, one by one, to whoever listens to
// execCommand() (usually the device connection) when it is pressed down, before its
// clicked() follows on release.
class tessaroPushButton : public QPushButton
{
    Q_OBJECT
public:
    // Time the sensor gets to act on one command before the next one reaches it.
    static constexpr int DefaultPauseMs = 200;

    explicit tessaroPushButton(QWidget* parent = nullptr);
    tessaroPushButton(const QString& text, const QStringList& commandList, QWidget* parent = nullptr);
    tessaroPushButton(const QString& text, const QString& command, QWidget* parent = nullptr);

    // Tests shorten the pause; the program always uses the default.
    void setPauseMs(int ms);
    int pauseMs() const { return m_pauseMs; }

    QStringList commands;

signals:
    void execCommand(QString command);

public slots:
    void emitCommand();

private:
    int m_pauseMs = DefaultPauseMs;
};
