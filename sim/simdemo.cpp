// Linked only into the demo program: plugs in a sensor that matches the sample catalogue
// before the program starts looking for one, and lets scripts drive the window through
// TESSARO_DEMO_ACTION ("quit", or "lang:<code>" to pick a language from the menu).
#include "simbus.h"
#include "simsensor.h"

#include "app/view_main.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QTimer>

namespace {

constexpr char ActionVariable[] = "TESSARO_DEMO_ACTION";

struct DemoSensor {
    DemoSensor() { sim::SimBus::instance().plug(std::make_shared<sim::SimSensor>()); }
};

const DemoSensor demoSensor;

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

void runDemoAction()
{
    const QString action = qEnvironmentVariable(ActionVariable);
    viewMain* window = mainWindow();
    if (action.isEmpty() || !window)
        return;
    if (action == QLatin1String("quit"))
        window->close();
    else if (action.startsWith(QLatin1String("lang:")))
        pickLanguage(window, action.mid(5));
}

void scheduleDemoAction()
{
    // Runs once the event loop has started, with the main window shown.
    QTimer::singleShot(0, &runDemoAction);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(scheduleDemoAction)
