// The work database: SqlFill, the readers, the cursor, opening and compaction.
#include "common/TestSupport.h"
#include "compare/WorkDb.h"
#include "env/Usr.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace velmor;
using namespace velmor::test;

namespace {

class WorkDbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        Usr::sUsrDt = tmp.path() + QLatin1Char('/');
    }
    QTemporaryDir tmp;
    ScopedPrompt prompt;
    WorkDb db;
};

} // namespace

TEST(SqlFillTest, PlaceholdersValuesAndEdgeCases)
{
    // A bare placeholder, then a quoted one: 5 and a?b (its "?" removed).
    EXPECT_EQ(SqlFill(QStringLiteral("Select ? From t Where s='?'"), {5, QStringLiteral("a?b")}),
              QStringLiteral("Select 5 From t Where s='ab'"));
    // Null places an empty text.
    EXPECT_EQ(SqlFill(QStringLiteral("x='?'"), {QVariant()}), QStringLiteral("x=''"));
    // Three placeholders, two values: the third "?" stays.
    EXPECT_EQ(SqlFill(QStringLiteral("? ? ?"), {1, 2}), QStringLiteral("1 2 ?"));
    // Surplus values are ignored; nothing is quoted or escaped.
    EXPECT_EQ(SqlFill(QStringLiteral("'?'"), {QStringLiteral("Bob's"), 7}), QStringLiteral("'Bob's'"));
    // A value made only of "?" cannot become a later placeholder.
    EXPECT_EQ(SqlFill(QStringLiteral("?,?"), {QStringLiteral("??"), 3}), QStringLiteral(",3"));
}

TEST(FldDefTest, DefaultsByFirstLetter)
{
    EXPECT_EQ(FldDef(QStringLiteral("sTask")).toString(), QString());
    EXPECT_EQ(FldDef(QStringLiteral("STask")).typeId(), QMetaType::QString);
    EXPECT_TRUE(FldDef(QStringLiteral("dUdt")).isNull());
    EXPECT_EQ(FldDef(QStringLiteral("iFlt")), QVariant(0));
    EXPECT_EQ(FldDef(QStringLiteral("mChk")), QVariant(0));
}

TEST_F(WorkDbTest, OpensOnceCreatesTablesAndReads)
{
    db.DbOpen();
    sqlite3* first = db.conn().handle();
    db.DbOpen();
    EXPECT_EQ(db.conn().handle(), first) << "a second DbOpen must not reopen";
    EXPECT_TRUE(QFile::exists(tmp.path() + QStringLiteral("/Sync.mdb")));

    // Empty result: 0 rows, empty array.
    RAry a;
    EXPECT_EQ(db.R_Ary(QStringLiteral("Select sPh From tbFold"), a), 0);
    EXPECT_TRUE(a.isEmpty());

    // R_PAry without a row gives the defaults of sTask, dUdt, iFlt.
    QVariantList p;
    EXPECT_TRUE(db.R_PAry(QStringLiteral("Select sTask, dUdt, iFlt From tbTask Where sTask = ?"), p,
                          {QStringLiteral("none")}));
    ASSERT_EQ(p.size(), 3);
    EXPECT_EQ(p[0].toString(), QString());
    EXPECT_TRUE(p[1].isNull());
    EXPECT_EQ(p[2], QVariant(0));
    // A broken query stops quietly with false.
    EXPECT_FALSE(db.R_PAry(QStringLiteral("Select nothing From nowhere"), p));

    // The unique index "PrimaryKey" on tbTask.sTask exists and holds.
    db.exec(QStringLiteral("Insert Into tbTask (sTask, iFlt) Values (?, 1)"), {QStringLiteral("Bob's task")});
    EXPECT_THROW(db.exec(QStringLiteral("Insert Into tbTask (sTask) Values (?)"), {QStringLiteral("Bob's task")}),
                 SqlError);
    EXPECT_EQ(db.exec(QStringLiteral("Update tbTask Set iFlt = 2 Where sTask = ?"), {QStringLiteral("Bob's task")}), 1);
    EXPECT_EQ(db.exec(QStringLiteral("Update tbTask Set iFlt = 2 Where sTask = ?"), {QStringLiteral("bob's task")}), 0)
        << "names compare exactly";
    // A null column reads as its default.
    EXPECT_TRUE(db.R_PAry(QStringLiteral("Select sRt1, iFlt From tbTask Where sTask = ?"), p,
                          {QStringLiteral("Bob's task")}));
    EXPECT_EQ(p[0].toString(), QString());
    EXPECT_EQ(p[1].toInt(), 2);
}

