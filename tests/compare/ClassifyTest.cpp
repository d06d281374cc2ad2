// Decision tables and patterns, as pure functions.
#include "compare/Compare.h"
#include "compare/FsList.h"
#include "compare/Session.h"
#include "tree/WildMatch.h"

#include <gtest/gtest.h>

using namespace velmor;

namespace {
YRt sw(std::initializer_list<int> onIdx)
{
    YRt y{};
    for (int i : onIdx)
        y[size_t(i)] = 1;
    return y;
}
} // namespace

TEST(FolderStatusTest, EveryLineOfTheTable)
{
    // (del, container, in1, in2, attrOk, filterOn)
    // Attribute refusal wins everywhere.
    for (bool del : {true, false})
        for (bool cont : {true, false})
            EXPECT_EQ(FolderStatus(del, cont, true, true, false, false), St::Excl);
    // Both sides.
    EXPECT_EQ(FolderStatus(true, true, true, true, true, false), St::Kara);
    EXPECT_EQ(FolderStatus(true, false, true, true, true, false), St::Cmp);
    EXPECT_EQ(FolderStatus(false, true, true, true, true, false), St::None);
    EXPECT_EQ(FolderStatus(false, false, true, true, true, false), St::Cmp);
    // Folder 1 only.
    EXPECT_EQ(FolderStatus(true, true, true, false, true, false), St::KaraAdd);
    EXPECT_EQ(FolderStatus(true, false, true, false, true, false), St::Add);
    EXPECT_EQ(FolderStatus(false, true, true, false, true, false), St::None);
    EXPECT_EQ(FolderStatus(false, false, true, false, true, false), St::Add);
    // Folder 2 only, or neither.
    EXPECT_EQ(FolderStatus(true, true, false, true, true, false), St::Del);
    EXPECT_EQ(FolderStatus(true, false, false, true, true, false), St::Del);
    EXPECT_EQ(FolderStatus(false, true, false, true, true, false), St::None);
    EXPECT_EQ(FolderStatus(false, false, false, true, true, false), St::None);
    EXPECT_EQ(FolderStatus(true, false, false, false, true, false), St::Del);
    // An active filter turns "追加" into "比較F", nothing else.
    EXPECT_EQ(FolderStatus(true, false, true, false, true, true), St::CmpF);
    EXPECT_EQ(FolderStatus(false, false, true, false, true, true), St::CmpF);
    EXPECT_EQ(FolderStatus(true, true, true, false, true, true), St::KaraAdd);
}

TEST(ChkAttrTest, SwitchesProtectTheirAttributeOnly)
{
    EXPECT_TRUE(ChkAttr(sw({5, 6, 7}), QString()));
    EXPECT_TRUE(ChkAttr(sw({5, 6, 7}), QStringLiteral("***")));
    EXPECT_FALSE(ChkAttr(sw({5}), QStringLiteral("R**")));
    EXPECT_TRUE(ChkAttr(sw({5}), QStringLiteral("*H*")));
    EXPECT_FALSE(ChkAttr(sw({6}), QStringLiteral("RH*")));
    EXPECT_FALSE(ChkAttr(sw({7}), QStringLiteral("**S")));
    EXPECT_TRUE(ChkAttr(sw({}), QStringLiteral("RHS")));
    EXPECT_TRUE(ChkAttr(sw({0, 1, 2, 3, 4}), QStringLiteral("RHS")));
}

