// The About window.
#include "app/view_about.h"
#include "testmain.h"

#include <QLabel>
#include <QPushButton>

class tst_viewabout : public QObject
{
    Q_OBJECT

private slots:
    // A fixed size of at least 300 × 150; the frame's close deletes it, and so does the button.
    void showsVersionAndCloses()
    {
        QPointer<view_about> about = new view_about;
        about->show();
        const auto labels = about->findChildren<QLabel*>();
        QCOMPARE(labels.at(1)->text(), QStringLiteral("[about]\r\n[about:version] (UTIL 2.2)"));
        QVERIFY(labels.at(0)->fontInfo().pixelSize() > labels.at(1)->fontInfo().pixelSize());
        const QSize shown = about->size();
        QVERIFY(shown.width() >= 300 && shown.height() >= 150);
        about->resize(600, 400);
        QCOMPARE(about->size(), shown);
        about->close();
        QTRY_VERIFY(about.isNull());
        about = new view_about;
        about->show();
        about->findChild<QPushButton*>()->click();
        QTRY_VERIFY(about.isNull());
    }
};

TESSARO_TEST_MAIN(tst_viewabout)
#include "tst_viewabout.moc"
