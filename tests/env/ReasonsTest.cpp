// Reasons in the window's language: every kind of reason the run writes and
// every errno the program names comes out in Japanese, with its path.
#include "env/Reasons.h"
#include "env/SysReason.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace velmor;

namespace {
// A path that holds what a parser could take for the end of one: ": ", a
// blank, Japanese.
const QString kPath = QStringLiteral("/tmp/velmor 試験/a: b.txt");
const QString kOther = QStringLiteral("/tmp/velmor 試験/other.txt");
}

TEST(Reasons, EveryKindHasItsJapaneseTextWithThePath)
{
    for (int k = 0; k < int(Why::Count); ++k) {
        const Why why = Why(k);
        QString path = kPath;
        QStringList more{kOther, QStringLiteral("x")};
        // The kinds that hold a reason of their own get one.
        if (why == Why::MoveFallsBack)
            path = WhyText(Why::Read, kPath, EACCES);
        if (why == Why::NameRefused)
            more = QStringList{WhyText(Why::LinkUnheld, QString())};
        const QString en = WhyText(why, path, EACCES, more);
        const QString ja = ReasonJa(en);
        SCOPED_TRACE(en.toStdString());
        EXPECT_NE(ja, en);
        if (en.contains(kPath))
            EXPECT_TRUE(ja.contains(kPath)) << ja.toStdString();
        if (en.contains(kOther))
            EXPECT_TRUE(ja.contains(kOther)) << ja.toStdString();
        // No English word of the reason is left (the paths taken out; fusefat
        // is a program's name).
        QString words = ja;
        words.remove(kPath).remove(kOther).remove(QStringLiteral("fusefat"));
        EXPECT_FALSE(words.contains(QRegularExpression(QStringLiteral("[a-z]{3,}")))) << ja.toStdString();
    }
}

TEST(Reasons, EveryErrnoTheProgramNamesHasAJapaneseText)
{
    const int named[] = {EPERM,   ENOENT,   EEXIST,    EINVAL, EINTR,     EXDEV,        EOPNOTSUPP, ENOSYS,
                         ENOTDIR, ENOSPC,   ELOOP,     ESTALE, ENODATA,   EISDIR,       ERANGE,     ENOLCK,
                         EDQUOT,  ENXIO,    ENOTTY,    ENOMEM, ENAMETOOLONG, EBADF,     EAGAIN,     EACCES,
                         E2BIG,   EROFS,    EIO,       ENOTEMPTY, EILSEQ, EFBIG,        EMFILE,     EBUSY,
                         ETXTBSY, ENOTCONN, EHOSTDOWN, 0};
    for (const int err : named) {
        const QString en = WhyText(Why::Replace, kPath, err);
        const QString ja = ReasonJa(en);
        SCOPED_TRACE(en.toStdString());
        const QString head = kPath + QStringLiteral(" を置き換えられません: ");
        ASSERT_TRUE(ja.startsWith(head)) << ja.toStdString();
        const QString text = ja.mid(head.size());
        EXPECT_FALSE(text.startsWith(QStringLiteral("エラー "))) << "no text of its own: " << text.toStdString();
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[a-z]{3,}")))) << text.toStdString();
        // A full volume names its mount point.
        if (err == 0 || IsNoSpace(err))
            EXPECT_TRUE(text.contains(QStringLiteral("（%1）").arg(VolumeOf(kPath)))) << text.toStdString();
    }
    // An errno without a text of its own still says which it is.
    EXPECT_EQ(ReasonJa(WhyText(Why::Read, kPath, 200)),
              kPath + QStringLiteral(" を読み取れません: エラー 200: ") + QString::fromLocal8Bit(std::strerror(200)));
}

TEST(Reasons, JoinedReasonsMessagesAndOtherTexts)
{
    struct Case {
        QString in, out;
    };
    const QString readJa = kPath + QStringLiteral(" を読み取れません: アクセスが拒否されました");
    const Case cases[] = {
        // The system's text as a listing writes it (strerror, no volume).
        {kPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(EIO)), kPath + QStringLiteral(": 入出力エラー")},
        // Reasons the run joined, one of them a failed move.
        {WhyText(Why::Read, kPath, EACCES) + QStringLiteral("; ")
             + WhyText(Why::MoveFallsBack, WhyText(Why::ChangedSinceCompare, kPath, 0, {kOther})),
         readJa + QStringLiteral("; 移動できないため複写と削除で同期します: ") + kPath
             + QStringLiteral(" は比較した後に変わりました（") + kOther + QStringLiteral(" と同じではありません）")},
        // Japanese, or no reason of the run: as it is.
        {QStringLiteral("内容で比較: 違います"), QStringLiteral("内容で比較: 違います")},
        {QStringLiteral("something else: entirely"), QStringLiteral("something else: entirely")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReasonJa(c.in), c.out) << c.in.toStdString();
    // A message: each line on its own, the line breaks kept.
    EXPECT_EQ(MessageJa(QStringLiteral("同期されなかったﾌｫﾙﾀﾞ･ﾌｧｲﾙがあります\r") + WhyText(Why::Read, kPath, EACCES)
                        + QStringLiteral("\r\n") + WhyText(Why::Read, kPath, EACCES) + QStringLiteral("\n")),
              QStringLiteral("同期されなかったﾌｫﾙﾀﾞ･ﾌｧｲﾙがあります\r") + readJa + QStringLiteral("\r\n") + readJa
                  + QStringLiteral("\n"));
}
