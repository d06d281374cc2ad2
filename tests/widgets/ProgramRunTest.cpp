// The built desktop program started with a task text, as a scheduler would:
// it runs the task on its own, ends by itself with the status velmor-cli run
// gives, and leaves the window's state in "User.xml".
#include "app/MainState.h"
#include "common/TestSupport.h"
#include "env/Usr.h"
#include "env/yIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>
#include <sys/stat.h>

using namespace velmor;
using namespace velmor::test;
using namespace Qt::Literals::StringLiterals;

// The program's environment: its own home (so its user data folder), no
// display.
static QProcessEnvironment programEnvironment(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.remove(u"XDG_DATA_HOME"_s);
    env.remove(u"XDG_CONFIG_HOME"_s);
    return env;
}

TEST(VelmorProgram, RunsATaskTextAndEndsWithItsStatus)
{
    const QString velmor = QCoreApplication::applicationDirPath() + u"/../src/app/velmor"_s;
    ASSERT_TRUE(QFileInfo(velmor).isExecutable()) << "build velmor first";
    ScopedTestHome home;
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    // The program's own user data folder below the throw-away home ("%usr%").
    const QString data = home.path() + u"/.local/share/Quarnell/velmor/"_s;
    const QString src = tmp.path() + u"/src"_s, dst = tmp.path() + u"/dst"_s;
    writeFile(src + u"/a/one.txt"_s, "1");
    writeFile(src + u"/b/two.txt"_s, "2");
    makeDir(dst);
    makeDir(data);
    const QString task = u"夜間 nightly"_s;
    {
        ScopedPrompt prompt;
        // The second name looks like Qt's own options: it is a task name all the same.
        prompt->inputAnswers = {task, u"-platform x"_s};
        Usr::sUsrDt = data;
        MainState st;
        HeadlessProgress progress;
        st.s.progress = &progress;
        st.tree1.setRoot(src);
        st.tree2.setRoot(dst);
        st.Load();
        st.tree1.ExpndALL(2, true);
        st.tree1.setPath(src);
        st.tree1.SetChkBx(true);
        for (int k = 0; k < 2; ++k) {
            st.TskSave(false);
            ASSERT_EQ(st.tskResult, TskResult::Done) << prompt->messages.join(u'|').toStdString();
        }
    }

    QProcess p;
    p.setProcessEnvironment(programEnvironment(home.path()));
    p.start(velmor, {task});
    ASSERT_TRUE(p.waitForFinished(120000)) << "velmor did not end by itself";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

    EXPECT_EQ(readFile(dst + u"/a/one.txt"_s), "1");
    EXPECT_EQ(readFile(dst + u"/b/two.txt"_s), "2");
    yIni ini;
    bool ok = false;
    ini.GetTxt(data + u"User.xml"_s, ok);
    ini.GetGtx(u"画面"_s);
    for (const QString& key : {u"LEFT"_s, u"TOP"_s, u"WIDTH"_s, u"HEIGHT"_s, u"DR1_WD"_s, u"DR2_WD"_s, u"DIR_HI"_s,
                               u"CLS_WD"_s, u"DISP"_s, u"CHECK"_s})
        EXPECT_TRUE(ini.groupText().contains(u'<' + key + u'>')) << key.toStdString();
    EXPECT_EQ(ini.vGtVal(u"ROOT1"_s, QString()).toString(), src);
    EXPECT_EQ(ini.vGtVal(u"ROOT2"_s, QString()).toString(), dst);
    EXPECT_GT(ini.vGtVal(u"WIDTH"_s, 0).toInt(), 0);

    // Something left out: named on standard error, status 1, no box that
    // waits for a click.
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + u"/a/fifo"_s).constData(), 0644), 0);
    p.start(velmor, {task});
    ASSERT_TRUE(p.waitForFinished(120000)) << "velmor waited for a click";
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(src + u"/a/fifo"_s));

    // A failed row: named on standard error as velmor-cli run names it.
    ASSERT_TRUE(QFile::remove(src + u"/a/fifo"_s));
    writeFile(src + u"/a/one.txt"_s, "newer");
    setMTime(src + u"/a/one.txt"_s, QDateTime::currentDateTime().addDays(1));
    ASSERT_TRUE(QFile::setPermissions(dst + u"/a/one.txt"_s, QFile::ReadOwner));
    p.start(velmor, {task});
    ASSERT_TRUE(p.waitForFinished(120000)) << "velmor waited for a click";
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains(task + u": row "_s) && err.contains(u"(上書): "_s) && err.contains(dst + u"/a/one.txt"_s))
        << err.toStdString();
    EXPECT_EQ(readFile(dst + u"/a/one.txt"_s), "1");
    ASSERT_TRUE(QFile::setPermissions(dst + u"/a/one.txt"_s, QFile::ReadOwner | QFile::WriteOwner));
    QFile::remove(src + u"/a/one.txt"_s);
    writeFile(src + u"/a/one.txt"_s, "1");

    // The whole command line is the task text; Qt takes none of it.
    p.start(velmor, {u"-platform"_s, u"x"_s});
    ASSERT_TRUE(p.waitForFinished(120000)) << "velmor did not end by itself";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

TEST(VelmorProgram, AStopSignalDuringItsRunEndsTheProgramWithStatus1)
{
    const QString velmor = QCoreApplication::applicationDirPath() + u"/../src/app/velmor"_s;
    ASSERT_TRUE(QFileInfo(velmor).isExecutable()) << "build velmor first";
    ASSERT_FALSE(velmorCli().isEmpty()) << "build velmor-cli first";
    ScopedTestHome home;
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString data = home.path() + u"/.local/share/Quarnell/velmor/"_s;
    const QString src = tmp.path() + u"/src"_s, dst = tmp.path() + u"/dst"_s;
    constexpr int kFolders = 20, kFiles = 600;
    writeManyFiles(src, kFolders, kFiles);
    for (int d = 0; d < kFolders; ++d)  // every file a row of its own
        makeDir(dst + u'/' + manyFilesFolder(d));
    makeDir(data);
    const CliResult saved = runVelmorCli({u"task"_s, u"save"_s, u"big"_s, src, dst, u"--data"_s, data});
    ASSERT_EQ(saved.code, 0) << saved.err.toStdString();

    QProcess p;
    p.setProcessEnvironment(programEnvironment(home.path()));
    p.start(velmor, {u"big"_s});
    ASSERT_TRUE(p.waitForStarted());
    // The synchronisation is under way once its first file is in place.
    const QString first = dst + u'/' + manyFilesFolder(0);
    QElapsedTimer waited;
    waited.start();
    while (QDir(first).isEmpty(QDir::Files) && p.state() == QProcess::Running && waited.elapsed() < 60000)
        QThread::usleep(500);
    ASSERT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().toStdString();
    ASSERT_EQ(::kill(pid_t(p.processId()), SIGTERM), 0);
    ASSERT_TRUE(p.waitForFinished(60000)) << "velmor did not end after the signal";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
    EXPECT_EQ(p.exitCode(), 1) << p.readAllStandardError().toStdString();
    EXPECT_LT(expectWholeCopies(src, dst), kFolders * kFiles) << "the run was not stopped";
}