TEST(FileStatusTest, DatesSizesExactTimesKeepNewerAndDelete)
{
    // Exact times in seconds (nanoseconds below), date texts as the scan makes them.
    const long long t0 = 1261415100;  // 09/12/21 17:05:00
    const QString m0 = QStringLiteral("09/12/21 17:05");
    const QString m1 = QStringLiteral("09/12/21 17:06");
    const QString y99 = QStringLiteral("99/06/01 12:00"), y26 = QStringLiteral("26/06/01 12:00");
    const long long t99 = 928238400, t26 = 1780315200;
    struct Case {
        const char* what;
        FileSide one, two;
        bool keep, del;
        QString want;
    };
    const auto side = [](const QString& u, long long size, long long secs, long long ns = 0) {
        return FileSide{u, size, {secs, ns}};
    };
    const Case cases[] = {
        {"same second, same size", side(m0, 5, t0, 1), side(m0, 5, t0, 999999999), true, false, St::Same},
        // An edit within the same minute that kept the size.
        {"same text, same size, other second", side(m0, 5, t0 + 45), side(m0, 5, t0 + 5), false, false, St::Over},
        {"same minute, other size", side(m0, 6, t0 + 30), side(m0, 5, t0), false, false, St::Over},
        {"same minute, other size, keep, folder 1 later", side(m0, 6, t0 + 30), side(m0, 5, t0), true, false, St::Over},
        {"same text, keep, folder 2 later by a nanosecond", side(m0, 6, t0, 5), side(m0, 5, t0, 6), true, false, St::None},
        {"same text, folder 2 later, keep off", side(m0, 6, t0), side(m0, 5, t0 + 1), false, false, St::Over},
        {"folder 1 newer, keep", side(m1, 1, t0 + 60), side(m0, 1, t0), true, false, St::Over},
        {"folder 2 newer, keep", side(m0, 1, t0), side(m1, 1, t0 + 60), true, false, St::None},
        {"folder 2 newer, keep off", side(m0, 1, t0), side(m1, 1, t0 + 60), false, false, St::Over},
        // Decided on the times, never on two-digit years ("26/" < "99/").
        {"2026 source over a 1999 destination, keep", side(y26, 1, t26), side(y99, 1, t99), true, false, St::Over},
        {"1999 source, 2026 destination, keep", side(y99, 1, t99), side(y26, 1, t26), true, false, St::None},
        // The same clock face a century apart (two-digit years), or an hour
        // apart in the hour that repeats when summer time ends.
        {"same text a century apart", side(m0, 5, t0), side(m0, 5, t0 - 3155760000), false, false, St::Over},
        {"same text an hour apart", side(m0, 5, t0), side(m0, 5, t0 + 3600), false, false, St::Over},
        {"same text, 1969 and 1869", side(m0, 5, -60), side(m0, 5, -60 - 3155760000), false, false, St::Over},
        {"same text, same second before 1970", side(m0, 5, -60, 3), side(m0, 5, -60, 7), false, false, St::Same},
        {"same text, other second before 1970", side(m0, 5, -60), side(m0, 5, -1), false, false, St::Over},
        // Before 1970 and past 2262, where nanoseconds since the epoch overflow 64 bits.
        {"2300 destination, keep", side(y26, 1, t26), side(y99, 1, 10413792000), true, false, St::None},
        {"2300 source, keep", side(y26, 1, 10413792000), side(y99, 1, t26), true, false, St::Over},
        {"2400 destination over 2300, keep", side(y26, 1, 10413792000), side(y99, 1, 13569465600), true, false, St::None},
        {"1950 source, keep", side(y26, 1, -631152000), side(y99, 1, t26), true, false, St::None},
        {"folder 1 only", side(m0, 1, t0), FileSide(), true, true, St::Add},
        {"folder 2 only", FileSide(), side(m0, 1, t0), false, false, St::None},
        {"folder 2 only, delete", FileSide(), side(m0, 1, t0), false, true, St::Del},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileStatusByDates(c.one, c.two, c.keep, c.del), c.want) << c.what;
}

