#include "app/Startup.h"
#include "common/TestSupport.h"
#include "env/SjisText.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::writeFile;

namespace {
QByteArray le32(qint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
QByteArray record(qint32 l, qint32 t, qint32 w, qint32 h, const QString& r1, const QString& r2, quint16 flag)
{
    const QByteArray s1 = sjis::encode(r1), s2 = sjis::encode(r2);
    return le32(l) + le32(t) + le32(w) + le32(h) + le16(quint16(s1.size())) + s1 + le16(quint16(s2.size())) + s2
           + le16(flag);
}
} // namespace

TEST(Startup, ExeBaseName)
{
    EXPECT_EQ(exeBaseName(QStringLiteral("/opt/q/Velmor_DV")), QStringLiteral("Velmor"));
    EXPECT_EQ(exeBaseName(QStringLiteral("/opt/q/Velmor_dv")), QStringLiteral("Velmor"));
    EXPECT_EQ(exeBaseName(QStringLiteral("/opt/q/Velmor_Dv.exe")), QStringLiteral("Velmor"));
    EXPECT_EQ(exeBaseName(QStringLiteral("/opt/q/Velmor")), QStringLiteral("Velmor"));
    EXPECT_EQ(exeBaseName(QStringLiteral("velmor-cli")), QStringLiteral("velmor-cli"));
    EXPECT_EQ(exeBaseName(QStringLiteral("/opt/q/my_dvd")), QStringLiteral("my_dvd"));
    EXPECT_EQ(exeBaseName(QStringLiteral("/opt/q/_DV")), QString());
}

TEST(Startup, CommandLineTaskText)
{
    EXPECT_EQ(commandLineText({}), QString());
    EXPECT_EQ(commandLineText({QStringLiteral("週次"), QStringLiteral("バックアップ")}), QStringLiteral("週次 バックアップ"));
    EXPECT_EQ(commandLineText({QStringLiteral(" a "), QStringLiteral("\"b,c/F\"")}), QStringLiteral(" a  \"b,c/F\""));

    applyCommandLine(QStringLiteral("週次 バックアップ,夜間/F"));
    EXPECT_EQ(Usr::sCmdTsk, QStringLiteral("週次 バックアップ,夜間/F"));
    EXPECT_FALSE(Usr::actRec.bActOn);

    applyCommandLine(QString());
    EXPECT_EQ(Usr::sCmdTsk, QString());
}

TEST(Startup, HandOffFile)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString full = tmp.path() + QStringLiteral("/ZQ_ACT.pdat");
    writeFile(full, record(-150, 300, 12000, 9000, QStringLiteral("/home/ﾕｰｻﾞｰ/仕事"), QStringLiteral("/mnt/x"), 0xFFFF));

    bool found = false;
    ActRec r = readActRec(full, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(r.nLeft, -150);
    EXPECT_EQ(r.nTop, 300);
    EXPECT_EQ(r.nWidth, 12000);
    EXPECT_EQ(r.nHeight, 9000);
    EXPECT_EQ(r.sRoot1, QStringLiteral("/home/ﾕｰｻﾞｰ/仕事"));
    EXPECT_EQ(r.sRoot2, QStringLiteral("/mnt/x"));
    EXPECT_TRUE(r.bActOn);

    // Through the command line: a hand-off never becomes a task.
    Usr::sCmdTsk = QStringLiteral("stale");
    applyCommandLine(full);
    EXPECT_EQ(Usr::sCmdTsk, QString());
    EXPECT_TRUE(Usr::actRec.bActOn);
    EXPECT_EQ(Usr::actRec.sRoot1, QStringLiteral("/home/ﾕｰｻﾞｰ/仕事"));

    // The name in another letter case still counts as a hand-off file.
    const QString other = tmp.path() + QStringLiteral("/zq_act.PDAT");
    writeFile(other, record(1, 2, 12000, 0, QStringLiteral("/r"), QString(), 0xFFFF));
    applyCommandLine(other);
    EXPECT_EQ(Usr::sCmdTsk, QString());
    EXPECT_EQ(Usr::actRec.nWidth, 12000);
    EXPECT_EQ(Usr::actRec.nHeight, 0);
    EXPECT_FALSE(Usr::actRec.bActOn);  // no height: the saved window state is used
    EXPECT_EQ(Usr::actRec.sRoot1, QStringLiteral("/r"));

    // Quoted: the quotes are part of the path, no file, no task.
    applyCommandLine('"' + full + '"');
    EXPECT_EQ(Usr::sCmdTsk, QString());
    EXPECT_FALSE(Usr::actRec.bActOn);
    EXPECT_EQ(Usr::actRec.nWidth, 0);
    r = readActRec('"' + full + '"', &found);
    EXPECT_FALSE(found);

    // Short files: what lies wholly inside is read, the rest stays zero/empty.
    const QByteArray bytes = record(10, 20, 30, 40, QStringLiteral("/abc"), QStringLiteral("/def"), 0);
    const QString shortFile = tmp.path() + QStringLiteral("/short_zq_act.pdat");
    writeFile(shortFile, bytes.left(10));  // cut inside nWidth
    r = readActRec(shortFile);
    EXPECT_EQ(r.nLeft, 10);
    EXPECT_EQ(r.nTop, 20);
    EXPECT_EQ(r.nWidth, 0);
    EXPECT_EQ(r.nHeight, 0);
    EXPECT_FALSE(r.bActOn);
    writeFile(shortFile, bytes.left(20));  // cut inside sRoot1
    r = readActRec(shortFile);
    EXPECT_EQ(r.nHeight, 40);
    EXPECT_TRUE(r.bActOn);
    EXPECT_EQ(r.sRoot1, QString());
    EXPECT_EQ(r.sRoot2, QString());
    writeFile(shortFile, bytes.left(24));  // sRoot1 complete, no sRoot2
    r = readActRec(shortFile);
    EXPECT_EQ(r.sRoot1, QStringLiteral("/abc"));
    EXPECT_EQ(r.sRoot2, QString());
    writeFile(shortFile, QByteArray());
    r = readActRec(shortFile, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(r.nLeft, 0);
    EXPECT_FALSE(r.bActOn);
}

TEST(Startup, StartProcessResolvesNameFolderAndCommandLine)
{
    velmor::test::ScopedTestHome home;
    QTemporaryDir prog;
    ASSERT_TRUE(prog.isValid());
    writeFile(prog.path() + QStringLiteral("/UserData.ini"), "%app%");
    velmor::test::ScopedPrompt prompt;
    startProcess(prog.path(), prog.path() + QStringLiteral("/Velmor_DV"), {QStringLiteral("夜間"), QStringLiteral("同期")});
    EXPECT_EQ(Usr::sExeNm, QStringLiteral("Velmor"));
    EXPECT_EQ(Usr::sUsrDt, prog.path() + QStringLiteral("/usData/"));
    EXPECT_EQ(Usr::sCmdTsk, QStringLiteral("夜間 同期"));
    EXPECT_TRUE(prompt->messages.isEmpty());
}
