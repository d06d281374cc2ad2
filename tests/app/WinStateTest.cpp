// The main window's remembered state in group 画面 of "User.xml": every key
// round trip, first start, the hand-off keys, and values out of range.
#include "app/WinState.h"
#include "common/TestSupport.h"
#include "env/SjisText.h"
#include "env/Usr.h"
#include "env/yIni.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace velmor;
using velmor::test::readFile;
using velmor::test::ScopedPrompt;
using velmor::test::writeFile;

namespace {

const QByteArray kHeader = "<?xml version='1.0' encoding='Shift-JIS' ?>\r\n";

class WinStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        Usr::sUsrDt = tmp.path() + QLatin1Char('/');
        Usr::actRec = ActRec{};
    }
    void TearDown() override
    {
        Usr::sUsrDt.clear();
        Usr::actRec = ActRec{};
    }
    QString file() const { return tmp.path() + QStringLiteral("/User.xml"); }
    // Writes group 画面 with the given key lines (each "<K>v</K>").
    void writeGroup(const QString& keyLines)
    {
        QString doc = QStringLiteral("<運用>\r\n   <画面>\r\n");
        for (const QString& line : keyLines.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            doc += QStringLiteral("      ") + line + QStringLiteral("\r\n");
        doc += QStringLiteral("   </画面>\r\n</運用>");
        writeFile(file(), kHeader + sjis::encode(doc));
    }
    // The key texts of group 画面 as the file holds them.
    QString key(const QString& name)
    {
        yIni ini;
        bool ok = false;
        ini.GetTxt(file(), ok);
        ini.GetGtx(QStringLiteral("画面"));
        return ini.vGtVal(name, QStringLiteral("<missing>")).toString();
    }
    QString group()
    {
        yIni ini;
        bool ok = false;
        ini.GetTxt(file(), ok);
        ini.GetGtx(QStringLiteral("画面"));
        return ini.groupText();
    }

    ScopedPrompt prompt;
    QTemporaryDir tmp;
};

WinStateData sample()
{
    WinStateData d;
    d.left = 1500;
    d.top = 900;
    d.width = 14400;
    d.height = 9600;
    d.root1 = QStringLiteral("/home/ユーザー/ﾃﾞｰﾀ 1");
    d.root2 = QStringLiteral("/mnt/backup");
    d.dr1Wd = 4200;
    d.dr2Wd = 3900;
    d.dirHi = 5100;
    d.clsWd = QStringLiteral("56,220.5,160,56,90,110,40,56");
    d.disp = 2;
    d.linked = false;
    d.ftpAp = QStringLiteral("/opt/zavro/Zavro");
    return d;
}

void expectSame(const WinStateData& a, const WinStateData& b)
{
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.top, b.top);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.root1, b.root1);
    EXPECT_EQ(a.root2, b.root2);
    EXPECT_EQ(a.dr1Wd, b.dr1Wd);
    EXPECT_EQ(a.dr2Wd, b.dr2Wd);
    EXPECT_EQ(a.dirHi, b.dirHi);
    EXPECT_EQ(a.clsWd, b.clsWd);
    EXPECT_EQ(a.disp, b.disp);
    EXPECT_EQ(a.linked, b.linked);
    EXPECT_EQ(a.ftpAp, b.ftpAp);
}

} // namespace

TEST_F(WinStateTest, FirstStartCreatesTheFileAndGivesDefaults)
{
    ASSERT_FALSE(QFileInfo::exists(file()));
    const WinStateData d = LoadWinState();
    expectSame(d, WinStateData{});
    EXPECT_TRUE(d.linked);
    ASSERT_TRUE(QFileInfo::exists(file()));
    EXPECT_EQ(QFileInfo(file()).size(), 0);
    EXPECT_TRUE(prompt->messages.isEmpty());
}

