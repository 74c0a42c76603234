#include "view_tessaroparameter_bool.h"

#include "device/tessaro.h"
#include "sensor/tessaroregister.h"

#include <QCheckBox>
#include <QDebug>
#include <QHBoxLayout>

view_tessaroParameter_bool::view_tessaroParameter_bool(QWidget* parent, tessaro* device,
                                                       const QString& moduleName, const QString& registerName)
    : QWidget(parent)
    , module(moduleName)
    , regname(registerName)
    , connection(device)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    checkBox = new QCheckBox(this);
    layout->addWidget(checkBox);

    if (device)
        connect(device, &tessaro::connectedLoad, this, &view_tessaroParameter_bool::connected);
}

void view_tessaroParameter_bool::connected()
{
    std::optional<int> value;
    if (!TessaroRegister::read(connection, module, regname, &value))
        return;
    if (value) {
        // Only 1 means set; any other value (2 included) shows unchecked.
        checkBox->setChecked(*value == 1);
        lastState = static_cast<int>(checkBox->checkState());
    }
    // Only now, so that the first read of a connection is never written back.
    connectCommit();
}

void view_tessaroParameter_bool::disconnected()
{
}

void view_tessaroParameter_bool::updateValue(int state)
{
    if (lastState == state)
        return;
    lastState = state;
    qDebug() << state;
    if (TessaroRegister::write(connection, module, regname, state != 0 ? 1 : 0))
        emit written();
}

void view_tessaroParameter_bool::connectCommit()
{
    // Once per editor: re-reads come here again, and one click must write once.
    if (commitConnected)
        return;
    commitConnected = true;
    connect(checkBox, &QCheckBox::stateChanged, this, &view_tessaroParameter_bool::updateValue);
}
