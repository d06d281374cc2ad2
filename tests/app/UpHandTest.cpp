// The hand-off to the FTP companion: where its path comes from, the exact
// argument lists, batch waiting with events running, interactive starts that
// return at once, and programs that exist but cannot be started.
#include "app/UpHand.h"
#include "common/TestSupport.h"
#include "env/UserStore.h"
#include "env/Usr.h"
#include "StandIn.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::StandIn;
using velmor::test::writeFile;
using Up = MainState::UpResult;

namespace {

// Records the title and filter of every file picker besides the rest.
class PickPrompt : public test::RecordingPrompt {
public:
    QString pickFile(const QString& title, const QString& filter, const QString& start) override
    {
        titles.append(title);
        filters.append(filter);
        return RecordingPrompt::pickFile(title, filter, start);
    }
    QStringList titles, filters;
};

class UpHandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        Usr::setPrompt(&prompt);
    }
    void TearDown() override { Usr::setPrompt(nullptr); }

    QString path(const QString& rel) const { return tmp.path() + QLatin1Char('/') + rel; }
    // True when the store holds a "Zavro" entry at all (also an empty one).
    static bool storeHasEntry()
    {
        QSettings s(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                        + QStringLiteral("/QuarnellTools.conf"),
                    QSettings::IniFormat);
        return s.contains(QStringLiteral("Path/Zavro"));
    }

    test::ScopedTestHome home;
    QTemporaryDir tmp;
    PickPrompt prompt;
};

} // namespace

TEST(UpArgs, BatchAndInteractiveArgumentLists)
{
    EXPECT_EQ(Zavro::Args(true, QStringLiteral("週次")), (QStringList{QStringLiteral("SyncUp"), QStringLiteral("/b|週次")}));
    EXPECT_EQ(Zavro::Args(false, QStringLiteral("週次")), QStringList{QStringLiteral("SyncUp|週次")});
    EXPECT_EQ(Zavro::Args(true, QString()), (QStringList{QStringLiteral("SyncUp"), QStringLiteral("/b|")}));
    EXPECT_EQ(Zavro::Args(false, QString()), QStringList{QStringLiteral("SyncUp|")});
    // Spaces and quotes stay inside the one argument after the bar.
    EXPECT_EQ(Zavro::Args(false, QStringLiteral("a \"b\" c")), QStringList{QStringLiteral("SyncUp|a \"b\" c")});
}

TEST_F(UpHandTest, UnknownProgramAsksOnceAndCancelShowsTheMessage)
{
    QString sFtpAp = QStringLiteral("/stale/from/settings");
    EXPECT_EQ(Zavro::UpHand(true, QStringLiteral("T"), sFtpAp), Up::NotFound);
    EXPECT_EQ(sFtpAp, QString());
    ASSERT_EQ(prompt.titles.size(), 1);
    EXPECT_EQ(prompt.titles[0], QStringLiteral("Zavro.exeの指定"));
    EXPECT_EQ(prompt.filters[0], QStringLiteral("実行ﾌｧｲﾙ (*.exe)|*.exe|"));
    EXPECT_EQ(prompt.pickerStarts, QStringList{QStringLiteral("Zavro.exe")});
    EXPECT_EQ(prompt.messages, QStringList{QStringLiteral("Zavro.exe がｲﾝｽﾄｰﾙされていないか 有効でありません")});
    // The cancelled answer is stored too, and the next call asks again.
    EXPECT_TRUE(storeHasEntry());
    EXPECT_EQ(UserStore::readPath(QStringLiteral("Zavro")), QString());
    EXPECT_EQ(Zavro::UpHand(false, QStringLiteral("T"), sFtpAp), Up::NotFound);
    EXPECT_EQ(prompt.titles.size(), 2);
}

TEST_F(UpHandTest, PickedProgramIsStoredAndUsedWithoutAskingAgain)
{
    StandIn first(path(QStringLiteral("one")));
    first.release();
    prompt.fileAnswers.push_back(first.program());
    QString sFtpAp;
    EXPECT_EQ(Zavro::UpHand(true, QStringLiteral("T"), sFtpAp), Up::Finished);
    EXPECT_EQ(sFtpAp, first.program());
    EXPECT_EQ(UserStore::readPath(QStringLiteral("Zavro")), first.program());
    EXPECT_TRUE(first.done());

    // Registered and present: no question.
    QFile::remove(path(QStringLiteral("one/done")));
    EXPECT_EQ(Zavro::UpHand(true, QStringLiteral("T"), sFtpAp), Up::Finished);
    EXPECT_EQ(prompt.titles.size(), 1);
    EXPECT_TRUE(prompt.messages.isEmpty());

    // Registered but gone, or a folder: treated as unknown.
    QFile::remove(first.program());
    EXPECT_EQ(Zavro::UpHand(true, QStringLiteral("T"), sFtpAp), Up::NotFound);
    EXPECT_EQ(prompt.titles.size(), 2);
    UserStore::writePath(QStringLiteral("Zavro"), path(QStringLiteral("one")));
    Zavro::FindUp();
    EXPECT_EQ(prompt.titles.size(), 3);
}

