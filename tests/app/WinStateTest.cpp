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

#include <tuple>

using namespace velmor;

namespace {

auto fields(const WinStateData& d)
{
    return std::make_tuple(d.left, d.top, d.width, d.height, d.root1, d.root2, d.dr1Wd, d.dr2Wd, d.dirHi, d.clsWd,
                           d.disp, d.linked, d.ftpAp);
}

WinStateData sample()
{
    return {1500, 900, 14400, 9600, QStringLiteral("/home/ユーザー/ﾃﾞｰﾀ 1"), QStringLiteral("/mnt/backup"), 4200, 3900,
            5100, QStringLiteral("56,220.5,160,56,90,110,40,56"), 2, false, QStringLiteral("/opt/zavro/Zavro")};
}

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
    // Group 画面 as the file holds it: its key lines, or written from them.
    QString group()
    {
        yIni ini;
        bool ok = false;
        ini.GetTxt(file(), ok);
        ini.GetGtx(QStringLiteral("画面"));
        return ini.groupText();
    }
    void writeGroup(const QString& keys)
    {
        test::writeFile(file(), sjis::encode(QStringLiteral("<?xml version='1.0' encoding='Shift-JIS' ?>\r\n<運用>\r\n"
                                                            "   <画面>\r\n%1   </画面>\r\n</運用>")
                                                 .arg(keys)));
    }

    test::ScopedPrompt prompt;
    QTemporaryDir tmp;
};

} // namespace

TEST_F(WinStateTest, FirstStartCreatesTheFileAndGivesDefaults)
{
    EXPECT_EQ(fields(LoadWinState()), fields(WinStateData{}));
    EXPECT_TRUE(WinStateData{}.linked);
    EXPECT_TRUE(QFileInfo::exists(file()));
    EXPECT_TRUE(prompt->messages.isEmpty());
}

TEST_F(WinStateTest, EveryKeyRoundTripsInItsOrderAndIsReplacedInPlace)
{
    ASSERT_TRUE(SaveWinState(sample()));
    const QString lines = QStringLiteral("      <LEFT>1500</LEFT>\r\n      <TOP>900</TOP>\r\n"
                                         "      <WIDTH>14400</WIDTH>\r\n      <HEIGHT>9600</HEIGHT>\r\n"
                                         "      <ROOT1>/home/ユーザー/ﾃﾞｰﾀ 1</ROOT1>\r\n      <ROOT2>/mnt/backup</ROOT2>\r\n"
                                         "      <DR1_WD>4200</DR1_WD>\r\n      <DR2_WD>3900</DR2_WD>\r\n"
                                         "      <DIR_HI>5100</DIR_HI>\r\n"
                                         "      <CLS_WD>56,220.5,160,56,90,110,40,56</CLS_WD>\r\n"
                                         "      <DISP>2</DISP>\r\n      <CHECK>非連動</CHECK>\r\n"
                                         "      <FTP_AP>/opt/zavro/Zavro</FTP_AP>\r\n");
    EXPECT_EQ(group(), lines);
    EXPECT_EQ(fields(LoadWinState()), fields(sample()));

    WinStateData e = sample();
    e.linked = true;
    e.root2.clear();
    ASSERT_TRUE(SaveWinState(e));
    EXPECT_EQ(group(), QString(lines).replace(QStringLiteral("/mnt/backup"), QString()).replace(
                           QStringLiteral("非連動"), QStringLiteral("連動")));
    EXPECT_EQ(fields(LoadWinState()), fields(e));
}

TEST_F(WinStateTest, HandOffTakesTheRecordAndKeepsTheOrdinaryKeys)
{
    const WinStateData ordinary = sample();
    ASSERT_TRUE(SaveWinState(ordinary));
    Usr::actRec = ActRec{3000, -450, 12000, 8000, QStringLiteral("/srv/site"), QStringLiteral("/ignored"), true};

    // Geometry (clamped) and folder 1 from the record, no folder 2, no "_R"
    // keys yet; the shared keys are read in both modes.
    WinStateData h = LoadWinState();
    EXPECT_EQ(fields(h), std::make_tuple(3000, 0, 12000, 8000, QStringLiteral("/srv/site"), QString(), 0, 0, 0,
                                         QString(), 2, false, ordinary.ftpAp));

    h = WinStateData{7, 7, 1, 1, QStringLiteral("/elsewhere"), QStringLiteral("/x"), 2000, 2100, 2200,
                     QStringLiteral("1,2,3,4,5,6,7,8"), 1, true, QStringLiteral("/usr/bin/zavro")};
    ASSERT_TRUE(SaveWinState(h));
    EXPECT_EQ(fields(LoadWinState()), std::make_tuple(3000, 0, 12000, 8000, QStringLiteral("/srv/site"), QString(),
                                                      2000, 2100, 2200, h.clsWd, 1, true, h.ftpAp));

    // The next ordinary run finds its layout as it left it, with the shared keys.
    Usr::actRec = ActRec{};
    WinStateData expected = ordinary;
    expected.disp = 1;
    expected.linked = true;
    expected.ftpAp = h.ftpAp;
    EXPECT_EQ(fields(LoadWinState()), fields(expected));
}

TEST_F(WinStateTest, StoredValuesOutOfTheOrdinary)
{
    // Minimised-window coordinates, numbers with trailing text, text where a
    // number belongs, a number too large, a display mode outside the menu.
    writeGroup(QStringLiteral("      <LEFT>-32000</LEFT>\r\n      <TOP>-15</TOP>\r\n      <WIDTH>12000twips</WIDTH>\r\n"
                              "      <HEIGHT>abc</HEIGHT>\r\n      <DR2_WD>99999999999</DR2_WD>\r\n"
                              "      <DISP>5</DISP>\r\n      <CHECK>連動 </CHECK>\r\n"));
    WinStateData d = LoadWinState();
    EXPECT_EQ(std::make_tuple(d.left, d.top, d.width, d.height, d.dr2Wd, d.disp, d.linked),
              std::make_tuple(0, 0, 12000, 0, 2147483647, 5, false));

    writeGroup(QStringLiteral("      <DISP>-1</DISP>\r\n      <CHECK>abc</CHECK>\r\n"));
    d = LoadWinState();
    EXPECT_EQ(d.disp, -1);
    EXPECT_FALSE(d.linked);
    // An empty CHECK is a missing one: linked.
    writeGroup(QStringLiteral("      <CHECK></CHECK>\r\n"));
    EXPECT_TRUE(LoadWinState().linked);
}

TEST_F(WinStateTest, SaveThatCannotWriteIsReported)
{
    Usr::sUsrDt = tmp.path() + QStringLiteral("/missing/");
    EXPECT_FALSE(SaveWinState(sample()));
    EXPECT_FALSE(QFileInfo::exists(Usr::sUsrDt));
}

TEST(ColumnWidthsText, PointDecimalsCommasAndLeadingNumbers)
{
    const QList<double> w = {56, 220.5, 0.25, 1000000, 90, 110, 40, 56};
    EXPECT_EQ(columnWidthsText(w), QStringLiteral("56,220.5,0.25,1000000,90,110,40,56"));
    EXPECT_EQ(parseColumnWidths(columnWidthsText(w)), w);
    EXPECT_TRUE(parseColumnWidths(QString()).isEmpty());
    // A short text gives fewer entries; junk reads as 0, which is never applied.
    EXPECT_EQ(parseColumnWidths(QStringLiteral("52, 7.5px,,abc,.5,-3")), (QList<double>{52, 7.5, 0, 0, 0.5, -3}));
}
