#include "common/TestSupport.h"
#include "env/zLog.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmor;
using velmor::test::readFile;

namespace {
QString today() { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }
} // namespace

TEST(zLog, NameSequenceTakesFirstFreeName)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString root = tmp.path() + QStringLiteral("/hist/deeper");  // missing levels are created
    const QString logDir = root + QStringLiteral("/Log/");

    zLog log;
    log.lgOn(root);
    EXPECT_EQ(log.fileName(), logDir + today() + QStringLiteral(".log"));
    log.lgOff();

    log.lgOn(root);
    EXPECT_EQ(log.fileName(), logDir + today() + QStringLiteral("~1.log"));
    log.lgOff();

    // The plain name is free again once deleted; ~1 is kept untouched.
    ASSERT_TRUE(QFile::remove(logDir + today() + QStringLiteral(".log")));
    log.lgOn(root);
    EXPECT_EQ(log.fileName(), logDir + today() + QStringLiteral(".log"));
    log.lgOff();

    log.lgOn(root);
    EXPECT_EQ(log.fileName(), logDir + today() + QStringLiteral("~2.log"));
    log.lgOff();
    EXPECT_EQ(readFile(logDir + today() + QStringLiteral("~1.log")), QByteArray("\xFF\xFE", 2));
}

TEST(zLog, Utf16LinesWithTimeStamp)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    zLog log;
    log.lgOn(tmp.path());
    const QString name = log.fileName();
    // The byte-order mark is there even before any line.
    EXPECT_EQ(readFile(name), QByteArray("\xFF\xFE", 2));

    log.lgWrite(QStringLiteral("追加 : sub/ファイル.txt"));
    // Lines reach the file before lgOff.
    const QByteArray mid = readFile(name);
    EXPECT_GT(mid.size(), 2);
    log.lgWrite(QString());
    log.lgOff();
    log.lgOff();  // closing twice is harmless
    EXPECT_FALSE(log.isOpen());

    const QByteArray bytes = readFile(name);
    ASSERT_TRUE(bytes.startsWith(QByteArray("\xFF\xFE", 2)));
    ASSERT_EQ(bytes.size() % 2, 0);
    QStringDecoder dec(QStringConverter::Utf16LE);
    const QString text = dec.decode(bytes.mid(2));
    ASSERT_TRUE(text.endsWith(QStringLiteral("\r\n")));
    const QStringList lines = text.chopped(2).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2);
    const QRegularExpression stamp(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d : "));
    EXPECT_TRUE(stamp.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(lines[0].mid(17), QStringLiteral(" : 追加 : sub/ファイル.txt"));
    EXPECT_EQ(lines[1].size(), 20);
    EXPECT_TRUE(stamp.match(lines[1]).hasMatch());
    EXPECT_EQ(lines[0].left(8), QDate::currentDate().toString(QStringLiteral("yy/MM/dd")));
}

TEST(zLog, FailuresAreThrown)
{
    zLog log;
    EXPECT_THROW(log.lgWrite(QStringLiteral("x")), LogError);
    EXPECT_NO_THROW(log.lgOff());

    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    // A file where the log folder should be: the folder cannot be made, so
    // the file cannot be created (also as root).
    velmor::test::writeFile(tmp.path() + QStringLiteral("/Log"), "not a folder");
    EXPECT_THROW(log.lgOn(tmp.path()), LogError);
    EXPECT_FALSE(log.isOpen());
    EXPECT_THROW(log.lgWrite(QStringLiteral("x")), LogError);
}
