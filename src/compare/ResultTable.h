#pragma once
// The result grid as plain rows: filled by the comparison, walked and marked
// by the synchronisation, shown by the window through a table model.
//
// A million rows must fit in a few hundred megabytes, so a row keeps no
// string of its own where a few bytes say the same: the short texts that
// recur (flag, status, attribute, result) and the date texts are CellTexts,
// one machine word each, and the two texts only some rows have live behind
// one pointer.
#include <QString>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

namespace velmor {

// A cell text in one word. A text shaped like a date "yy/MM/dd hh:mm" is
// kept as its ten digits; any other text is kept once for the whole process
// in a pool and shared by every cell that shows it (pooled texts are never
// freed, so this is for texts from a small set: statuses, flags, attribute
// texts, results). Equal texts always have equal words.
class CellText {
public:
    CellText() = default;
    CellText(const QString& text);  // NOLINT: a cell takes any text as it is

    QString toString() const;
    operator QString() const { return toString(); }  // NOLINT
    // A date text's 14 characters as ASCII into out (no string made); false
    // for any other text.
    bool dateText(char (&out)[14]) const;
    bool isEmpty() const { return m_word == 0; }

    friend bool operator==(CellText a, CellText b) { return a.m_word == b.m_word; }
    friend bool operator==(CellText a, const QString& b) { return a.equals(b); }
    friend bool operator==(CellText a, QLatin1StringView b) { return a.equals(QString(b)); }
    friend std::ostream& operator<<(std::ostream& os, CellText t);

private:
    bool equals(const QString& text) const;
    std::uintptr_t m_word = 0;  // 0: empty; kDate bit: packed digits; else: a pooled QString*
};

// The action flags of column 7.
inline const CellText kFlagDo{QStringLiteral("1")};
inline const CellText kFlagOff{QStringLiteral("0")};
inline const CellText kFlagDone{QStringLiteral("2")};
// The result of a row whose item folder 2's volume cannot take (a name it
// refuses or cannot tell from another, a link where it holds none), shown
// by the comparison; the row is "除外" and the reason is its why().
inline const CellText kUnholdable{QStringLiteral("同期不可")};
// The result of a row on which only metadata differ (permissions, owner,
// ACLs, extended attributes, a folder's time), shown by the comparison and
// kept once they are corrected: nothing is copied; its why() names them.
inline const CellText kMetaOnly{QStringLiteral("属性のみ")};
// The result of the two rows of a move: the "追加" item is the "削除" item
// under another name, renamed in folder 2 instead of copied again (and the
// row of a file whose name changed only in letter case on a volume that
// ignores case). Shown by the comparison while both rows act, kept once
// the rename is done; ResultRow::moveText() says from where and to where.
inline const CellText kMoved{QStringLiteral("移動")};

struct ResultRow {
    // Columns 1..12 of the grid.
    long long no = 0;     // 1  running number
    QString path;         // 2  relative folder path ("/"-separated)
    QString name;         // 3  base name (empty on folder rows)
    QString ext;          // 4  extension (empty on folder rows)
    long long s1 = -1;    // 5  size in folder 1 in bytes (-1: empty, as on folder rows)
    CellText u1;          // 6  date text in folder 1
    CellText flag;        // 7  action flag "1", "0", or "2" once done
    CellText status;      // 8  status
    long long s2 = -1;    // 9  size in folder 2 in bytes (-1: empty, as on folder rows)
    CellText u2;          // 10 date text in folder 2
    CellText at;          // 11 attribute text
    CellText result;      // 12 result of the synchronisation
    bool red = false;     // column 12 shown in red

    // Why the synchronisation failed on this row (English, as velmor-cli and
    // the log say it) when red; otherwise why the comparison found the two
    // sides different where the columns do not show it, or empty. Not a
    // column: the window shows it, in Japanese (ReasonJa), as the tooltip of
    // the status and the result.
    QString why() const { return m_rare ? m_rare->why : QString(); }
    void setWhy(const QString& why);
    // The file's exact name when columns 3 and 4 do not give it back (a name
    // ending in "." shows the same base name and empty extension as the name
    // without that dot); empty otherwise.
    QString exactName() const { return m_rare ? m_rare->exactName : QString(); }
    void setExactName(const QString& name);

