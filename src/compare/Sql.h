#pragma once
// Thin RAII layer over the SQLite C API: a connection, a prepared statement
// and a transaction. Every failure throws SqlError carrying SQLite's message;
// nothing here swallows an error.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velmor {

class SqlError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One open database file. Move-only; the destructor closes the file.
// Every connection waits up to kBusyMs for a lock that another connection
// (another process) holds before a statement fails with "database is
// locked": a brief write elsewhere never makes a task save or load fail.
class SqlConn {
public:
    static constexpr int kBusyMs = 10000;

    SqlConn() = default;
    // Opens the file read/write, creating it when missing unless create is
    // false. An empty path opens a private temporary database on disk that
    // no other connection sees and that is deleted when it is closed.
    // Throws SqlError.
    explicit SqlConn(const QString& path, bool create = true);
    ~SqlConn();
    SqlConn(SqlConn&& o) noexcept;
    SqlConn& operator=(SqlConn&& o) noexcept;
    SqlConn(const SqlConn&) = delete;
    SqlConn& operator=(const SqlConn&) = delete;

    bool isOpen() const { return m_db != nullptr; }
    sqlite3* handle() const { return m_db; }
    // Runs one or more statements without parameters. Throws SqlError.
    void execScript(const char* sql);
    // Closes the file; throws SqlError when SQLite refuses (a statement still open).
    void close();
    // Rows changed by the most recent INSERT, UPDATE or DELETE.
    long long changes() const;

    [[noreturn]] void fail(const char* what) const;

private:
    sqlite3* m_db = nullptr;
};

// One prepared statement. Parameters are numbered from 1; reset() makes it
// ready to run again with new bindings (the cheap way to repeat a statement).
class SqlStmt {
public:
    SqlStmt(const SqlConn& db, const QString& sql);
    SqlStmt(const SqlConn& db, const char* sql);
    ~SqlStmt();
    SqlStmt(const SqlStmt&) = delete;
    SqlStmt& operator=(const SqlStmt&) = delete;

    SqlStmt& bind(int i, const QString& v);
    // Binds UTF-8 bytes as a text without a copy: they must stay unchanged
    // until the statement has run (reset or exec).
    SqlStmt& bindBytes(int i, QByteArrayView utf8);
    SqlStmt& bind(int i, long long v);
    SqlStmt& bind(int i, const QVariant& v);  // null, integer, real or text
    SqlStmt& bindNull(int i);
    // Next result row: true while a row is available, false when done.
    bool step();
    // Runs a statement that returns no rows; returns the rows it changed.
    long long exec();
    void reset();

    int columnCount() const;
    QString columnName(int c) const;
    bool isNull(int c) const;
    QString text(int c) const;
    // The column's UTF-8 bytes, valid until the next step or reset.
    QByteArrayView utf8(int c) const;
    long long int64(int c) const;
    QVariant value(int c) const;  // null, qlonglong, double or QString
    sqlite3_stmt* handle() const { return m_st; }

private:
    void prepare(const char* sql, int len);
    const SqlConn& m_db;
    sqlite3_stmt* m_st = nullptr;
    std::vector<QByteArray> m_texts;  // bound texts, index = parameter - 1
};

// A transaction that keeps its work: commit() at the end of a phase, and the
// destructor commits too when a phase ends early (a stop or an error), so the
// rows written so far stay, as the comparison expects of its scratch tables.
// When even that commit fails, the transaction is rolled back.
class SqlKeepTxn {
public:
    explicit SqlKeepTxn(SqlConn& db);
    ~SqlKeepTxn();
    SqlKeepTxn(const SqlKeepTxn&) = delete;
    SqlKeepTxn& operator=(const SqlKeepTxn&) = delete;
    void commit();
    // Commits the work so far and goes on in a new transaction. Long phases
    // call it every kRowsPerCommit rows, so that no single commit (which
    // cannot yield) holds the event loop up for long.
    void checkpoint();
    static constexpr int kRowsPerCommit = 8192;

private:
    SqlConn& m_db;
    bool m_open = false;
};

} // namespace velmor
