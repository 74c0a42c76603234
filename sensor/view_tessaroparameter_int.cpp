#include "view_tessaroparameter_int.h"

#include "device/tessaro.h"
#include "sensor/tessaroregister.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QSlider>
#include <QSpinBox>

namespace {
constexpr int SpinBoxMinimumWidth = 50;
}

view_tessaroParameter_int::view_tessaroParameter_int(QWidget* parent, tessaro* device,
                                                     const QString& moduleName, const QString& registerName,
                                                     int minimum, int maximum)
    : QWidget(parent)
    , module(moduleName)
    , regname(registerName)
    , connection(device)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    slider = new QSlider(Qt::Horizontal, this);
    spinBox = new QSpinBox(this);
    spinBox->setMinimumWidth(SpinBoxMinimumWidth);
    layout->addWidget(slider);
    layout->addWidget(spinBox);

    // Maximum first: a file's range is taken as it is, the widgets settle any conflict.
    slider->setMaximum(maximum);
    slider->setMinimum(minimum);
    spinBox->setMaximum(maximum);
    spinBox->setMinimum(minimum);

    connect(spinBox, qOverload<int>(&QSpinBox::valueChanged), slider, &QSlider::setValue);
    connect(slider, &QSlider::valueChanged, spinBox, &QSpinBox::setValue);

    if (device)
        connect(device, &tessaro::connectedLoad, this, &view_tessaroParameter_int::connected);
}

void view_tessaroParameter_int::connected()
{
    std::optional<int> value;
    if (!TessaroRegister::read(connection, module, regname, &value))
        return;
    // The slider clamps the value into its range; the spin box follows.
    if (value)
        slider->setValue(*value);
    // Only now, so that showing the value read is never written back.
    connectCommit();
}

void view_tessaroParameter_int::disconnected()
{
}

void view_tessaroParameter_int::updateValue()
{
    TessaroRegister::write(connection, module, regname, slider->sliderPosition());
}

void view_tessaroParameter_int::connectCommit()
{
    // Once per editor: every re-read comes here again, and one user action must write once.
    if (commitConnected)
        return;
    commitConnected = true;
    // Mouse release and finished editing only: keyboard, wheel and page steps move the
    // slider without writing.
    connect(slider, &QSlider::sliderReleased, this, &view_tessaroParameter_int::updateValue);
    connect(spinBox, &QSpinBox::editingFinished, this, &view_tessaroParameter_int::updateValue);
}
