#include "view_tessaroparameter_enum.h"

#include "device/tessaro.h"
#include "device/untrustedtext.h"
#include "sensor/tessaroregister.h"

#include <QComboBox>
#include <QDebug>
#include <QHBoxLayout>

view_tessaroParameter_enum::view_tessaroParameter_enum(QWidget* parent, tessaro* device,
                                                       const QString& moduleName, const QString& registerName,
                                                       const QMap<QString, int>& choices)
    : QWidget(parent)
    , module(moduleName)
    , regname(registerName)
    , connection(device)
    , values(choices)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    comboBox = new QComboBox(this);
    layout->addWidget(comboBox);

    // The map's key order: choices appear sorted by their (translated) text.
    for (auto it = this->values.cbegin(); it != this->values.cend(); ++it)
        comboBox->addItem(UntrustedText::shown(it.key()), it.value());

    if (device)
        connect(device, &tessaro::connectedLoad, this, &view_tessaroParameter_enum::connected);
}

void view_tessaroParameter_enum::connected()
{
    std::optional<int> value;
    if (!TessaroRegister::read(connection, module, regname, &value))
        return;
    if (value) {
        // A value without a choice leaves the selection alone.
        const int index = comboBox->findData(*value);
        if (index >= 0)
            comboBox->setCurrentIndex(index);
    }
    // Only now, so that the first read of a connection is never written back.
    connectCommit();
}

void view_tessaroParameter_enum::disconnected()
{
}

void view_tessaroParameter_enum::updateValue(int index)
{
    if (TessaroRegister::write(connection, module, regname, comboBox->itemData(index).toInt()))
        emit written();
}

void view_tessaroParameter_enum::connectCommit()
{
    // Once per editor: re-reads come here again, and one selection must write once.
    if (commitConnected)
        return;
    commitConnected = true;
    connect(comboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &view_tessaroParameter_enum::updateValue);
}
