#include "compare/Sql.h"

#include "env/FsDir.h"

#include <QFile>
#include <cstring>
#include <sqlite3.h>
#include <utility>

namespace velmor {

// --- SqlConn -------------------------------------------------------------------

SqlConn::SqlConn(const QString& path, bool create)
{
    const QByteArray p = QFile::encodeName(path);
    // One connection used by one thread at a time: no per-call mutex needed.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    const int rc = sqlite3_open_v2(p.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string msg = std::string("cannot open ") + p.constData() + ": "
                                + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqlError(msg);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyMs);
}

SqlConn::~SqlConn()
{
    // A statement left open cannot exist here (SqlStmt is scoped), so
    // sqlite3_close_v2 always releases the file.
    if (m_db)
        sqlite3_close_v2(m_db);
}

SqlConn::SqlConn(SqlConn&& o) noexcept : m_db(std::exchange(o.m_db, nullptr)) {}

SqlConn& SqlConn::operator=(SqlConn&& o) noexcept
{
    if (this != &o) {
        if (m_db)
            sqlite3_close_v2(m_db);
        m_db = std::exchange(o.m_db, nullptr);
    }
    return *this;
}

void SqlConn::fail(const char* what) const
{
    throw SqlError(std::string(what) + ": " + (m_db ? sqlite3_errmsg(m_db) : "database not open"));
}

void SqlConn::execScript(const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string msg = err ? err : sqlite3_errmsg(m_db);
        sqlite3_free(err);
        throw SqlError(msg + " [" + sql + "]");
    }
}

void SqlConn::close()
{
    if (!m_db)
        return;
    if (sqlite3_close(m_db) != SQLITE_OK)
        fail("cannot close the database");
    m_db = nullptr;
}

long long SqlConn::changes() const { return sqlite3_changes64(m_db); }

// --- SqlStmt -------------------------------------------------------------------

SqlStmt::SqlStmt(const SqlConn& db, const QString& sql) : m_db(db)
{
    const QByteArray u = sql.toUtf8();
    prepare(u.constData(), int(u.size()));
}

SqlStmt::SqlStmt(const SqlConn& db, const char* sql) : m_db(db) { prepare(sql, -1); }

void SqlStmt::prepare(const char* sql, int len)
{
    if (!m_db.isOpen())
        throw SqlError("database not open");
    if (sqlite3_prepare_v2(m_db.handle(), sql, len, &m_st, nullptr) != SQLITE_OK)
        m_db.fail((std::string("cannot prepare [") + std::string(sql, len < 0 ? strlen(sql) : size_t(len)) + "]").c_str());
}

SqlStmt::~SqlStmt() { sqlite3_finalize(m_st); }

SqlStmt& SqlStmt::bind(int i, const QString& v)
{
    // The UTF-8 text is kept in m_texts until the next bind of the same
    // parameter (or reset), so SQLite may use it without a copy.
    if (i < 1)
        m_db.fail("bad parameter number");
    if (size_t(i) > m_texts.size())
        m_texts.resize(size_t(i));
    QByteArray& u = m_texts[size_t(i) - 1];
    nameBytesInto(v, u);  // names keep their exact bytes (see env/FsDir.h)
    const int rc = sqlite3_bind_text(m_st, i, u.isNull() ? "" : u.constData(), int(u.size()), SQLITE_STATIC);
    if (rc != SQLITE_OK)
        m_db.fail("cannot bind a text");
    return *this;
}

SqlStmt& SqlStmt::bindBytes(int i, QByteArrayView utf8)
{
    if (sqlite3_bind_text(m_st, i, utf8.isNull() ? "" : utf8.data(), int(utf8.size()), SQLITE_STATIC) != SQLITE_OK)
        m_db.fail("cannot bind a text");
    return *this;
}

SqlStmt& SqlStmt::bind(int i, long long v)
{
    if (sqlite3_bind_int64(m_st, i, v) != SQLITE_OK)
        m_db.fail("cannot bind a number");
    return *this;
}

SqlStmt& SqlStmt::bindNull(int i)
{
    if (sqlite3_bind_null(m_st, i) != SQLITE_OK)
        m_db.fail("cannot bind null");
    return *this;
}

SqlStmt& SqlStmt::bind(int i, const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return bindNull(i);
    switch (v.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::SChar:
    case QMetaType::Char:
        return bind(i, v.toLongLong());
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        return bind(i, static_cast<long long>(v.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        if (sqlite3_bind_double(m_st, i, v.toDouble()) != SQLITE_OK)
            m_db.fail("cannot bind a number");
        return *this;
    default:
        return bind(i, v.toString());
    }
}

bool SqlStmt::step()
{
    const int rc = sqlite3_step(m_st);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    m_db.fail("statement failed");
}

long long SqlStmt::exec()
{
    while (step()) {
    }
    const long long n = m_db.changes();
    reset();
    return n;
}

void SqlStmt::reset()
{
    sqlite3_reset(m_st);
    sqlite3_clear_bindings(m_st);
}

int SqlStmt::columnCount() const { return sqlite3_column_count(m_st); }

QString SqlStmt::columnName(int c) const
{
    return QString::fromUtf8(sqlite3_column_name(m_st, c));
}

bool SqlStmt::isNull(int c) const { return sqlite3_column_type(m_st, c) == SQLITE_NULL; }

QString SqlStmt::text(int c) const
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_st, c));
    if (!p)
        return QString();
    return nameText(QByteArrayView(p, sqlite3_column_bytes(m_st, c)));
}

QByteArrayView SqlStmt::utf8(int c) const
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_st, c));
    return p ? QByteArrayView(p, sqlite3_column_bytes(m_st, c)) : QByteArrayView();
}

long long SqlStmt::int64(int c) const { return sqlite3_column_int64(m_st, c); }

QVariant SqlStmt::value(int c) const
{
    switch (sqlite3_column_type(m_st, c)) {
    case SQLITE_NULL: return QVariant();
    case SQLITE_INTEGER: return QVariant(qlonglong(int64(c)));
    case SQLITE_FLOAT: return QVariant(sqlite3_column_double(m_st, c));
    default: return QVariant(text(c));
    }
}

// --- SqlKeepTxn ----------------------------------------------------------------

SqlKeepTxn::SqlKeepTxn(SqlConn& db) : m_db(db)
{
    m_db.execScript("BEGIN");
    m_open = true;
}

void SqlKeepTxn::commit()
{
    if (!m_open)
        return;
    m_open = false;
    try {
        m_db.execScript("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void SqlKeepTxn::checkpoint()
{
    if (!m_open)
        return;
    commit();
    m_db.execScript("BEGIN");
    m_open = true;
}

SqlKeepTxn::~SqlKeepTxn()
{
    if (!m_open)
        return;
    // Reached when a phase ended early by a stop or an error: its rows stay.
    // A failing COMMIT here is followed by a ROLLBACK so the connection is
    // usable again; the error that ended the phase is already on its way up.
    if (sqlite3_exec(m_db.handle(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

} // namespace velmor
