#include "common/TestSupport.h"
#include "env/SjisText.h"
#include "env/yIni.h"

#include <QDate>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::readFile;
using velmor::test::ScopedPrompt;
using velmor::test::writeFile;

namespace {
const QByteArray kHeader = "<?xml version='1.0' encoding='Shift-JIS' ?>\r\n";
QByteArray sj(const QString& s) { return sjis::encode(s); }

class Settings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    QString path(const QString& name = QStringLiteral("User.xml")) const { return tmp.path() + '/' + name; }
    QTemporaryDir tmp;
};
} // namespace

TEST_F(Settings, MissingFileGivesSkeleton)
{
    yIni ini;
    bool ok = false;
    ini.GetTxt(path(), ok);
    EXPECT_TRUE(ok);
    // Created empty at once, the skeleton stays in memory.
    ASSERT_TRUE(QFileInfo::exists(path()));
    EXPECT_EQ(QFileInfo(path()).size(), 0);
    ok = false;
    ini.SetTxt(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(readFile(path()), kHeader + sj(QStringLiteral("<運用>\r\n</運用>")));

    // A file whose first line is empty reads as the skeleton too.
    writeFile(path(), "\r\n" + sj(QStringLiteral("<運用>\r\n   <画面>\r\n   </画面>\r\n</運用>")));
    ini.GetTxt(path(), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ini.document(), QString::fromLatin1(kHeader) + QStringLiteral("<運用>\r\n</運用>"));
}

TEST_F(Settings, OneGroupOneKeyIsSixLines)
{
    yIni ini;
    bool ok = false;
    ini.GetTxt(path(), ok);
    ini.GetGtx(QStringLiteral("画面"));
    EXPECT_EQ(ini.groupText(), QString());
    ini.SetVal(QStringLiteral("LEFT"), 1234);
    EXPECT_TRUE(ini.SetGtx());
    ini.SetTxt(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(readFile(path()), kHeader
                                    + sj(QStringLiteral("<運用>\r\n"
                                                        "   <画面>\r\n"
                                                        "      <LEFT>1234</LEFT>\r\n"
                                                        "   </画面>\r\n"
                                                        "</運用>")));
}

TEST_F(Settings, TwoKeysSevenLinesReadBackAndReplace)
{
    {
        yIni ini;
        bool ok = false;
        ini.GetTxt(path(), ok);
        ini.GetGtx(QStringLiteral("画面"));
        ini.SetVal(QStringLiteral("ROOT1"), QStringLiteral("/home/ユーザー/ﾃﾞｰﾀ"));
        ini.SetVal(QStringLiteral("DISP"), 2);
        ini.SetGtx();
        ini.SetTxt(ok);
        ASSERT_TRUE(ok);
    }
    const QByteArray written = readFile(path());
    EXPECT_EQ(written.count("\r\n"), 6);  // seven lines, none after the last
    EXPECT_TRUE(written.endsWith(sj(QStringLiteral("\r\n</運用>"))));
    EXPECT_EQ(written, kHeader
                           + sj(QStringLiteral("<運用>\r\n   <画面>\r\n      <ROOT1>/home/ユーザー/ﾃﾞｰﾀ</ROOT1>\r\n"
                                               "      <DISP>2</DISP>\r\n   </画面>\r\n</運用>")));

    yIni ini;
    bool ok = false;
    ini.GetTxt(path(), ok);
    ASSERT_TRUE(ok);
    ini.GetGtx(QStringLiteral("画面"));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("ROOT1"), QString()).toString(), QStringLiteral("/home/ユーザー/ﾃﾞｰﾀ"));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("DISP"), 0).toInt(), 2);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("NONE"), QStringLiteral("def")).toString(), QStringLiteral("def"));

    // Replacing a value and adding a second group leave the rest as it was.
    ini.SetVal(QStringLiteral("DISP"), 0);
    ini.SetGtx();
    ini.GetGtx(QStringLiteral("FTP"));
    ini.SetVal(QStringLiteral("FTP_AP"), QStringLiteral("/opt/zavro"));
    ini.SetGtx();
    ini.SetTxt(ok);
    EXPECT_EQ(readFile(path()),
              kHeader
                  + sj(QStringLiteral("<運用>\r\n   <画面>\r\n      <ROOT1>/home/ユーザー/ﾃﾞｰﾀ</ROOT1>\r\n"
                                      "      <DISP>0</DISP>\r\n   </画面>\r\n   <FTP>\r\n"
                                      "      <FTP_AP>/opt/zavro</FTP_AP>\r\n   </FTP>\r\n</運用>")));
}

