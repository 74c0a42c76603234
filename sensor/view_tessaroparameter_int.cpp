#include "view_tessaroparameter_int.h"

#include "device/tessaro.h"
#include "sensor/tessaroregister.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

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
    layout->addWidget(slider);
    layout->addWidget(spinBox);

    // Maximum first: a file's range is taken as it is, the widgets settle any conflict.
    slider->setMaximum(maximum);
    slider->setMinimum(minimum);
    spinBox->setMaximum(maximum);
    spinBox->setMinimum(minimum);
    // Never narrower than its longest value: a squeezed row must not show "25" for 250.
    spinBox->setMinimumWidth(qMax(SpinBoxMinimumWidth, spinBox->sizeHint().width()));
    // Typed digits are a number in the making ("1" on the way to "123"): the value changes,
    // and is written, on Enter or when the box loses focus, not digit by digit.
    spinBox->setKeyboardTracking(false);

    connect(spinBox, qOverload<int>(&QSpinBox::valueChanged), slider, &QSlider::setValue);
    connect(slider, &QSlider::valueChanged, spinBox, &QSpinBox::setValue);

    settleTimer = new QTimer(this);
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(SettleMs);
    connect(settleTimer, &QTimer::timeout, this, &view_tessaroParameter_int::updateValue);

    if (device)
        connect(device, &tessaro::connectedLoad, this, &view_tessaroParameter_int::connected);
}

void view_tessaroParameter_int::connected()
{
    // A change still settling is the user's: it goes out before the register is read again.
    if (settleTimer->isActive())
        updateValue();
    std::optional<int> value;
    if (!TessaroRegister::read(connection, module, regname, &value))
        return;
    // The slider clamps the value into its range; the spin box follows.
    if (value) {
        showingRead = true;
        slider->setValue(*value);
        showingRead = false;
    }
    // Only now, so that showing the value read is never written back.
    connectCommit();
}

void view_tessaroParameter_int::disconnected()
{
}

void view_tessaroParameter_int::updateValue()
{
    settleTimer->stop();
    if (TessaroRegister::write(connection, module, regname, slider->sliderPosition()))
        emit written();
}

void view_tessaroParameter_int::scheduleWrite()
{
    // A drag is written when the mouse lets go of the handle.
    if (showingRead || slider->isSliderDown())
        return;
    settleTimer->start();
}

void view_tessaroParameter_int::connectCommit()
{
    // Once per editor: every re-read comes here again, and one user action must write once.
    if (commitConnected)
        return;
    commitConnected = true;
    // Mouse release and finished editing write at once; keyboard, wheel and page steps
    // (of either widget: the spin box moves the slider) come step by step and are written
    // once they settle, so a held key does not flood the sensor.
    connect(slider, &QSlider::sliderReleased, this, &view_tessaroParameter_int::updateValue);
    connect(spinBox, &QSpinBox::editingFinished, this, &view_tessaroParameter_int::updateValue);
    connect(slider, &QSlider::valueChanged, this, &view_tessaroParameter_int::scheduleWrite);
}
