// One instance per user: a second start of the real program hands its
// document path to the running instance and ends with exit code 1.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include "shell/Commonfunc.h"
#include "shell/forms/SingleInstance.h"
#include "support/TempDir.h"
#include "ui/UiTest.h"

namespace {

// The environment of a program started in `dir`: its data and temporary
// folders lie there, so its instance socket does too.
QProcessEnvironment ProgramEnv(const TempDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(dir.file("home")));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.file("data")));
    env.insert("TMPDIR", QString::fromStdString(dir.file("tmp")));
    env.remove("XDG_RUNTIME_DIR");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

// The socket a program started with ProgramEnv(dir) uses.
QString SocketIn(const TempDir& dir) {
    PathEnvironment env;
    env.exePath = PELVANE_APP;
    env.xdgDataHome = dir.file("data");
    env.home = dir.file("home");
    env.tmpDir = dir.file("tmp");
    env.uid = static_cast<unsigned>(::getuid());
    AppPaths p = ComputeAppPaths(env);
    return QString::fromStdString(p.tempFolder + "instance");
}

int RunSecond(const TempDir& dir, const QStringList& args) {
    QProcess second;
    second.setProcessEnvironment(ProgramEnv(dir));
    second.start(PELVANE_APP, args);
    // The running instance answers on this thread's event loop.
    if (!second.waitForStarted(10000)) return -1;
    QDeadlineTimer deadline(20000);
    while (second.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        second.waitForFinished(20);
    }
    if (second.state() != QProcess::NotRunning) return -3;
    return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -2;
}

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void secondStartHandsOverItsPath();
    void secondStartWithoutArgumentOnlyActivates();
    void overlongPathIsNotHandedOver();
    void socketLeftByACrashIsReplaced();
    void twoRealProcesses();
};

void SingleInstanceTest::secondStartHandsOverItsPath() {
    TempDir dir;
    ::mkdir(dir.file("tmp").c_str(), 0700);
    ::mkdir(dir.file("tmp/pelvane-" + std::to_string(::getuid())).c_str(), 0700);
    TSingleInstance first(SocketIn(dir));
    QVERIFY(first.Listen());
    QSignalSpy activated(&first, &TSingleInstance::activateRequested);
    QSignalSpy handed(&first, &TSingleInstance::documentHandedOver);

    const QString path = QString::fromUtf8("/home/taro/メール/案内.pvd");
    QCOMPARE(RunSecond(dir, {path}), 1);
    QTRY_COMPARE(handed.size(), 1);
    QCOMPARE(handed[0][0].toByteArray(), path.toUtf8());
    QCOMPARE(activated.size(), 1);
}

void SingleInstanceTest::secondStartWithoutArgumentOnlyActivates() {
    TempDir dir;
    ::mkdir(dir.file("tmp").c_str(), 0700);
    ::mkdir(dir.file("tmp/pelvane-" + std::to_string(::getuid())).c_str(), 0700);
    TSingleInstance first(SocketIn(dir));
    QVERIFY(first.Listen());
    QSignalSpy activated(&first, &TSingleInstance::activateRequested);
    QSignalSpy handed(&first, &TSingleInstance::documentHandedOver);
    QCOMPARE(RunSecond(dir, {}), 1);
    QTRY_COMPARE(activated.size(), 1);
    QCOMPARE(handed.size(), 0);
}

void SingleInstanceTest::overlongPathIsNotHandedOver() {
    TempDir dir;
    ::mkdir(dir.file("tmp").c_str(), 0700);
    ::mkdir(dir.file("tmp/pelvane-" + std::to_string(::getuid())).c_str(), 0700);
    TSingleInstance first(SocketIn(dir));
    QVERIFY(first.Listen());
    QSignalSpy activated(&first, &TSingleInstance::activateRequested);
    QSignalSpy handed(&first, &TSingleInstance::documentHandedOver);
    // 1023 bytes still fit; 1024 do not.
    QCOMPARE(RunSecond(dir, {"/" + QString(1022, 'a')}), 1);
    QTRY_COMPARE(handed.size(), 1);
    QCOMPARE(handed[0][0].toByteArray().size(), 1023);
    QCOMPARE(RunSecond(dir, {"/" + QString(1023, 'a')}), 1);
    QTRY_COMPARE(activated.size(), 2);
    QCOMPARE(handed.size(), 1);
}

void SingleInstanceTest::socketLeftByACrashIsReplaced() {
    TempDir dir;
    QString socket = QString::fromStdString(dir.file("instance"));
    {
        // A stale socket file: bound once, never listened on again.
        TSingleInstance crashed(socket);
        QVERIFY(crashed.Listen());
    }
    dir.write("instance", "");  // whatever is left there
    TSingleInstance next(socket);
    QVERIFY(next.Listen());
    TSingleInstance another(socket);
    QVERIFY(!another.Listen());
}

void SingleInstanceTest::twoRealProcesses() {
    TempDir dir;
    ::mkdir(dir.file("tmp").c_str(), 0700);
    QProcess first;
    first.setProcessEnvironment(ProgramEnv(dir));
    first.start(PELVANE_APP, {});
    QVERIFY(first.waitForStarted(10000));
    // The first instance listens once it runs; wait for its socket.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(SocketIn(dir)), 20000);
    QCOMPARE(RunSecond(dir, {"/tmp/mail.pvd"}), 1);
    QCOMPARE(RunSecond(dir, {}), 1);
    QCOMPARE(first.state(), QProcess::Running);
    first.terminate();
    if (!first.waitForFinished(10000)) first.kill();
    first.waitForFinished(5000);
}

PELVANE_UI_TEST(SingleInstanceTest);
#include "SingleInstanceTest.moc"