TEST_F(Settings, PrefixKeysAndDaggerRule)
{
    yIni ini;
    bool ok = false;
    ini.GetTxt(path(), ok);
    ini.GetGtx(QStringLiteral("画面"));
    ini.SetVal(QStringLiteral("DR1_WD_R"), 300);
    ini.SetVal(QStringLiteral("DR1_WD"), 100);
    ini.SetVal(QStringLiteral("DR1_WD"), 150);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("DR1_WD"), 0).toInt(), 150);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("DR1_WD_R"), 0).toInt(), 300);

    // "‡" becomes CR LF when the key line is created, stays when replaced.
    ini.SetVal(QStringLiteral("MEMO"), QStringLiteral("a‡b"));
    EXPECT_TRUE(ini.groupText().endsWith(QStringLiteral("      <MEMO>a\r\nb</MEMO>\r\n")));
    ini.SetVal(QStringLiteral("MEMO"), QStringLiteral("c‡d"));
    EXPECT_TRUE(ini.groupText().endsWith(QStringLiteral("      <MEMO>c‡d</MEMO>\r\n")));
    EXPECT_EQ(ini.groupText(), QStringLiteral("      <DR1_WD_R>300</DR1_WD_R>\r\n      <DR1_WD>150</DR1_WD>\r\n"
                                              "      <MEMO>c‡d</MEMO>\r\n"));
}

TEST_F(Settings, TypedValues)
{
    writeFile(path(), kHeader
                          + sj(QStringLiteral("<運用>\r\n   <g>\r\n"
                                              "      <N1>  12.5px</N1>\r\n"
                                              "      <N2>abc</N2>\r\n"
                                              "      <N3>-3e2x</N3>\r\n"
                                              "      <N4></N4>\r\n"
                                              "      <D1>2024/03/05</D1>\r\n"
                                              "      <D2>not a date</D2>\r\n"
                                              "      <B1>true</B1>\r\n"
                                              "      <B2>0</B2>\r\n"
                                              "      <B3>maybe</B3>\r\n"
                                              "      <S1> keep  </S1>\r\n"
                                              "   </g>\r\n</運用>")));
    yIni ini;
    bool ok = false;
    ini.GetTxt(path(), ok);
    ASSERT_TRUE(ok);
    ini.GetGtx(QStringLiteral("g"));
    // Numbers: the leading number, 0 for a text starting with a letter, the default when empty.
    EXPECT_DOUBLE_EQ(ini.vGtVal(QStringLiteral("N1"), 7).toDouble(), 12.5);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("N2"), 7).toInt(), 0);
    EXPECT_DOUBLE_EQ(ini.vGtVal(QStringLiteral("N3"), 7).toDouble(), -300.0);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("N4"), 7).toInt(), 7);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("missing"), 7).toInt(), 7);
    // Dates: converted when possible, otherwise the default, silently.
    ScopedPrompt prompt;
    const QDate def(2000, 1, 1);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("D1"), def).toDate(), QDate(2024, 3, 5));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("D2"), def).toDate(), def);
    EXPECT_EQ(ini.vGtVal(QStringLiteral("missing"), def).toDate(), def);
    EXPECT_TRUE(prompt->messages.isEmpty());
    // Booleans and strings (kept exactly, blanks included).
    EXPECT_EQ(ini.vGtVal(QStringLiteral("B1"), false), QVariant(true));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("B2"), true), QVariant(false));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("B3"), true), QVariant(true));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("S1"), QString()).toString(), QStringLiteral(" keep  "));

    // Text forms written.
    EXPECT_EQ(yIni::valueText(true), QStringLiteral("True"));
    EXPECT_EQ(yIni::valueText(false), QStringLiteral("False"));
    EXPECT_EQ(yIni::valueText(2.5), QStringLiteral("2.5"));
    EXPECT_EQ(yIni::valueText(-12), QStringLiteral("-12"));
    EXPECT_EQ(yIni::valueText(QDate(2024, 3, 5)), QStringLiteral("2024/03/05"));
    // A written date reads back.
    ini.SetVal(QStringLiteral("D3"), QDate(1999, 12, 31));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("D3"), def).toDate(), QDate(1999, 12, 31));
}

