// The About window.
#include "app/view_about.h"
#include "testmain.h"

#include <QLabel>
#include <QPushButton>

class tst_viewabout : public QObject
{
    Q_OBJECT

private slots:
    void contents()
    {
        view_about about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
        const auto labels = about.findChildren<QLabel*>();
        QCOMPARE(labels.size(), 3);
        QCOMPARE(labels.at(0)->text(), QStringLiteral("[title]"));
        QVERIFY(labels.at(0)->fontInfo().pixelSize() > labels.at(1)->fontInfo().pixelSize());
        QCOMPARE(labels.at(1)->text(), QStringLiteral("[about]\r\nVersion: UTIL 2.2"));
        QVERIFY(about.statusLabel->text().isEmpty());
        QCOMPARE(about.findChild<QPushButton*>()->text(), QStringLiteral("close"));
    }

    void cannotBeResized()
    {
        view_about about;
        about.show();
        // 300 × 150, or more where the font needs it.
        const QSize shown = about.size();
        QVERIFY(shown.width() >= 300 && shown.height() >= 150);
        about.resize(600, 400);
        QCOMPARE(about.size(), shown);
    }

    void closeButtonDeletesTheWindow()
    {
        QPointer<view_about> about = new view_about;
        about->show();
        about->findChild<QPushButton*>()->click();
        QTRY_VERIFY(about.isNull());
    }

    void frameCloseOnlyHides()
    {
        QPointer<view_about> about = new view_about;
        about->show();
        about->close();
        QCoreApplication::processEvents();
        QVERIFY(!about.isNull());
        delete about;
    }
};

TESSARO_TEST_MAIN(tst_viewabout)
#include "tst_viewabout.moc"
