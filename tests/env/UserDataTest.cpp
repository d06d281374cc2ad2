#include "common/TestSupport.h"
#include "env/SjisText.h"
#include "env/UserStore.h"
#include "env/Usr.h"
#include "env/yIni.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::ScopedPrompt;
using velmor::test::writeFile;

namespace {
class UserData : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(prog.isValid());
        Usr::sExeNm = QStringLiteral("velmor");
        Usr::sUsrDt.clear();
        programDir = prog.path();  // no trailing "/": it is added
        exe = prog.path() + QStringLiteral("/velmor");
        D = yIni::FsGtSpFld(26) + QStringLiteral("/Quarnell/velmor/");
    }
    void ini(const QString& content) { writeFile(programDir + QStringLiteral("/UserData.ini"), sjis::encode(content)); }
    QStringList run()
    {
        ScopedPrompt prompt;
        yIni().W_UserData(programDir, exe);
        return prompt->messages;
    }

    velmor::test::ScopedTestHome home;
    QTemporaryDir prog;
    QString programDir, exe, D;
};

const QString kUse = QStringLiteral(" を使用します");
const QString kIdeoSpace = QString(QChar(0x3000));
} // namespace

TEST_F(UserData, SpecialFoldersStayInTestHome)
{
    EXPECT_TRUE(yIni::FsGtSpFld(26).startsWith(home.path() + '/'));
    EXPECT_EQ(yIni::FsGtSpFld(5), home.path() + QStringLiteral("/Documents"));
    EXPECT_EQ(yIni::FsGtSpFld(7), QString());
    EXPECT_FALSE(yIni::FsGtSpFld(26).endsWith('/'));
}

TEST_F(UserData, MissingAndEmptyControlFile)
{
    QStringList m = run();
    ASSERT_EQ(m.size(), 1);
    EXPECT_EQ(m[0], programDir + QStringLiteral("/UserData.ini が見つかりません\rﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞは") + kIdeoSpace + D + kUse);
    EXPECT_EQ(Usr::sUsrDt, D);
    EXPECT_TRUE(QFileInfo(D).isDir());

    const QString undefined = QStringLiteral(" ﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞが定義されていません\r") + D + kUse;
    ini(QString());
    EXPECT_EQ(run(), QStringList{undefined});
    EXPECT_EQ(Usr::sUsrDt, D);

    // Only the first line is tested for emptiness.
    ini(QStringLiteral("\r\n%app%"));
    EXPECT_EQ(run(), QStringList{undefined});
    EXPECT_EQ(Usr::sUsrDt, D);
}

TEST_F(UserData, Placeholders)
{
    ini(QStringLiteral("%APP%"));
    EXPECT_TRUE(run().isEmpty());
    EXPECT_EQ(Usr::sUsrDt, programDir + QStringLiteral("/usData/"));
    EXPECT_TRUE(QFileInfo(programDir + QStringLiteral("/usData")).isDir());

    // The whole content counts: a line break makes it another "%" word.
    for (const QString& text : {QStringLiteral("%app%\r\n"), QStringLiteral("%usr%"), QStringLiteral("%Applicaion Data%"),
                                QStringLiteral("%whatever%")}) {
        Usr::sUsrDt.clear();
        ini(text);
        EXPECT_TRUE(run().isEmpty()) << text.toStdString();
        EXPECT_EQ(Usr::sUsrDt, D) << text.toStdString();
    }

    const QString docs = home.path() + QStringLiteral("/Documents/Quarnell/velmor/");
    for (const QString& text : {QStringLiteral("%doc"), QStringLiteral("%My Document%")}) {
        Usr::sUsrDt.clear();
        ini(text);
        EXPECT_TRUE(run().isEmpty());
        EXPECT_EQ(Usr::sUsrDt, docs);
        EXPECT_TRUE(QFileInfo(docs).isDir());
    }
}

TEST_F(UserData, FolderPaths)
{
    const QString own = home.path() + QStringLiteral("/My Data");
    velmor::test::makeDir(own);
    ini(own);
    EXPECT_TRUE(run().isEmpty());
    EXPECT_EQ(Usr::sUsrDt, own + '/');

    ini(own + '/');
    run();
    EXPECT_EQ(Usr::sUsrDt, own + '/');

    const QString missing = home.path() + QStringLiteral("/Gone");
    ini(missing);
    EXPECT_EQ(run(), QStringList{QStringLiteral("ﾌｫﾙﾀﾞ ") + missing + QStringLiteral(" が見つかりません\rﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞは")
                                 + kIdeoSpace + D + kUse});
    EXPECT_EQ(Usr::sUsrDt, D);
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(UserData, RegistrationInPerUserStore)
{
    ini(QStringLiteral("%usr%"));
    EXPECT_EQ(UserStore::readPath(QStringLiteral("velmor")), QString());
    run();
    EXPECT_EQ(UserStore::readPath(QStringLiteral("velmor")), exe);

    // A value that differs only in letter case is left as it is.
    ASSERT_TRUE(UserStore::writePath(QStringLiteral("velmor"), exe.toUpper()));
    run();
    EXPECT_EQ(UserStore::readPath(QStringLiteral("velmor")), exe.toUpper());

    // A moved program is registered again; other keys are untouched.
    ASSERT_TRUE(UserStore::writePath(QStringLiteral("Zavro"), QStringLiteral("/opt/zavro/Zavro")));
    exe = QStringLiteral("/elsewhere/velmor");
    run();
    EXPECT_EQ(UserStore::readPath(QStringLiteral("velmor")), QStringLiteral("/elsewhere/velmor"));
    EXPECT_EQ(UserStore::readPath(QStringLiteral("Zavro")), QStringLiteral("/opt/zavro/Zavro"));
    // A companion executable resolving the same name does not register.
    exe = QStringLiteral("/elsewhere/velmor-cli");
    run();
    EXPECT_EQ(UserStore::readPath(QStringLiteral("velmor")), QStringLiteral("/elsewhere/velmor"));
    EXPECT_EQ(UserStore::readPath(QStringLiteral("velmor-cli")), QString());
    // A "_DV" build registers under the plain name.
    exe = QStringLiteral("/dev/build/velmor_DV");
    run();
    EXPECT_EQ(UserStore::readPath(QStringLiteral("velmor")), QStringLiteral("/dev/build/velmor_DV"));
    // The store lives in the test home.
    EXPECT_TRUE(QFileInfo::exists(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                  + QStringLiteral("/QuarnellTools.conf")));
    EXPECT_TRUE(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).startsWith(home.path()));
}