TEST_F(WinStateTest, EveryKeyRoundTripsInItsOrder)
{
    const WinStateData d = sample();
    ASSERT_TRUE(SaveWinState(d));
    EXPECT_EQ(group(), QStringLiteral("      <LEFT>1500</LEFT>\r\n"
                                      "      <TOP>900</TOP>\r\n"
                                      "      <WIDTH>14400</WIDTH>\r\n"
                                      "      <HEIGHT>9600</HEIGHT>\r\n"
                                      "      <ROOT1>/home/ユーザー/ﾃﾞｰﾀ 1</ROOT1>\r\n"
                                      "      <ROOT2>/mnt/backup</ROOT2>\r\n"
                                      "      <DR1_WD>4200</DR1_WD>\r\n"
                                      "      <DR2_WD>3900</DR2_WD>\r\n"
                                      "      <DIR_HI>5100</DIR_HI>\r\n"
                                      "      <CLS_WD>56,220.5,160,56,90,110,40,56</CLS_WD>\r\n"
                                      "      <DISP>2</DISP>\r\n"
                                      "      <CHECK>非連動</CHECK>\r\n"
                                      "      <FTP_AP>/opt/zavro/Zavro</FTP_AP>\r\n"));
    expectSame(LoadWinState(), d);

    // Saving again replaces the values in place; other groups stay.
    const QByteArray before = readFile(file());
    writeFile(file(), before.chopped(sjis::encode(QStringLiteral("</運用>")).size())
                          + sjis::encode(QStringLiteral("   <他>\r\n      <X>1</X>\r\n   </他>\r\n</運用>")));
    WinStateData e = d;
    e.linked = true;
    e.root2.clear();
    e.left = 0;
    ASSERT_TRUE(SaveWinState(e));
    EXPECT_EQ(key(QStringLiteral("CHECK")), QStringLiteral("連動"));
    EXPECT_EQ(key(QStringLiteral("LEFT")), QStringLiteral("0"));
    EXPECT_EQ(group().count(QStringLiteral("<LEFT>")), 1);
    EXPECT_TRUE(readFile(file()).contains(sjis::encode(QStringLiteral("   <他>\r\n      <X>1</X>\r\n   </他>\r\n"))));
    const WinStateData back = LoadWinState();
    expectSame(back, e);
    // An empty stored root reads as empty (the tree then falls back itself).
    EXPECT_TRUE(back.root2.isEmpty());
}

