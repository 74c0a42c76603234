// Lets scripts drive the window of either program (the tool, and its demo against the
// simulated sensor) through TESSARO_DEMO_ACTION: "quit" closes the main window as soon as
// the event loop runs, "quit:<ms>" that many milliseconds later (the window stays up for
// measurements and checks, then the program ends as after a normal close), and
// "lang:<code>" picks a language from the menu.
#include "app/view_main.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QTimer>

namespace {

constexpr char ActionVariable[] = "TESSARO_DEMO_ACTION";

viewMain* mainWindow()
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* widget : windows) {
        if (auto* window = qobject_cast<viewMain*>(widget))
            return window;
    }
    return nullptr;
}

void pickLanguage(viewMain* window, const QString& code)
{
    // The restarted program only closes again, so a script can wait for both.
    qputenv(ActionVariable, "quit");
    const auto* group = window->findChild<QActionGroup*>();
    const auto actions = group ? group->actions() : QList<QAction*>();
    for (QAction* action : actions) {
        if (action->data().toString() == code) {
            action->trigger();
            return;
        }
    }
}

void closeMainWindow()
{
    if (viewMain* window = mainWindow())
        window->close();
}

void runDemoAction()
{
    const QString action = qEnvironmentVariable(ActionVariable);
    viewMain* window = mainWindow();
    if (action.isEmpty() || !window)
        return;
    if (action == QLatin1String("quit")) {
        window->close();
    } else if (action.startsWith(QLatin1String("quit:"))) {
        bool ok = false;
        const int ms = action.mid(5).toInt(&ok);
        if (ok && ms >= 0)
            QTimer::singleShot(ms, window, &closeMainWindow);
    } else if (action.startsWith(QLatin1String("lang:"))) {
        pickLanguage(window, action.mid(5));
    }
}

void scheduleDemoAction()
{
    // Runs once the event loop has started, with the main window shown.
    QTimer::singleShot(0, &runDemoAction);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(scheduleDemoAction)
