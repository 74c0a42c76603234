#include "view_legacy.h"

#include "app/serviceidentity.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {
// Stretch around the middle cells keeps the text and the button together in the centre.
constexpr int OuterStretch = 100;
}

view_legacy::view_legacy(QWidget* parent)
    : QWidget(parent)
{
    grid = new QGridLayout(this);
    textLabel = new QLabel(tr("[legacy:text]"), this);
    grid->addWidget(textLabel, 1, 1);
    updateButton = new QPushButton(tr("[legacy:update]"), this);
    grid->addWidget(updateButton, 2, 1);
    grid->setRowStretch(0, OuterStretch);
    grid->setRowStretch(3, OuterStretch);
    grid->setColumnStretch(0, OuterStretch);
    grid->setColumnStretch(2, OuterStretch);

    // Such a device tells nothing about itself: the update dialog shows and sends "none".
    sensorSw = QStringLiteral("none");
    sensorHw = QStringLiteral("none");
    sensorId = QStringLiteral("none");
}