TEST_F(WinStateTest, HandOffUsesTheRecordAndOnlyTheRKeys)
{
    const WinStateData ordinary = sample();
    ASSERT_TRUE(SaveWinState(ordinary));

    Usr::actRec.nLeft = 3000;
    Usr::actRec.nTop = 450;
    Usr::actRec.nWidth = 12000;
    Usr::actRec.nHeight = 8000;
    Usr::actRec.sRoot1 = QStringLiteral("/srv/site");
    Usr::actRec.sRoot2 = QStringLiteral("/ignored");
    Usr::actRec.bActOn = true;

    // Geometry and folder 1 from the record, no folder 2, no "_R" keys yet.
    WinStateData h = LoadWinState();
    EXPECT_EQ(h.left, 3000);
    EXPECT_EQ(h.top, 450);
    EXPECT_EQ(h.width, 12000);
    EXPECT_EQ(h.height, 8000);
    EXPECT_EQ(h.root1, QStringLiteral("/srv/site"));
    EXPECT_TRUE(h.root2.isEmpty());
    EXPECT_EQ(h.dr1Wd, 0);
    EXPECT_EQ(h.dr2Wd, 0);
    EXPECT_EQ(h.dirHi, 0);
    EXPECT_TRUE(h.clsWd.isEmpty());
    // The shared keys are read in both modes.
    EXPECT_EQ(h.disp, 2);
    EXPECT_FALSE(h.linked);
    EXPECT_EQ(h.ftpAp, ordinary.ftpAp);

    h.left = 7;
    h.width = 1;
    h.root1 = QStringLiteral("/elsewhere");
    h.dr1Wd = 2000;
    h.dr2Wd = 2100;
    h.dirHi = 2200;
    h.clsWd = QStringLiteral("1,2,3,4,5,6,7,8");
    h.disp = 1;
    h.linked = true;
    h.ftpAp = QStringLiteral("/usr/bin/zavro");
    ASSERT_TRUE(SaveWinState(h));

    // The ordinary layout is left exactly as the last ordinary run wrote it.
    EXPECT_EQ(key(QStringLiteral("LEFT")), QStringLiteral("1500"));
    EXPECT_EQ(key(QStringLiteral("TOP")), QStringLiteral("900"));
    EXPECT_EQ(key(QStringLiteral("WIDTH")), QStringLiteral("14400"));
    EXPECT_EQ(key(QStringLiteral("HEIGHT")), QStringLiteral("9600"));
    EXPECT_EQ(key(QStringLiteral("ROOT1")), ordinary.root1);
    EXPECT_EQ(key(QStringLiteral("ROOT2")), ordinary.root2);
    EXPECT_EQ(key(QStringLiteral("DR1_WD")), QStringLiteral("4200"));
    EXPECT_EQ(key(QStringLiteral("DR2_WD")), QStringLiteral("3900"));
    EXPECT_EQ(key(QStringLiteral("DIR_HI")), QStringLiteral("5100"));
    EXPECT_EQ(key(QStringLiteral("CLS_WD")), ordinary.clsWd);
    EXPECT_EQ(key(QStringLiteral("DR1_WD_R")), QStringLiteral("2000"));
    EXPECT_EQ(key(QStringLiteral("DR2_WD_R")), QStringLiteral("2100"));
    EXPECT_EQ(key(QStringLiteral("DIR_HI_R")), QStringLiteral("2200"));
    EXPECT_EQ(key(QStringLiteral("CLS_WD_R")), QStringLiteral("1,2,3,4,5,6,7,8"));
    EXPECT_EQ(key(QStringLiteral("DISP")), QStringLiteral("1"));
    EXPECT_EQ(key(QStringLiteral("CHECK")), QStringLiteral("連動"));
    EXPECT_EQ(key(QStringLiteral("FTP_AP")), QStringLiteral("/usr/bin/zavro"));

    // The next hand-off run gets its own panes back ...
    h = LoadWinState();
    EXPECT_EQ(h.dr1Wd, 2000);
    EXPECT_EQ(h.clsWd, QStringLiteral("1,2,3,4,5,6,7,8"));
    EXPECT_EQ(h.root1, QStringLiteral("/srv/site"));
    // ... and the next ordinary run its own layout, with the shared keys.
    Usr::actRec = ActRec{};
    WinStateData o = LoadWinState();
    WinStateData expected = ordinary;
    expected.disp = 1;
    expected.linked = true;
    expected.ftpAp = QStringLiteral("/usr/bin/zavro");
    expectSame(o, expected);
}

TEST_F(WinStateTest, HandOffPositionIsClampedToo)
{
    Usr::actRec.nLeft = -200;
    Usr::actRec.nTop = -1;
    Usr::actRec.nWidth = 100;
    Usr::actRec.nHeight = 100;
    Usr::actRec.bActOn = true;
    const WinStateData d = LoadWinState();
    EXPECT_EQ(d.left, 0);
    EXPECT_EQ(d.top, 0);
}

