#pragma once
// The work database: the comparison's scratch tables tbFold and tbFile, and
// the saved tasks in tbTask. One WorkDb is owned by each main window
// (Session::oDb); it opens on first use and stays open.
//
// One comparison per list: the window and velmor-cli (and any other process
// on the same user data folder) each keep their scratch tables to
// themselves, so a refill of the grid (LstFill) or a synchronisation only
// ever sees the comparison that this process made, and a comparison never
// holds a lock that another process's task save would wait for. The
// connection's main database is a private temporary database on disk
// (deleted on close, spilling to its file beyond the page cache) holding
// tbFold and tbFile; the shared file "Sync.mdb" in the user data folder is
// attached as the schema "shared" and holds tbTask only. Unqualified names
// resolve to main first, then to the attached file: the scratch tables
// shadow the tbFold/tbFile that older versions kept in Sync.mdb (those are
// left alone), and tbTask is found in the shared file.
//
// Values that carry file or folder names are always bound as parameters
// ("?" in the statement, values in a QVariantList): names may contain "'",
// "?" or "\" and are stored unaltered. SqlFill exists for templates whose
// values are program-made (numbers, fixed texts).
#include "compare/Sql.h"
#include "env/FsList.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <memory>
#include <vector>

namespace velmor {

// File name of the shared work database inside the user data folder.
inline constexpr const char* kDbFileName = "Sync.mdb";

// Rows read by R_Ary: a field-by-row table, both indexes from 0.
class RAry {
public:
    int fieldCount() const { return int(m_fields.size()); }
    long long rowCount() const { return m_rows; }
    bool isEmpty() const { return m_rows == 0; }
    const QStringList& fields() const { return m_fields; }
    const QVariant& at(int field, long long row) const
    {
        return m_cells[size_t(row) * m_fields.size() + size_t(field)];
    }
    QString text(int field, long long row) const { return at(field, row).toString(); }
    void clear()
    {
        m_cells.clear();
        m_rows = 0;
    }

private:
    friend class WorkDb;
    QStringList m_fields;
    std::vector<QVariant> m_cells;  // row-major
    long long m_rows = 0;
};

class WorkDb {
public:
    // Rows fetched per batch by R_Ary (a fetch size, never a limit).
    static constexpr long long kFetch = 10000;

    WorkDb() = default;
    WorkDb(WorkDb&&) = default;
    WorkDb& operator=(WorkDb&&) = default;

    // Path of the shared file: Usr::sUsrDt + "Sync.mdb".
    static QString dbPath();

    // Opens the database if it is not open yet (a second call does nothing
    // but attach the shared file anew when another process's DbCompact
    // replaced it): creates the private scratch tables tbFold and tbFile, empty,
    // and attaches the shared file, creating it and tbTask (with its unique
    // index "PrimaryKey" on sTask) when they are missing. When only the
    // attach fails, the scratch tables stay and the next call attaches
    // again. Throws SqlError.
    void DbOpen();
    // Closes the database if open; the scratch tables go with it. Throws
    // SqlError only when SQLite refuses.
    void DbClose();
    bool isOpen() const { return m_conn.isOpen() && m_attached; }

    // Compacts the shared file into "Sync$$$.mdb" beside it (a leftover
    // temporary file is removed first) and renames it over "Sync.mdb" in one
    // atomic step; the old file is never deleted first. The scratch tables
    // are not touched: the grid can still be refilled afterwards. Shows
    // "ﾃﾞｰﾀｰﾍﾞｰｽﾌｧｲﾙを最適化しました" through Usr::prompt() on success; a
    // failure shows nothing here and leaves the old file in place: the
    // result is false and why (when given) holds the reason, for the caller
    // to report. Always ends with the database open; only that final open
    // can throw.
    bool DbCompact(QString* why = nullptr);

    // The open connection (DbOpen first).
    SqlConn& conn();

    // Runs an INSERT, UPDATE or DELETE with its values bound in order;
    // returns the number of rows it changed. Throws SqlError.
    long long exec(const QString& sql, const QVariantList& binds = {});