TEST_F(UpHandTest, BatchWaitsForTheEndWhileEventsRun)
{
    // A program path with spaces, given as it is.
    StandIn z(path(QStringLiteral("Program Files/Zavro dir")));
    UserStore::writePath(QStringLiteral("Zavro"), z.program());
    // The release comes from an event: only a wait that runs events ends.
    QTimer::singleShot(0, [&z] { z.release(); });
    QString sFtpAp;
    EXPECT_EQ(Zavro::UpHand(true, QStringLiteral("週次 バックアップ"), sFtpAp), Up::Finished);
    EXPECT_TRUE(z.done());
    EXPECT_FALSE(z.timedOut());
    EXPECT_EQ(z.args(), (QStringList{QStringLiteral("2"), QStringLiteral("SyncUp"), QStringLiteral("/b|週次 バックアップ")}));
    EXPECT_TRUE(prompt.messages.isEmpty());
    EXPECT_TRUE(prompt.titles.isEmpty());
}

TEST_F(UpHandTest, AWindowClosingDuringTheWaitLeavesTheCompanionRunning)
{
    StandIn z(path(QStringLiteral("Zavro dir")));
    UserStore::writePath(QStringLiteral("Zavro"), z.program());
    QString sFtpAp;
    EXPECT_EQ(Zavro::UpHand(true, QStringLiteral("t"), sFtpAp, [&z] { return z.started(); }), Up::Abandoned);
    EXPECT_FALSE(z.done());
    z.release();  // it goes on to its end by itself
    z.waitDone();
    EXPECT_TRUE(z.done());
    EXPECT_FALSE(z.timedOut());
}

TEST_F(UpHandTest, BatchWithoutTaskNameEndsWithTheBar)
{
    StandIn z(path(QStringLiteral("z")));
    z.release();
    UserStore::writePath(QStringLiteral("Zavro"), z.program());
    QString sFtpAp;
    EXPECT_EQ(Zavro::UpHand(true, QString(), sFtpAp), Up::Finished);
    EXPECT_EQ(z.args(), (QStringList{QStringLiteral("2"), QStringLiteral("SyncUp"), QStringLiteral("/b|")}));
}

TEST_F(UpHandTest, InteractiveReturnsWhileTheProgramRuns)
{
    StandIn z(path(QStringLiteral("with space")), QStringLiteral("Zavro app"));
    UserStore::writePath(QStringLiteral("Zavro"), z.program());
    QString sFtpAp;
    EXPECT_EQ(Zavro::UpHand(false, QString(), sFtpAp), Up::Started);
    // Not released yet: the program cannot have ended unless we waited ~20 s.
    EXPECT_FALSE(z.done());
    z.waitStarted();
    EXPECT_EQ(z.args(), (QStringList{QStringLiteral("1"), QStringLiteral("SyncUp|")}));
    z.release();
    z.waitDone();
    EXPECT_FALSE(z.timedOut());

    // Through the window state: the task list's text is the task.
    StandIn z2(path(QStringLiteral("two")));
    UserStore::writePath(QStringLiteral("Zavro"), z2.program());
    z2.release();
    EXPECT_EQ(Zavro::UpHand(false, QStringLiteral("夜間 同期"), sFtpAp), Up::Started);
    z2.waitDone();
    EXPECT_EQ(z2.args(), (QStringList{QStringLiteral("1"), QStringLiteral("SyncUp|夜間 同期")}));
}

TEST_F(UpHandTest, ProgramThatCannotBeStartedIsReported)
{
    // Not executable, and executable but not a program the system can run.
    const QString noExec = path(QStringLiteral("no exec/Zavro"));
    writeFile(noExec, "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(noExec, QFile::ReadOwner | QFile::WriteOwner);
    const QString badFormat = path(QStringLiteral("bad/Zavro"));
    writeFile(badFormat, QByteArray("\x7f" "ELF\x01\x02 not a program"));
    QFile::setPermissions(badFormat, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    for (const QString& program : {noExec, badFormat}) {
        for (const bool wait : {true, false}) {
            SCOPED_TRACE(program.toStdString() + (wait ? " batch" : " interactive"));
            prompt.messages.clear();
            UserStore::writePath(QStringLiteral("Zavro"), program);
            QString sFtpAp;
            EXPECT_EQ(Zavro::UpHand(wait, QStringLiteral("T"), sFtpAp), Up::StartFailed);
            ASSERT_EQ(prompt.messages.size(), 1);
            const QString head = program + QStringLiteral(" を起動できません\r");
            EXPECT_TRUE(prompt.messages[0].startsWith(head)) << prompt.messages[0].toStdString();
            EXPECT_GT(prompt.messages[0].size(), head.size());  // with the system's reason
            // Known and present: the path stays registered, nobody is asked.
            EXPECT_EQ(UserStore::readPath(QStringLiteral("Zavro")), program);
            EXPECT_TRUE(prompt.titles.isEmpty());
        }
    }
}
