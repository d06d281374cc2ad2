#pragma once
// The option switches and the other values of the task options panel, as the
// engine sees them (the panel's widgets fill a TaskPanel).
#include <QSet>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>

namespace velmor {

// yRt: eight switches, each 0 or 1.
//  0 keep newer destination files      4 delete into the trash
//  1 delete what the source lacks      5 protect read-only destinations
//  2 write the history log             6 protect hidden destinations
//  3 back up before overwrite/delete   7 protect system destinations
using YRt = std::array<uint8_t, 8>;

// The largest time shift that can be ignored, in minutes (a day).
inline constexpr int kMaxShift = 1440;

struct TaskPanel {
    std::array<bool, 8> chRet{};  // the eight option check boxes
    QString txFold;               // history/backup folder
    int cbFlt = 0;                // 0 no filter, 1 exclude matches, 2 only matches
    QString txFlt;                // filter patterns, comma-separated
    QString txJogai;              // exclusion patterns (source files)
    QString txHogo;               // protection patterns (destination files)
    int nShift = 0;               // modification times this many minutes apart are equal (0: none)
    bool chLinkTgt = false;       // a link to a file in folder 1 is copied as that file
    bool chAcls = false;          // POSIX ACLs (access and default) are compared and carried
    bool chXattrs = false;        // extended attributes (every namespace but system) are compared and carried
    bool chVerify = false;        // a copy is read back from the destination and compared before it is put in place
    bool chContent = false;       // files of equal size are compared by their bytes, not their times
    bool chContentTimes = false;  // with chContent: equal content of another time gets the source's time, no copy
    int nMoves = 0;               // moved files: 0 not looked for, 1 confirmed by sampled blocks, 2 by every byte
    int nKeepDays = 0;            // dated backup folders and logs older than this many days go (0: kept by age)
    int nKeepCount = 0;           // at most this many dated backup folders and logs are kept (0: any number)
    int nJobs = 0;                // operations in flight on folder 2 (0: chosen by how slow its volume answers)
};

// The most operations in flight on folder 2 (nJobs).
inline constexpr int kMaxJobs = 64;

// The largest value of nKeepDays and nKeepCount.
inline constexpr int kMaxKeep = 100000;

// An option kept in a column that the task table gained after its first
// layout: a switch (flag) or a number from 0 to max. A task saved before
// the column came holds NULL there, which loads as 0, the option's default.
struct AddedTaskColumn {
    const char* column;
    bool TaskPanel::*flag = nullptr;
    int TaskPanel::*number = nullptr;
    int max = 1;

    // The panel's value as it is stored.
    int get(const TaskPanel& p) const { return flag ? int(p.*flag) : p.*number; }
    // A stored value into the panel, kept within the option's range.
    void set(TaskPanel& p, int v) const
    {
        if (flag)
            p.*flag = v != 0;
        else
            p.*number = std::clamp(v, 0, max);
    }
};

// Every such column, in the order they were added.
extern const std::array<AddedTaskColumn, 11> kAddedTaskColumns;

// Snapshot of the check boxes.
YRt GetOpt(const TaskPanel& panel);

// True when "," + item + "," occurs in "," + list + "," (exact, case-sensitive).
bool InList(const QString& list, const QString& item);

// InList of one list for many items (a task's folder lists against every
// node of a tree): the same answers, without a scan of the list per item.
class InListSet {
public:
    explicit InListSet(const QString& list);
    bool contains(const QString& item) const;

private:
    QString m_list;
    QSet<QString> m_entries;  // the list's entries between its commas
};

} // namespace velmor