TEST(FileStatusTest, TypeMetadataAndReasons)
{
    const long long t0 = 1261415105;  // 09/12/21 17:05:05
    const QString m0 = QStringLiteral("09/12/21 17:05");
    const FileXattrs none, user{{}, QByteArray("user.a\0\0\0\0\1x", 12)}, acl{QByteArray("acl"), {}};
    struct Case {
        const char* what;
        unsigned mode1, mode2;
        long long size2, time2;
        unsigned owner2;
        const FileXattrs *x1, *x2;
        bool owners;
        QString want;
        bool metaOnly;
        const char* reason;  // a part of the reason ("" none)
    };
    const Case cases[] = {
        {"all equal", 0100644, 0100644, 5, t0, 0, &none, &none, true, St::Same, false, ""},
        {"chmod +x", 0100755, 0100644, 5, t0, 0, &none, &none, true, St::Over, true, "ｱｸｾｽ権 0644→0755"},
        {"set-user-ID", 0104755, 0100755, 5, t0, 0, &none, &none, true, St::Over, true, "ｱｸｾｽ権 0755→4755"},
        {"modes of links are none", 0120777, 0120755, 5, t0, 0, &none, &none, true, St::Same, false, ""},
        {"other owner", 0100644, 0100644, 5, t0, 7, &none, &none, true, St::Over, true, "所有者 7:7→0:0"},
        {"other owner, not compared", 0100644, 0100644, 5, t0, 7, &none, &none, false, St::Same, false, ""},
        {"an attribute set", 0100644, 0100644, 5, t0, 0, &user, &none, true, St::Over, true, "拡張属性"},
        {"an ACL set", 0100644, 0100644, 5, t0, 0, &acl, &none, true, St::Over, true, "ACL"},
        {"attributes not read", 0100644, 0100644, 5, t0, 0, &user, nullptr, true, St::Same, false, ""},
        {"content and mode", 0100755, 0100644, 6, t0, 0, &none, &none, true, St::Over, false, ""},
        {"a link for a file", 0120777, 0100644, 5, t0, 0, &none, &none, true, St::Over, false, "種類が違います: ﾌｧｲﾙ → ﾘﾝｸ"},
        {"a file for a link", 0100644, 0120777, 5, t0, 0, &none, &none, true, St::Over, false, "種類が違います: ﾘﾝｸ → ﾌｧｲﾙ"},
        {"same text, other second", 0100644, 0100644, 5, t0 + 40, 0, &none, &none, true, St::Over, false,
         "表示の日付は同じでも日時が違います"},
        {"other text", 0100644, 0100644, 5, t0 + 60, 0, &none, &none, true, St::Over, false, ""},
    };
    for (const Case& c : cases) {
        const FileSide one{m0, 5, {t0, 0}, c.mode1, 0, 0, c.x1};
        const FileSide two{DateText(c.time2), c.size2, {c.time2, 0}, c.mode2, c.owner2, c.owner2, c.x2};
        const FileVerdict v = FileVerdictOf(one, two, false, false, {}, {true, c.owners});
        EXPECT_EQ(v.status, c.want) << c.what;
        EXPECT_EQ(v.metaOnly, c.metaOnly) << c.what;
        EXPECT_TRUE(QString::fromUtf8(c.reason).isEmpty() ? v.reason.isEmpty() : v.reason.contains(QString::fromUtf8(c.reason)))
            << c.what << ": " << v.reason.toStdString();
    }
}

TEST(FileStatusTest, EveryLineOfTheRefusalTable)
{
    using R = FileRefusal;
    for (R why : {R::OwnFile, R::Filter}) {
        EXPECT_EQ(RefusedStatus(St::Add, why, true), St::Excl);
        EXPECT_EQ(RefusedStatus(St::Add, why, false), St::Excl);
        EXPECT_EQ(RefusedStatus(St::Same, why, true), St::Del);
        EXPECT_EQ(RefusedStatus(St::Same, why, false), St::Excl);
        EXPECT_EQ(RefusedStatus(St::Over, why, true), St::Del);
        EXPECT_EQ(RefusedStatus(St::Over, why, false), St::Excl);
        EXPECT_EQ(RefusedStatus(St::Del, why, true), St::Del);
        EXPECT_EQ(RefusedStatus(St::None, why, true), St::None);
        EXPECT_EQ(RefusedStatus(St::None, why, false), St::Excl);
    }
    // An attribute refusal never deletes the protected copy.
    for (const QString& st : {St::Add, St::Same, St::Over, St::Del, St::None})
        for (bool del : {true, false})
            EXPECT_EQ(RefusedStatus(st, R::Attribute, del), St::Excl);
    EXPECT_EQ(RefusedStatus(St::Over, R::None, true), St::Over);
}

