#pragma once
// The result grid as plain rows: filled by the comparison, walked and marked
// by the synchronisation, shown by the window through a table model.
#include <QString>
#include <vector>

namespace velmor {

struct ResultRow {
    // Columns 1..12 of the grid.
    long long no = 0;     // 1  running number
    QString path;         // 2  relative folder path ("/"-separated)
    QString name;         // 3  base name (empty on folder rows)
    QString ext;          // 4  extension (empty on folder rows)
    long long s1 = -1;    // 5  size in folder 1 in bytes (-1: empty, as on folder rows)
    QString u1;           // 6  date text in folder 1
    QString flag;         // 7  action flag "1", "0", or "2" once done
    QString status;       // 8  status
    long long s2 = -1;    // 9  size in folder 2 in bytes (-1: empty, as on folder rows)
    QString u2;           // 10 date text in folder 2
    QString at;           // 11 attribute text
    QString result;       // 12 result of the synchronisation
    bool red = false;     // column 12 shown in red
    // Why the synchronisation failed on this row (diagnostic, English); empty
    // unless red. Not a column: the window shows it as the result's tooltip.
    QString why;
    // The file's exact name when columns 3 and 4 do not give it back (a name
    // ending in "." shows the same base name and empty extension as the name
    // without that dot); empty otherwise.
    QString exactName;

    bool isFolderRow() const { return name.isEmpty() && ext.isEmpty() && exactName.isEmpty(); }
    // The name of the file a file row acts on.
    QString fileName() const;
    // Text of column col (1..12).
    QString text(int col) const;
    void setText(int col, const QString& value);
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

private:
    std::vector<ResultRow> m_rows;
};

} // namespace velmor