    // Runs a query and returns every row in vAry (fields in select-list
    // order); the result is the number of rows (0 and an empty vAry when
    // there are none). Throws SqlError.
    long long R_Ary(const QString& sQ, RAry& vAry, const QVariantList& binds = {});
    // Runs a query and hands its rows to onBatch in batches of at most
    // kFetch rows; onBatch returns false to stop reading. Returns the number
    // of rows handed over. Throws SqlError.
    long long R_Ary(const QString& sQ, const QVariantList& binds,
                    const std::function<bool(const RAry& batch)>& onBatch);

    // Runs a query and hands every row, as the statement positioned on it,
    // to onRow; onRow returns false to stop reading. Returns the number of
    // rows handed over. The reader under R_Ary, for callers that convert
    // the columns themselves. Throws SqlError.
    long long forEachRow(const QString& sQ, const QVariantList& binds,
                         const std::function<bool(const SqlStmt& row)>& onRow);

    // Copies the first row of sQ into ary, one element per field; a null
    // value, or every field when there is no row, becomes FldDef(field
    // name). ary is resized to at least the field count. Errors stop the
    // copy quietly (callers get defaults or what was read): the result is
    // false then, true otherwise.
    bool R_PAry(const QString& sQ, QVariantList& ary, const QVariantList& binds = {});

    // Visits every row of a table once in storage order, reading the named
    // fields and editing the current row in place. A null field reads as an
    // empty text. Edits are written in runs: consecutive rows given the same
    // value take one statement. flush() writes what is pending; call it
    // before the transaction ends, also after a stop. Edits still pending
    // when the cursor is destroyed (an error ended the visit) are dropped, as
    // if those rows had not been visited.
    class TableCursor {
    public:
        TableCursor(WorkDb& db, const QString& table, const QStringList& fields);
        // Moves to the next row (the first on the first call); false at the end.
        bool next();
        QString text(int field) const { return m_row[size_t(field)]; }
        // Edit: sets field of the current row to value.
        void setText(int field, const QString& value);
        // Writes the pending edits. Throws SqlError.
        void flush();

    private:
        // A run is written once it spans this many rows: one UPDATE never
        // takes long, whatever the table holds.
        static constexpr long long kMaxRun = 4096;
        struct Run {
            bool open = false;
            long long firstId = 0, lastId = 0, lastSeq = 0;
            QString value;
            long long firstSeq = 0;
        };
        void fetch();
        void write(int field);
        std::vector<Run> m_runs;  // one per field
        long long m_seq = 0;      // rows visited so far
        long long m_curId = 0;    // rowid of the current row
        long long m_prevId = 0;   // rowid of the row visited before it
        WorkDb& m_db;
        QString m_table;
        QStringList m_fields;
        std::vector<long long> m_ids;
        std::vector<QString> m_batch;  // row-major, m_fields.size() per row
        std::vector<QString> m_row;
        size_t m_pos = 0;
        long long m_lastId = 0;
        bool m_done = false;
        std::unique_ptr<SqlStmt> m_select;
        std::vector<std::unique_ptr<SqlStmt>> m_updates;  // one per field, prepared lazily
    };

private:
    void attachShared();
    void detachShared();
    // Device and inode of the file now at dbPath() ({0, 0} when none).
    static FsId sharedFileId();
    SqlConn m_conn;
    bool m_attached = false;  // the shared file is attached to m_conn
    FsId m_sharedId;  // the attached file's identity
};

// Default value of a field by the first letter of its name: "s"/"S" an
// empty text, "d"/"D" null, anything else the integer 0.
QVariant FldDef(const QString& field);

// Fills the "?" placeholders of a template from left to right with the
// values as text (null gives ""), every "?" removed from a value first so it
// cannot become a later placeholder. Adds no quotes and escapes nothing;
// surplus placeholders stay, surplus values are ignored.
QString SqlFill(const QString& tmpl, const QVariantList& values);

} // namespace velmor