TEST(ChkFileTest, OwnFilesAttributesAndFilterModes)
{
    Session s;
    EXPECT_EQ(ChkFile(s, QStringLiteral("sync.MDB"), QString()), FileRefusal::OwnFile);
    EXPECT_EQ(ChkFile(s, QStringLiteral("xml"), QString()), FileRefusal::OwnFile);
    EXPECT_EQ(ChkFile(s, QStringLiteral("Lirad.mdb"), QString()), FileRefusal::OwnFile);
    EXPECT_EQ(ChkFile(s, QStringLiteral("Sync.md"), QString()), FileRefusal::None);
    // A name between two dots of the list, wherever it stands in it.
    EXPECT_EQ(ChkFile(s, QStringLiteral("MDB.velmor"), QString()), FileRefusal::OwnFile);
    EXPECT_EQ(ChkFile(s, QStringLiteral("sync.mdb.velmor.xml.lirad.xml.lirad.mdb"), QString()),
              FileRefusal::OwnFile);
    for (const char* n : {"ync.mdb", "lirad.mdb.", ".sync", "sync.mdb.velmor.xml.lirad.xml.lirad.mdbx", ""})
        EXPECT_EQ(ChkFile(s, QLatin1String(n), QString()), FileRefusal::None) << n;
    s.yRt[5] = 1;
    EXPECT_EQ(ChkFile(s, QStringLiteral("a.txt"), QStringLiteral("R**")), FileRefusal::Attribute);

    s.nFltMd = 1;
    s.vFltEx = QStringLiteral("bak,tmp").split(QLatin1Char(','));
    EXPECT_EQ(ChkFile(s, QStringLiteral("old.BAK"), QString()), FileRefusal::Filter);
    EXPECT_EQ(ChkFile(s, QStringLiteral("readme.txt"), QString()), FileRefusal::None);
    s.nFltMd = 2;
    s.vFltIn = QStringList{QStringLiteral("*.htm*"), QStringLiteral(" "), QString()};
    EXPECT_EQ(ChkFile(s, QStringLiteral("index.html"), QString()), FileRefusal::None);
    EXPECT_EQ(ChkFile(s, QStringLiteral("logo.gif"), QString()), FileRefusal::Filter);
    EXPECT_EQ(FilterEntries({QStringLiteral(" jpg "), QString(), QStringLiteral("a.b")}),
              (QStringList{QStringLiteral("*.jpg"), QStringLiteral("a.b")}));
}

TEST(PatternTest, ProtectionExclusionAndPathPatterns)
{
    TaskPanel p;
    p.txHogo = QStringLiteral(" *.CGI , data\\* ,,makefile.");
    p.txJogai = QStringLiteral("*.psd,img/*.gif");
    const PtnLists l = LstPtn(p);
    EXPECT_EQ(l.vHogo, (QStringList{QStringLiteral("*.cgi"), QStringLiteral("*data/*"), QStringLiteral("makefile.")}));
    EXPECT_EQ(l.vJogai, (QStringList{QStringLiteral("*.psd"), QStringLiteral("*img/*.gif")}));

    const auto st = [&](const QString& path, const QString& b, const QString& e, QString status) {
        ChkPtn(l, path, b, e, status);
        return status;
    };
    EXPECT_EQ(st(QStringLiteral("web"), QStringLiteral("run"), QStringLiteral("cgi"), St::Over), St::Prot);
    EXPECT_EQ(st(QStringLiteral("web"), QStringLiteral("run"), QStringLiteral("cgi"), St::Del), St::Prot);
    EXPECT_EQ(st(QStringLiteral("web"), QStringLiteral("run"), QStringLiteral("cgi"), St::Add), St::Add);
    EXPECT_EQ(st(QStringLiteral("x"), QStringLiteral("art"), QStringLiteral("psd"), St::Add), St::Excl);
    EXPECT_EQ(st(QStringLiteral("x"), QStringLiteral("art"), QStringLiteral("psd"), St::Del), St::Del);
    // Path patterns at any depth; "*" also spans "/".
    EXPECT_EQ(st(QStringLiteral("a/mydata/deep"), QStringLiteral("f"), QStringLiteral("txt"), St::Del), St::Prot);
    EXPECT_EQ(st(QStringLiteral("a/datax"), QStringLiteral("f"), QStringLiteral("txt"), St::Del), St::Del);
    EXPECT_EQ(st(QStringLiteral("site/img"), QStringLiteral("logo"), QStringLiteral("gif"), St::Add), St::Excl);
    EXPECT_EQ(st(QStringLiteral("site/img"), QStringLiteral("logo"), QStringLiteral("png"), St::Add), St::Add);
    // Makefile (no extension) has the name text "makefile.".
    EXPECT_EQ(st(QStringLiteral("x"), QStringLiteral("Makefile"), QString(), St::Over), St::Prot);
    // Protection is tested before exclusion.
    TaskPanel both;
    both.txHogo = QStringLiteral("*.txt");
    both.txJogai = QStringLiteral("*.txt");
    QString s = St::Over;
    ChkPtn(LstPtn(both), QStringLiteral("p"), QStringLiteral("a"), QStringLiteral("txt"), s);
    EXPECT_EQ(s, St::Prot);

    // "\" and "/" in a typed pattern mean the same.
    TaskPanel back, fwd;
    back.txJogai = QStringLiteral("img\\*.gif");
    fwd.txJogai = QStringLiteral("img/*.gif");
    EXPECT_EQ(LstPtn(back).vJogai, LstPtn(fwd).vJogai);

    EXPECT_EQ(InvalidPattern({QStringLiteral("*.ok"), QStringLiteral("[ab")}), QStringLiteral("[ab"));
    EXPECT_EQ(InvalidPattern({QStringLiteral("[ab]*")}), QString());
    TaskPanel bad;
    bad.txHogo = QStringLiteral("[x");
    QString t = St::Del;
    EXPECT_THROW(ChkPtn(LstPtn(bad), QStringLiteral("p"), QStringLiteral("a"), QStringLiteral("b"), t), PatternError);
}

