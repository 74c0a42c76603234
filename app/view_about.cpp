#include "view_about.h"

#include "serviceidentity.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QSize FixedSize(300, 150);
}

view_about::view_about(QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("About"));
    setMinimumSize(FixedSize);
    setMaximumSize(FixedSize);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(tr("[title]"), this);
    title->setStyleSheet(QStringLiteral("font-size: 20px"));
    layout->addWidget(title);
    layout->addWidget(new QLabel(tr("[about]") + QStringLiteral("\r\nVersion: ") + QLatin1String(ToolVersion), this));
    statusLabel = new QLabel(this);
    layout->addWidget(statusLabel);
    layout->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("close"), this);
    layout->addWidget(close);
    connect(close, &QPushButton::clicked, this, &QObject::deleteLater);
}