    // A move (see kMoved): the partner row's running number (0: none; a
    // row that is its own partner renames its file to another letter case)
    // and the partner's relative path (a "追加" row's old place, a "削除"
    // row's new one; a file's path includes its name).
    long long moveNo() const { return m_rare ? m_rare->moveNo : 0; }
    QString moveRel() const { return m_rare ? m_rare->moveRel : QString(); }
    void setMove(long long partnerNo, const QString& partnerRel);
    // "移動元 <old path>" on the row that receives, "移動先 <new path>" on
    // the row that goes; "" without a move.
    QString moveText() const;

    // What a folder row's item holds, as far as it was counted: the files
    // and links (-1: not counted) and their bytes. The comparison counts
    // the files of a folder to delete as its scan lists them; the
    // synchronisation counts what it copied into a folder copied whole, and
    // what it removed from a container it emptied.
    long long contentFiles() const { return m_rare ? m_rare->contentFiles : -1; }
    long long contentBytes() const { return m_rare ? m_rare->contentBytes : 0; }
    void setContent(long long files, long long bytes);

    bool isFolderRow() const { return name.isEmpty() && ext.isEmpty() && !m_rare.hasExactName(); }
    // The name of the file a file row acts on.
    QString fileName() const;
    // The item's path below its root: a folder row's path, a file row's
    // folder and name.
    QString itemPath() const;
    // Text of column col (1..12).
    QString text(int col) const;
    void setText(int col, const QString& value);

private:
    struct Rare {
        QString why;
        QString exactName;
        QString moveRel;
        long long moveNo = 0;
        long long contentFiles = -1;
        long long contentBytes = 0;
    };
    // The rare texts, made only for the rows that have one; copied with the row.
    class RarePtr {
    public:
        RarePtr() = default;
        RarePtr(const RarePtr& o) : m_p(o.m_p ? std::make_unique<Rare>(*o.m_p) : nullptr) {}
        RarePtr(RarePtr&&) noexcept = default;
        RarePtr& operator=(const RarePtr& o)
        {
            if (this != &o)
                m_p = o.m_p ? std::make_unique<Rare>(*o.m_p) : nullptr;
            return *this;
        }
        RarePtr& operator=(RarePtr&&) noexcept = default;
        explicit operator bool() const { return bool(m_p); }
        const Rare* operator->() const { return m_p.get(); }
        Rare& get()
        {
            if (!m_p)
                m_p = std::make_unique<Rare>();
            return *m_p;
        }
        void dropIfEmpty()
        {
            if (m_p && m_p->why.isEmpty() && m_p->exactName.isEmpty() && m_p->moveNo == 0 && m_p->contentFiles < 0)
                m_p.reset();
        }
        bool hasExactName() const { return m_p && !m_p->exactName.isEmpty(); }

    private:
        std::unique_ptr<Rare> m_p;
    };
    RarePtr m_rare;
};

class ResultTable {
public:
    int rowCount() const { return int(m_rows.size()); }
    void setRowCount(int n) { m_rows.resize(size_t(n)); }
    void clear() { m_rows.clear(); }
    ResultRow& row(int r) { return m_rows[size_t(r)]; }             // 0-based
    const ResultRow& row(int r) const { return m_rows[size_t(r)]; }
    std::vector<ResultRow>& rows() { return m_rows; }
    const std::vector<ResultRow>& rows() const { return m_rows; }
    // Puts the rows back into fill order (ascending column 1).
    void sortByNumber();
    // The index of the row with running number no (-1: none).
    int rowOfNumber(long long no) const;
    // The partner of row r when their move acts: both rows (or the one row
    // that is its own partner) have the flag "1"; -1 otherwise, and then
    // each row is an ordinary copy or deletion.
    int movePartner(int r) const;

private:
    std::vector<ResultRow> m_rows;
};

} // namespace velmor
