// tessaro-uhid gives up root once /dev/uhid is open: to the sudo user, else nobody, for good.
#include "sim/uhidprivileges.h"
#include "testmain.h"

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

class tst_uhidprivileges : public QObject
{
    Q_OBJECT

private slots:
    void dropsRootForGood_data()
    {
        QTest::addColumn<QByteArray>("sudoUid");
        QTest::addColumn<QByteArray>("sudoGid");
        QTest::addColumn<bool>("sudoUser"); // else nobody
        QTest::newRow("the sudo user") << QByteArray("1234") << QByteArray("2345") << true;
        QTest::newRow("no sudo") << QByteArray() << QByteArray() << false;
        QTest::newRow("sudo by root") << QByteArray("0") << QByteArray("0") << false;
        QTest::newRow("not a number") << QByteArray("12x") << QByteArray("5") << false;
    }

    void dropsRootForGood()
    {
        QFETCH(QByteArray, sudoUid);
        QFETCH(QByteArray, sudoGid);
        QFETCH(bool, sudoUser);
        qputenv("SUDO_UID", sudoUid);
        qputenv("SUDO_GID", sudoGid);
        sim::UhidPrivileges::Identity identity;
        std::string error;
        QVERIFY2(sim::UhidPrivileges::unprivilegedIdentity(&identity, &error), error.c_str());
        const passwd* nobody = ::getpwnam("nobody");
        QVERIFY(nobody);
        QCOMPARE(identity.uid, sudoUser ? 1234u : nobody->pw_uid);
        if (sudoUser)
            QCOMPARE(identity.gid, 2345u);
        if (::geteuid() != 0)
            QSKIP("giving up root needs root");
        // In a child: this process keeps its root for the other tests.
        const pid_t child = ::fork();
        if (child == 0) {
            const bool dropped = sim::UhidPrivileges::drop(identity, &error);
            ::_exit(dropped && ::getuid() == identity.uid && ::getegid() == identity.gid && ::setuid(0) != 0 ? 0 : 1);
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }
};

TESSARO_TEST_MAIN(tst_uhidprivileges)
#include "tst_uhidprivileges.moc"