TEST_F(WorkDbTest, ReaderReturnsEveryRowInBatchesAndCursorEditsInPlace)
{
    db.DbOpen();
    {
        SqlKeepTxn t(db.conn());
        SqlStmt ins(db.conn(), "Insert Into tbFile (nNo, sPh, sFL, sED) Values (?, ?, ?, '')");
        for (int i = 0; i < 12000; ++i)
            ins.bind(1, 1001 + i).bind(2, QStringLiteral("p")).bind(3, QStringLiteral("f%1").arg(i)).exec();
        t.commit();
    }
    // Every row, in query order, although more than one fetch batch.
    RAry all;
    EXPECT_EQ(db.R_Ary(QStringLiteral("Select nNo, sFL From tbFile Order By nNo"), all), 12000);
    EXPECT_EQ(all.rowCount(), 12000);
    EXPECT_EQ(all.fieldCount(), 2);
    EXPECT_EQ(all.at(0, 0).toLongLong(), 1001);
    EXPECT_EQ(all.text(1, 11999), QStringLiteral("f11999"));
    int batches = 0;
    long long seen = 0;
    db.R_Ary(QStringLiteral("Select nNo From tbFile"), {}, [&](const RAry& b) {
        ++batches;
        seen += b.rowCount();
        EXPECT_LE(b.rowCount(), WorkDb::kFetch);
        return true;
    });
    EXPECT_EQ(batches, 2);
    EXPECT_EQ(seen, 12000);

    // The cursor visits every row once in storage order and edits it; runs
    // of equal values, single rows and a row edited twice all land.
    SqlKeepTxn txn(db.conn());
    WorkDb::TableCursor cur(db, QStringLiteral("tbFile"), {QStringLiteral("sFL"), QStringLiteral("sED")});
    const auto want = [](int n) {
        return n % 7 < 3 ? QStringLiteral("同一") : n % 7 == 3 ? QStringLiteral("追加") : QStringLiteral("上書");
    };
    int n = 0;
    bool ordered = true;
    while (cur.next()) {
        ordered = ordered && cur.text(0) == QStringLiteral("f%1").arg(n);
        if (n % 1000 == 5)
            cur.setText(1, QStringLiteral("tmp"));  // replaced just below
        cur.setText(1, want(n));
        ordered = ordered && cur.text(1) == want(n);
        ++n;
    }
    cur.flush();
    txn.commit();
    EXPECT_EQ(n, 12000);
    EXPECT_TRUE(ordered);
    int wrong = 0;
    db.forEachRow(QStringLiteral("Select sFL, sED From tbFile Order By nNo"), {}, [&](const SqlStmt& q) {
        wrong += q.text(1) != want(q.text(0).mid(1).toInt());
        return true;
    });
    EXPECT_EQ(wrong, 0);
}

TEST_F(WorkDbTest, CompactRemovesLeftoverTempFileAndKeepsData)
{
    db.DbOpen();
    db.exec(QStringLiteral("Insert Into tbTask (sTask) Values (?)"), {QStringLiteral("keep me")});
    const QString leftover = tmp.path() + QStringLiteral("/Sync$$$.mdb");
    writeFile(leftover, "garbage from an earlier failure");
    QFile::setPermissions(leftover, QFileDevice::ReadOwner);

    db.DbCompact();
    EXPECT_EQ(prompt->messages, QStringList{QStringLiteral("ﾃﾞｰﾀｰﾍﾞｰｽﾌｧｲﾙを最適化しました")});
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(db.isOpen());
    QVariantList v(1);
    db.R_PAry(QStringLiteral("Select Count(*) From tbTask Where sTask = 'keep me'"), v);
    EXPECT_EQ(v[0].toInt(), 1);

    // A failure (the file is not a database) shows nothing, keeps the file
    // and still ends with an attempt to open it.
    db.DbClose();
    const QString path = tmp.path() + QStringLiteral("/Sync.mdb");
    writeFile(path, QByteArray(4096, 'z'));
    prompt->messages.clear();
    EXPECT_THROW(db.DbCompact(), SqlError);
    EXPECT_TRUE(prompt->messages.isEmpty());
    EXPECT_EQ(readFile(path), QByteArray(4096, 'z'));
    EXPECT_FALSE(QFile::exists(leftover));
}

TEST_F(WorkDbTest, ScratchTablesArePrivateTasksSharedAndCompactionKeepsBoth)
{
    // Sync.mdb of an older version, with comparison rows of its own.
    const QByteArray path = QFile::encodeName(WorkDb::dbPath());
    sqlite3* old = nullptr;
    ASSERT_EQ(sqlite3_open(path.constData(), &old), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(old, "CREATE TABLE tbFold (nNo INTEGER PRIMARY KEY, sPh TEXT);"
                                "INSERT INTO tbFold VALUES (1, 'stale')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(old);

    WorkDb other;  // another process on the same user data folder
    db.DbOpen();
    other.DbOpen();
    const auto count = [](WorkDb& d, const char* sql) {
        QVariantList v(1);
        EXPECT_TRUE(d.R_PAry(QString::fromUtf8(sql), v));
        return v[0].toLongLong();
    };
    EXPECT_EQ(count(db, "Select Count(*) From tbFold"), 0) << "the old rows are shadowed";
    db.exec(QStringLiteral("Insert Into tbTask (sTask) Values ('shared')"));
    {
        // A comparison's write transaction does not lock the shared file.
        SqlKeepTxn txn(db.conn());
        db.exec(QStringLiteral("Insert Into tbFold (nNo, sPh, sED) Values (1001, ?, '追加')"), {QStringLiteral("mine")});
        other.exec(QStringLiteral("Insert Into tbTask (sTask) Values ('saved meanwhile')"));
        txn.commit();
    }
    EXPECT_EQ(count(other, "Select Count(*) From tbFold"), 0);
    EXPECT_EQ(count(other, "Select Count(*) From tbTask"), 2);

    EXPECT_TRUE(db.DbCompact());
    EXPECT_TRUE(db.isOpen());
    RAry rows;
    db.R_Ary(QStringLiteral("Select sPh, sED From tbFold"), rows);
    ASSERT_EQ(rows.rowCount(), 1) << "the grid can still be refilled";
    EXPECT_EQ(rows.text(0, 0), QStringLiteral("mine"));
    EXPECT_EQ(count(db, "Select Count(*) From tbTask"), 2);
    db.R_Ary(QStringLiteral("Select sPh From shared.tbFold"), rows);
    ASSERT_EQ(rows.rowCount(), 1) << "left alone";
    EXPECT_EQ(rows.text(0, 0), QStringLiteral("stale"));

    // The other process, attached to the file that the compaction replaced,
    // writes its next task into the new file.
    other.exec(QStringLiteral("Insert Into tbTask (sTask) Values ('after compaction')"));
    EXPECT_EQ(count(db, "Select Count(*) From tbTask"), 3);
}
