#include "view_about.h"

#include "serviceidentity.h"
#include "device/translatedtext.h"

#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QSize FixedSize(300, 150);
// The title's size against the application font, so that it stays the larger at any dpi.
constexpr qreal TitleScale = 1.5;

QFont scaledFont(QFont font, qreal factor)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    return font;
}
}

view_about::view_about(QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(tr("[about:title]"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(tr("[title]"), this);
    title->setFont(scaledFont(title->font(), TitleScale));
    layout->addWidget(title);
    layout->addWidget(new QLabel(tr("[about]") + QStringLiteral("\r\n")
                                    + fillTranslation(tr("[about:version]"), {QLatin1String(ToolVersion)}),
                                this));
    statusLabel = new QLabel(this);
    // Filled later with one of the two texts: room for the longer one.
    int widest = 0;
    for (const QString& text : {tr("[menu:info:about:uptodate]"), tr("[menu:info:about:newsoft]")}) {
        statusLabel->setText(text);
        widest = qMax(widest, statusLabel->sizeHint().width());
    }
    statusLabel->clear();
    statusLabel->setMinimumWidth(widest);
    layout->addWidget(statusLabel);
    layout->addStretch(1);
    auto* close = new QPushButton(tr("[about:close]"), this);
    layout->addWidget(close);
    connect(close, &QPushButton::clicked, this, &QObject::deleteLater);

    // Not resizable; larger than usual only where a large font or a long text needs it.
    ensurePolished();
    setFixedSize(FixedSize.expandedTo(sizeHint()));
}

void view_about::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
