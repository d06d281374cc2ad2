#include "compare/WorkDb.h"

#include "env/Prompt.h"
#include "env/Usr.h"
#include "tasks/Options.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>

namespace velmor {

namespace {

// The private scratch tables, created afresh in each connection's own
// temporary main database. nNo is the row id: ascending nNo is the storage
// order, so "Order By nNo" and the cursor's visit order cost nothing. Names
// compare exactly (BINARY), as the file system does on Linux. nT1 and nT2
// are the files' exact modification times, in seconds since the epoch, and
// nN1 and nN2 the nanoseconds within those seconds (any year a file system
// stores, no overflow): the date texts are what is shown and stored, the times decide which side
// is newer. The scan classifies the rows it writes: the rows without a
// status are indexed apart, so looking for them costs nothing when there are
// none. sNg says why folder 2's volume cannot take a folder-1 item (a name
// it refuses, a second name it would file under the same key, a link where
// it holds none); such a row is "除外" and named at the comparison's end.
// sRs says why two items differ where the date texts do not show it, and
// nMo = 1 marks a row on which only metadata differ (permissions, owner,
// ACLs, extended attributes; a folder's time): the synchronisation
// corrects them and copies nothing. sMv pairs a "追加" row with a "削除"
// row of the same table that holds its content under another name (a moved
// or renamed item): each holds the other's relative path (a file's with its
// name); a "上書" file row whose name changed only in letter case holds its
// folder-2 spelling. nF2 is how many files and links a folder of folder 2
// only holds right in it, as the folder scan listed it (NULL on every other
// row): the files that go with the folder when it is deleted.
const char* const kScratchSchema =
    "CREATE TABLE main.tbFold ("
    " nNo INTEGER PRIMARY KEY, sPh TEXT NOT NULL, sU1 TEXT, sU2 TEXT, sED TEXT, sAt TEXT, sNg TEXT,"
    " sRs TEXT, nMo INTEGER, sMv TEXT, nF2 INTEGER);"
    "CREATE UNIQUE INDEX main.tbFold_sPh ON tbFold(sPh);"
    "CREATE TABLE main.tbFile ("
    " nNo INTEGER PRIMARY KEY, sPh TEXT NOT NULL, sFL TEXT NOT NULL, nS1 INTEGER, sU1 TEXT,"
    " nS2 INTEGER, sU2 TEXT, sED TEXT, sAt TEXT, nT1 INTEGER, nT2 INTEGER, nN1 INTEGER, nN2 INTEGER,"
    " sNg TEXT, sRs TEXT, nMo INTEGER, sMv TEXT);"
    "CREATE INDEX main.tbFile_unclassified ON tbFile(nNo) WHERE sED Is Null Or sED = '';";

// The scratch database is private and rebuilt by every comparison: no
// journal and no syncs (a statement or commit that fails may leave it
// half-written, and such a failure ends the comparison anyway). Its page
// cache is bounded (32 MiB); beyond it pages spill to the temporary file, so
// a comparison of millions of files does not grow the process. Temporary
// storage stays in files as well: in memory it would be unbounded.
const char* const kScratchPragmas =
    "PRAGMA main.journal_mode=OFF;"
    "PRAGMA main.synchronous=OFF;"
    "PRAGMA main.cache_size=-32768;"
    "PRAGMA temp_store=FILE;"
    "PRAGMA secure_delete=OFF;";

// The shared file keeps the rollback journal with full syncs (the
// defaults): tbTask is safe whatever happens. Task names compare exactly
// too ("Web" and "web" are two tasks), in the unique index as well.
const char* const kTaskSchema =
    "CREATE TABLE IF NOT EXISTS shared.tbTask ("
    " sTask TEXT NOT NULL COLLATE BINARY, sRt1 TEXT, sRt2 TEXT, sPh1 TEXT, sPh2 TEXT, iFlt INTEGER, sFlt TEXT,"
    " yRt0 INTEGER, yRt1 INTEGER, yRt2 INTEGER, yRt3 INTEGER,"
    " yRt4 INTEGER, yRt5 INTEGER, yRt6 INTEGER, yRt7 INTEGER,"
    " mChk TEXT, mExp TEXT, sPhB TEXT, sHogo TEXT, sJogai TEXT, dUdt DATETIME);"
    "CREATE UNIQUE INDEX IF NOT EXISTS shared.\"PrimaryKey\" ON tbTask(sTask);";

// The columns tbTask gained after its first layout (kAddedTaskColumns) that
// it lacks, as their definitions. The rows written before have them NULL,
// which reads as the option's default.
QList<QByteArray> missingTaskColumns(const SqlConn& c)
{
    QList<QByteArray> have;
    SqlStmt q(c, "PRAGMA shared.table_info(tbTask)");
    while (q.step())
        have.append(q.utf8(1).toByteArray());
    QList<QByteArray> out;
    for (const AddedTaskColumn& a : kAddedTaskColumns)
        if (!have.contains(QByteArray(a.column)))
            out.append(QByteArray(a.column) + " INTEGER");
    return out;
}

// Adds the missing columns in one write transaction, looked for again in it:
// another program may have added them meanwhile.
void addTaskColumns(SqlConn& c)
{
    if (missingTaskColumns(c).isEmpty())
        return;
    c.execScript("BEGIN IMMEDIATE");
    try {
        for (const QByteArray& def : missingTaskColumns(c))
            c.execScript(("ALTER TABLE shared.tbTask ADD COLUMN " + def).constData());
        c.execScript("COMMIT");
    } catch (...) {
        sqlite3_exec(c.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void bindAll(SqlStmt& st, const QVariantList& binds)
{
    for (int i = 0; i < binds.size(); ++i)
        st.bind(i + 1, binds[i]);
}

} // namespace

QString WorkDb::dbPath() { return Usr::sUsrDt + QLatin1String(kDbFileName); }

void WorkDb::DbOpen()
{
    if (!m_conn.isOpen()) {
        SqlConn c{QString()};
        c.execScript(kScratchPragmas);
        c.execScript(kScratchSchema);
        m_conn = std::move(c);
        m_attached = false;
    }
    // Another process's DbCompact renames a new file over Sync.mdb: tasks
    // written through the old one, now unlinked, would be lost. Between
    // transactions the new file is attached in its place.
    if (m_attached && sqlite3_get_autocommit(m_conn.handle()) && sharedFileId() != m_sharedId)
        detachShared();
    if (!m_attached)
        attachShared();
}

FsId WorkDb::sharedFileId()
{
    struct stat st;
    if (::stat(QFile::encodeName(dbPath()).constData(), &st) != 0)
        return {};  // gone or unreadable: the attach that follows says why
    return {st.st_dev, st.st_ino};
}

void WorkDb::attachShared()
{
    {
        SqlStmt at(m_conn, "ATTACH DATABASE ? AS shared");
        at.bind(1, dbPath());
        at.exec();
    }
    try {
        m_conn.execScript(kTaskSchema);
        addTaskColumns(m_conn);
    } catch (...) {
        // Not a usable work database (or locked beyond the wait): detach, so
        // the next DbOpen tries again from the start; the error goes up.
        sqlite3_exec(m_conn.handle(), "DETACH DATABASE shared", nullptr, nullptr, nullptr);
        throw;
    }
    m_sharedId = sharedFileId();
    m_attached = true;
}

void WorkDb::detachShared()
{
    if (!m_attached)
        return;
    m_conn.execScript("DETACH DATABASE shared");
    m_attached = false;
}

void WorkDb::DbClose()
{
    m_conn.close();
    m_attached = false;
}

SqlConn& WorkDb::conn()
{
    if (!m_conn.isOpen())
        throw SqlError("work database not open");
    return m_conn;
}

bool WorkDb::DbCompact(QString* why)
{
    const QString db = dbPath();
    const QString tmp = db.left(db.size() - 4) + QStringLiteral("$$$.mdb");
    bool ok = false;
    try {
        if (QFileInfo::exists(tmp) && !QFile::remove(tmp))
            throw SqlError("cannot remove the leftover " + tmp.toStdString());
        DbOpen();
        {
            SqlStmt st(m_conn, "VACUUM shared INTO ?");
            st.bind(1, tmp);
            st.exec();
        }
        // The connection must not keep the old file open across the rename:
        // only the shared file is detached, the scratch tables stay.
        detachShared();
        // rename() replaces Sync.mdb atomically: there is never a moment
        // without a database file.
        if (std::rename(QFile::encodeName(tmp).constData(), QFile::encodeName(db).constData()) != 0)
            throw SqlError("cannot rename " + tmp.toStdString());
        ok = true;
    } catch (const std::exception& e) {
        // Compaction is an optimisation: a failure keeps the old file
        // untouched, the database is simply reopened, and the caller says why.
        QFile::remove(tmp);
        if (why)
            *why = QString::fromUtf8(e.what());
    }
    if (ok)
        Usr::prompt().message(QStringLiteral("ﾃﾞｰﾀｰﾍﾞｰｽﾌｧｲﾙを最適化しました"));
    DbOpen();
    return ok;
}

long long WorkDb::exec(const QString& sql, const QVariantList& binds)
{
    DbOpen();
    SqlStmt st(m_conn, sql);
    bindAll(st, binds);
    return st.exec();
}

long long WorkDb::forEachRow(const QString& sQ, const QVariantList& binds,
                            const std::function<bool(const SqlStmt& row)>& onRow)
{
    DbOpen();
    SqlStmt st(m_conn, sQ);
    bindAll(st, binds);
    long long n = 0;
    while (st.step()) {
        ++n;
        if (!onRow(st))
            break;
    }
    return n;
}

long long WorkDb::R_Ary(const QString& sQ, const QVariantList& binds,
                        const std::function<bool(const RAry& batch)>& onBatch)
{
    RAry batch;
    long long total = 0;
    bool go = true;
    const auto flush = [&]() {
        total += batch.m_rows;
        go = onBatch(batch);
        batch.clear();
        return go;
    };
    forEachRow(sQ, binds, [&](const SqlStmt& st) {
        const int nf = st.columnCount();
        if (batch.m_fields.isEmpty() && nf > 0) {
            for (int c = 0; c < nf; ++c)
                batch.m_fields.append(st.columnName(c));
            batch.m_cells.reserve(size_t(nf) * size_t(kFetch));
        }
        for (int c = 0; c < nf; ++c)
            batch.m_cells.push_back(st.value(c));
        return ++batch.m_rows < kFetch || flush();
    });
    if (go && batch.m_rows > 0)
        flush();
    return total;
}

long long WorkDb::R_Ary(const QString& sQ, RAry& vAry, const QVariantList& binds)
{
    vAry = RAry();
    return R_Ary(sQ, binds, [&vAry](const RAry& b) {
        if (vAry.m_fields.isEmpty())
            vAry.m_fields = b.m_fields;
        vAry.m_cells.insert(vAry.m_cells.end(), b.m_cells.begin(), b.m_cells.end());
        vAry.m_rows += b.m_rows;
        return true;
    });
}

bool WorkDb::R_PAry(const QString& sQ, QVariantList& ary, const QVariantList& binds)
{
    try {
        DbOpen();
        SqlStmt st(m_conn, sQ);
        bindAll(st, binds);
        const int nf = st.columnCount();
        while (ary.size() < nf)
            ary.append(QVariant());
        const bool row = st.step();
        for (int c = 0; c < nf; ++c) {
            if (row && !st.isNull(c))
                ary[c] = st.value(c);
            else
                ary[c] = FldDef(st.columnName(c));
        }
        return true;
    } catch (const std::exception&) {
        // The single-row reader stops quietly: its callers (task loading)
        // work with the defaults or the values read so far.
        return false;
    }
}

QVariant FldDef(const QString& field)
{
    const QChar c = field.isEmpty() ? QChar() : field.at(0).toLower();
    if (c == QLatin1Char('s'))
        return QString(QLatin1String(""));
    if (c == QLatin1Char('d'))
        return QVariant();
    return QVariant(0);
}

QString SqlFill(const QString& tmpl, const QVariantList& values)
{
    QString out = tmpl;
    for (const QVariant& v : values) {
        QString t = (!v.isValid() || v.isNull()) ? QString() : v.toString();
        t.remove(QLatin1Char('?'));
        const qsizetype at = out.indexOf(QLatin1Char('?'));
        if (at >= 0)
            out.replace(at, 1, t);
    }
    return out;
}

// --- TableCursor ---------------------------------------------------------------

WorkDb::TableCursor::TableCursor(WorkDb& db, const QString& table, const QStringList& fields)
    : m_db(db), m_table(table), m_fields(fields)
{
    m_db.DbOpen();
    m_select = std::make_unique<SqlStmt>(
        m_db.conn(), QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid > ? ORDER BY rowid LIMIT %3")
                         .arg(fields.join(QLatin1String(", ")), table)
                         .arg(kFetch));
    m_updates.resize(size_t(fields.size()));
    m_runs.resize(size_t(fields.size()));
    m_row.resize(size_t(fields.size()));
}

void WorkDb::TableCursor::fetch()
{
    m_ids.clear();
    m_batch.clear();
    m_pos = 0;
    m_select->reset();
    m_select->bind(1, m_lastId);
    const int nf = int(m_fields.size());
    while (m_select->step()) {
        m_ids.push_back(m_select->int64(0));
        for (int c = 0; c < nf; ++c)
            m_batch.push_back(m_select->text(c + 1));
    }
    m_select->reset();
    if (m_ids.empty())
        m_done = true;
    else
        m_lastId = m_ids.back();
}

bool WorkDb::TableCursor::next()
{
    if (m_done)
        return false;
    if (m_pos >= m_ids.size()) {
        fetch();
        if (m_done)
            return false;
    }
    if (m_seq > 0)
        m_prevId = m_curId;
    const size_t nf = size_t(m_fields.size());
    m_curId = m_ids[m_pos];
    for (size_t c = 0; c < nf; ++c)
        m_row[c] = std::move(m_batch[m_pos * nf + c]);
    ++m_pos;
    ++m_seq;
    return true;
}

void WorkDb::TableCursor::setText(int field, const QString& value)
{
    if (m_pos == 0)
        throw SqlError("table cursor has no current row");
    const long long id = m_curId;
    Run& run = m_runs[size_t(field)];
    if (run.open && run.lastSeq == m_seq - 1 && run.value == value && m_seq - run.firstSeq < kMaxRun) {
        run.lastId = id;
        run.lastSeq = m_seq;
    } else if (run.open && run.lastSeq == m_seq) {
        // The same row edited again: close the run before it and restart.
        if (run.firstId != id) {
            run.lastId = m_prevId;
            write(field);
        }
        run = {true, id, id, m_seq, value, m_seq};
    } else {
        write(field);
        run = {true, id, id, m_seq, value, m_seq};
    }
    m_row[size_t(field)] = value;
}

void WorkDb::TableCursor::write(int field)
{
    Run& run = m_runs[size_t(field)];
    if (!run.open)
        return;
    auto& up = m_updates[size_t(field)];
    if (!up)
        up = std::make_unique<SqlStmt>(
            m_db.conn(), QStringLiteral("UPDATE %1 SET %2 = ? WHERE rowid BETWEEN ? AND ?").arg(m_table, m_fields[field]));
    // The rows between the run's ends are exactly the rows visited in
    // between: the cursor goes through the table in rowid order.
    up->bind(1, run.value).bind(2, run.firstId).bind(3, run.lastId);
    up->exec();
    run.open = false;
}

void WorkDb::TableCursor::flush()
{
    for (int f = 0; f < int(m_runs.size()); ++f)
        write(f);
}

} // namespace velmor