TEST_F(WinStateTest, StoredValuesOutOfTheOrdinary)
{
    // Minimised-window coordinates, numbers with trailing text, text where a
    // number belongs, a display mode outside the menu, an unknown CHECK word.
    writeGroup(QStringLiteral("<LEFT>-32000</LEFT>\n<TOP>-15</TOP>\n<WIDTH>12000twips</WIDTH>\n<HEIGHT>abc</HEIGHT>\n"
                              "<DR1_WD>300.4</DR1_WD>\n<DR2_WD>99999999999</DR2_WD>\n<DISP>5</DISP>\n"
                              "<CHECK>非連動</CHECK>\n<ROOT1></ROOT1>"));
    WinStateData d = LoadWinState();
    EXPECT_EQ(d.left, 0);
    EXPECT_EQ(d.top, 0);
    EXPECT_EQ(d.width, 12000);
    EXPECT_EQ(d.height, 0);
    EXPECT_EQ(d.dr1Wd, 300);
    EXPECT_EQ(d.dr2Wd, 2147483647);  // held at the bound, never wrapped negative
    EXPECT_EQ(d.disp, 5);            // kept: no display menu item is ticked
    EXPECT_FALSE(d.linked);
    EXPECT_TRUE(d.root1.isEmpty());

    writeGroup(QStringLiteral("<DISP>-1</DISP>\n<CHECK>連動 </CHECK>"));
    d = LoadWinState();
    EXPECT_EQ(d.disp, -1);
    EXPECT_FALSE(d.linked);  // only the exact word links

    writeGroup(QStringLiteral("<CHECK>abc</CHECK>\n<DISP>2</DISP>"));
    d = LoadWinState();
    EXPECT_FALSE(d.linked);
    EXPECT_EQ(d.disp, 2);

    // An empty CHECK is a missing key: linked.
    writeGroup(QStringLiteral("<CHECK></CHECK>"));
    EXPECT_TRUE(LoadWinState().linked);
    EXPECT_TRUE(prompt->messages.isEmpty());
}

TEST_F(WinStateTest, DamagedGroupGivesDefaultsWithTheMessage)
{
    writeFile(file(), kHeader + sjis::encode(QStringLiteral("<運用>\r\n   <画面>\r\n      <LEFT>5</LEFT>\r\n</運用>")));
    const WinStateData d = LoadWinState();
    expectSame(d, WinStateData{});
    ASSERT_EQ(prompt->messages.size(), 1);
    EXPECT_TRUE(prompt->messages[0].startsWith(QStringLiteral("<画面> の設定が読み込めません\r")));
}

TEST_F(WinStateTest, UnwritableFolderIsReportedNotIgnored)
{
    Usr::sUsrDt = tmp.path() + QStringLiteral("/missing/folder/");
    EXPECT_FALSE(SaveWinState(sample()));
    EXPECT_FALSE(QFileInfo::exists(Usr::sUsrDt + QStringLiteral("User.xml")));
    // Loading there still gives the defaults.
    expectSame(LoadWinState(), WinStateData{});
}

TEST(ColumnWidthsText, FormatsWithPointAndParsesBack)
{
    const QList<double> w = {56, 220.5, 0.25, 1000000, 90, 110, 40, 56};
    const QString text = columnWidthsText(w);
    EXPECT_EQ(text, QStringLiteral("56,220.5,0.25,1000000,90,110,40,56"));
    EXPECT_EQ(text.count(QLatin1Char(',')), 7);
    EXPECT_EQ(parseColumnWidths(text), w);
    EXPECT_EQ(columnWidthsText({}), QString());
}

TEST(ColumnWidthsText, ParsesLeadingNumbersEntryByEntry)
{
    EXPECT_TRUE(parseColumnWidths(QString()).isEmpty());
    // A short text gives fewer entries; junk reads as 0, which is never applied.
    EXPECT_EQ(parseColumnWidths(QStringLiteral("52, 7.5px,,abc,.5,-3")), (QList<double>{52, 7.5, 0, 0, 0.5, -3}));
    EXPECT_EQ(parseColumnWidths(QStringLiteral("12")), QList<double>{12});
    // A comma is a separator, never a decimal point.
    EXPECT_EQ(parseColumnWidths(QStringLiteral("1,5")), (QList<double>{1, 5}));
}