TEST_F(Settings, DvNameReadsPlainFileInAnyCase)
{
    writeFile(path(QStringLiteral("User.xml")), kHeader + sj(QStringLiteral("<運用>\r\n   <g>\r\n      <K>plain</K>\r\n   </g>\r\n</運用>")));
    for (const QString& name : {QStringLiteral("User_DV.xml"), QStringLiteral("User_dv.XML"), QStringLiteral("User_Dv.Xml")}) {
        yIni ini;
        bool ok = false;
        ini.GetTxt(path(name), ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(ini.fileName(), path(QStringLiteral("User.xml")));
        ini.GetGtx(QStringLiteral("g"));
        EXPECT_EQ(ini.vGtVal(QStringLiteral("K"), QString()).toString(), QStringLiteral("plain"));
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("User_DV.xml"))));
}

TEST_F(Settings, DamagedElementsAreReported)
{
    writeFile(path(), kHeader
                          + sj(QStringLiteral("<運用>\r\n   <画面>\r\n      <LEFT>5</LEFT>\r\n"
                                              "      <TOP>6\r\n   </画面>\r\n   </窓>\r\n   <窓>\r\n</運用>")));
    ScopedPrompt prompt;
    yIni ini;
    bool ok = false;
    ini.GetTxt(path(), ok);
    ini.GetGtx(QStringLiteral("画面"));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("LEFT"), 0).toInt(), 5);
    EXPECT_TRUE(prompt->messages.isEmpty());
    EXPECT_EQ(ini.vGtVal(QStringLiteral("TOP"), 9).toInt(), 9);
    ini.GetGtx(QStringLiteral("窓"));
    EXPECT_EQ(ini.groupText(), QString());
    ASSERT_EQ(prompt->messages.size(), 2);
    EXPECT_EQ(prompt->messages[0], QStringLiteral("<TOP> の設定が読み込めません\rﾕｰｻﾞｰ環境ﾌｧｲﾙ(") + path()
                                       + QStringLiteral(") が破損しています"));
    EXPECT_EQ(prompt->messages[1], QStringLiteral("<窓> の設定が読み込めません\rﾕｰｻﾞｰ環境ﾌｧｲﾙ(") + path()
                                       + QStringLiteral(") が破損しています"));
    // A missing group or key is no damage.
    ini.GetGtx(QStringLiteral("none"));
    EXPECT_EQ(ini.vGtVal(QStringLiteral("x"), 1).toInt(), 1);
    EXPECT_EQ(prompt->messages.size(), 2);
}

TEST_F(Settings, NoRootEndTakesNoNewGroup)
{
    const QByteArray broken = kHeader + sj(QStringLiteral("<運用>\r\n   <画面>\r\n      <LEFT>5</LEFT>\r\n   </画面>\r\n"));
    writeFile(path(), broken);
    yIni ini;
    bool ok = false;
    ini.GetTxt(path(), ok);
    ini.GetGtx(QStringLiteral("new"));
    ini.SetVal(QStringLiteral("K"), 1);
    EXPECT_FALSE(ini.SetGtx());
    // An existing group can still be rewritten.
    ini.GetGtx(QStringLiteral("画面"));
    ini.SetVal(QStringLiteral("LEFT"), 6);
    EXPECT_TRUE(ini.SetGtx());
    ini.SetTxt(ok);
    EXPECT_TRUE(ok);
    QByteArray expected = broken;
    expected.replace(">5<", ">6<");
    EXPECT_EQ(readFile(path()), expected);
}

TEST_F(Settings, WriteFailuresAndLossAreReported)
{
    yIni ini;
    bool ok = true;
    ini.SetTxt(ok);  // nothing loaded: flag untouched, nothing written
    EXPECT_TRUE(ok);

    ini.GetTxt(path(QStringLiteral("no/such/folder/User.xml")), ok);
    EXPECT_FALSE(ok);
    // Something unreadable under the name (a folder here) is left alone.
    velmor::test::makeDir(path(QStringLiteral("Dir.xml")));
    ini.GetTxt(path(QStringLiteral("Dir.xml")), ok);
    EXPECT_FALSE(ok);
    ok = true;
    ini.SetTxt(ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("Dir.xml"))).isDir());

    ini.GetTxt(path(), ok);
    ASSERT_TRUE(ok);
    ini.GetGtx(QStringLiteral("g"));
    ini.SetVal(QStringLiteral("ROOT1"), QStringLiteral("/data/\U0001F600"));  // no Shift-JIS form
    ini.SetGtx();
    ini.SetTxt(ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(readFile(path()).contains("<ROOT1>/data/?</ROOT1>"));
}