TEST(ResultListTest, NameSplitAndActionFlags)
{
    QString b, e;
    SplitName(QStringLiteral("photo.tar.gz"), b, e);
    EXPECT_EQ(b, QStringLiteral("photo.tar"));
    EXPECT_EQ(e, QStringLiteral("gz"));
    SplitName(QStringLiteral("README"), b, e);
    EXPECT_EQ(b, QStringLiteral("README"));
    EXPECT_EQ(e, QString());
    SplitName(QStringLiteral(".htaccess"), b, e);
    EXPECT_EQ(b, QString());
    EXPECT_EQ(e, QStringLiteral("htaccess"));

    for (const QString& none : {St::Same, St::Excl, St::None, QString()}) {
        EXPECT_EQ(ActionFlag(none, false), QStringLiteral("0")) << none.toStdString();
        EXPECT_EQ(ActionFlag(none, true), QStringLiteral("0")) << none.toStdString();
    }
    EXPECT_EQ(ActionFlag(St::Prot, true), QStringLiteral("0"));
    for (const QString& act : {St::Add, St::Del, St::Over, St::Kara, St::KaraAdd, St::CmpF})
        EXPECT_EQ(ActionFlag(act, act == St::Over), QStringLiteral("1")) << act.toStdString();
}

TEST(ResultListTest, SizeColumnsAreNumbersShownAsText)
{
    ResultRow r;
    EXPECT_EQ(r.text(5), QString()) << "a folder row shows no sizes";
    EXPECT_EQ(r.text(9), QString());
    r.setText(5, QStringLiteral("0"));
    r.setText(9, QStringLiteral("5368709120"));
    EXPECT_EQ(r.text(5), QStringLiteral("0"));
    EXPECT_EQ(r.text(9), QStringLiteral("5368709120")) << "sizes beyond 4 GiB";
    r.setText(9, QStringLiteral("12 KB"));
    EXPECT_EQ(r.text(9), QString());
}

TEST(FileStatusTest, IgnoredShiftAndTwoSecondTimes)
{
    const long long t0 = 1261415100;  // 17:05:00 UTC
    struct Case {
        const char* what;
        long long secs1, nsec1, secs2, nsec2;  // the two exact times
        long long size2;                       // folder 1 has 5 bytes
        TimeMatch match;
        QString want;
    };
    const Case cases[] = {
        {"60 minutes later, shift 60", t0 + 10, 0, t0 + 3610, 0, 5, {60, false}, St::Same},
        {"60 minutes earlier, shift 60", t0 + 10, 0, t0 - 3590, 0, 5, {60, false}, St::Same},
        {"60 minutes later, other size", t0 + 10, 0, t0 + 3610, 0, 4, {60, false}, St::Over},
        {"59 minutes later, shift 60", t0 + 10, 0, t0 + 3550, 0, 5, {60, false}, St::Over},
        {"60 minutes later, shift 0", t0 + 10, 0, t0 + 3610, 0, 5, {0, false}, St::Over},
        {"across a minute by half a second, two-second times", t0 - 1, 500000000, t0, 0, 5, {0, true}, St::Same},
        {"across a minute by half a second", t0 - 1, 500000000, t0, 0, 5, {0, false}, St::Over},
        {"across a minute by 2 s and a nanosecond, two-second times", t0 - 1, 0, t0 + 1, 1, 5, {0, true}, St::Over},
        {"60 minutes and a second across a minute, both", t0 - 1, 0, t0 + 3600, 0, 5, {60, true}, St::Same},
        {"60 minutes and a second across a minute, shift only", t0 - 1, 0, t0 + 3600, 0, 5, {60, false}, St::Over},
    };
    DateTexts dates;
    for (const Case& c : cases) {
        const FileSide one{dates.text(c.secs1), 5, {c.secs1, c.nsec1}};
        const FileSide two{dates.text(c.secs2), c.size2, {c.secs2, c.nsec2}};
        EXPECT_EQ(FileStatusByDates(one, two, false, false, c.match), c.want) << c.what;
    }
}
