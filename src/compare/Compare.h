#pragma once
// The comparison engine: scans of both sides into tbFold/tbFile, the
// classification of every folder and file, and the result list. Each phase
// works on a Session (roots, switches, filter, database, progress) and yields
// to its Progress after every unit of work, returning early once the user
// pressed stop. Failures throw (SqlError, FsError); CmpRun decides what a
// failure means for the run.
#include "compare/ContentCmp.h"
#include "compare/ResultTable.h"
#include "env/FileMeta.h"
#include "tasks/Options.h"

#include <QString>
#include <QStringList>

namespace velmor {
struct Session;

// --- statuses -------------------------------------------------------------
namespace St {
inline const QString Empty = QString();
inline const QString Kara = QStringLiteral("空");         // container
inline const QString KaraAdd = QStringLiteral("空追");    // container to create
inline const QString Add = QStringLiteral("追加");
inline const QString CmpF = QStringLiteral("比較F");
inline const QString Cmp = QStringLiteral("比較");
inline const QString Del = QStringLiteral("削除");
inline const QString Over = QStringLiteral("上書");
inline const QString Same = QStringLiteral("同一");
inline const QString Excl = QStringLiteral("除外");
inline const QString Prot = QStringLiteral("保護");
inline const QString None = QStringLiteral("**");
} // namespace St

// A row whose flag the user set on an excluded or protected item is carried
// out as an overwrite; every other status passes unchanged.
inline QString EffectiveStatus(const QString& status)
{
    return status == St::Excl || status == St::Prot ? St::Over : status;
}

// --- the program's own messages of a comparison (CR = line break) ---------
namespace CmpMsg {
inline const QString FolderPhase = QStringLiteral("ﾌｫﾙﾀﾞを比較しています");
inline const QString FilePhase = QStringLiteral("ﾌｧｲﾙを比較しています");
inline const QString Fill = QStringLiteral("比較結果を表にｾｯﾄしています");
inline const QString Busy = QStringLiteral("比較または同期を実行中です");
inline const QString Root1Missing = QStringLiteral("ﾌｫﾙﾀﾞ1が見つかりません\r比較は実行しません");
inline const QString Root2Missing = QStringLiteral("ﾌｫﾙﾀﾞ2が見つかりません\r比較は実行しません");
inline const QString Nested =
    QStringLiteral("ﾌｫﾙﾀﾞ1とﾌｫﾙﾀﾞ2が同じか､一方が他方の中にあります\r比較は実行しません");
// + the pattern
inline const QString BadPattern = QStringLiteral("ﾊﾟﾀｰﾝの指定が正しくありません\r");
// + the error text: a failure the run went on after
inline const QString Error = QStringLiteral("比較中にｴﾗｰが発生しました\r");
// + the error text: a failure that ended the run
inline const QString Failed = QStringLiteral("比較中にｴﾗｰが発生したため中止しました\r");
// + one line per folder
inline const QString Unread = QStringLiteral("読み取れないﾌｫﾙﾀﾞ･ﾌｧｲﾙは除外しました");
// + one line per item: what folder 2's volume cannot take, left out
inline const QString Unholdable = QStringLiteral("ﾌｫﾙﾀﾞ2のﾄﾞﾗｲﾌﾞに保存できないﾌｫﾙﾀﾞ･ﾌｧｲﾙは除外しました");
// + one line per kind: what folder-1 items have that folder 2's volume cannot hold
inline const QString Lost = QStringLiteral("ﾌｫﾙﾀﾞ2のﾄﾞﾗｲﾌﾞに保存できない情報はｺﾋﾟｰされません");
} // namespace CmpMsg

// --- folder scan (tbFold) ---------------------------------------------------
// Records every ticked, loaded, non-placeholder node of the folder 1 tree in
// index order (the root node excepted), then every unticked ancestor of a
// ticked folder as a container ("空"), in the order first met. Returns the
// relative paths of the ticked folders. A ticked folder that cannot be read
// (also one reached through a link below the root) is recorded as "除外"
// with everything below it and listed in vUnread. Folders in the volume's
// trash (".Trash", ".Trash-<digits>" at the root) take no part. Throws
// FsError when the root cannot be opened.
QStringList ScnFld1(Session& s);
// Records folder and every folder below it on disk (depth first, parent
// before children, name order; links are not folders): a folder matching a
// folder-1 row by exact relative path completes it, any other gets a row of
// its own. A folder that cannot be listed becomes "除外" with everything
// below it and is listed in vUnread. The history/backup folder (found by its
// identity, its path below folder 2 kept in sHistRel) and the volume trash
// folders at folder 2's root get no row and are not entered. Throws FsError
// when folder itself cannot be opened or listed. A folder of folder 2 only
// (one a deletion removes whole) gets the number of files and links it holds
// in nF2, counted as it is listed.
void ScnFld2(Session& s, const QString& folder);

// --- folder classification ----------------------------------------------------
// True when the folder-2 item with attribute text at may be changed: false
// when one of its attributes is protected by switch 5 (R), 6 (H) or 7 (S).
bool ChkAttr(const YRt& yRt, const QString& at);
// Status of one tbFold row (pure). container: inserted as "空"; in1/in2: the
// date text of that side is not empty; filterOn: nFltMd != 0.
QString FolderStatus(bool del, bool container, bool in1, bool in2, bool attrOk, bool filterOn);
// Classifies every row of tbFold. Rows a scan marked "除外" (unreadable)
// keep that status. With a history folder below folder 2 (sHistRel), the
// rows at or below it and its folder-2-only ancestors that would be deleted
// become "除外".
void ClsFld(Session& s);
// Folders on both sides ("比較") whose metadata differ (permission bits,
// owner, time, and ACLs and extended attributes where the options ask for
// them): the row gets the reason and nMo = 1, so it is listed and the
// synchronisation corrects them. Run after ClsFld.
void ClsFldMeta(Session& s);

// --- file scan (tbFile) ---------------------------------------------------------
// Lists the files of every "比較"/"比較F" folder on both sides into tbFile
// (folder-1 files first, then folder-2 files without a folder-1 row; exact
// name matching), each side with its size, date text and exact time. Creates the folder-2 copy of a "比較F" folder. A folder
// that cannot be listed on either side (also one reached through a link
// below a root) becomes "除外" with everything below it; it and every pipe,
// socket or device met are listed in vUnread. Folders holding the
// program's temporary files on side 2 are kept in vTmpLeft. Throws FsError
// when a root cannot be opened.
void ScnFile(Session& s);

// --- file classification --------------------------------------------------------
// True when a file of this name is one of the program's own files or its
// companions' (the work database, the settings), letter case ignored: such
// a file takes no part and is never copied, not even inside a folder copied
// whole.
bool IsOwnFile(const QString& name);
// Why ChkFile refused a file.
enum class FileRefusal { None, OwnFile, Attribute, Filter };
// Admission test of one file: own files, attribute protection, the filter.
FileRefusal ChkFile(const Session& s, const QString& name, const QString& at);
// An exact modification time: seconds since the epoch (before 1970 and
// far past 2262 alike) and the nanoseconds within that second.
struct FileTime {
    long long sec = 0;
    long long nsec = 0;  // 0 to 999,999,999
    auto operator<=>(const FileTime&) const = default;
};
// One side of a file row: its date text ("yy/MM/dd hh:mm", empty when the
// side has no file), its size in bytes, its exact modification time, its
// st_mode (type and permission bits; 0: not known, taken as a regular file),
// owner and group, and its ACLs and extended attributes where they are read.
struct FileSide {
    QString u;
    long long size = 0;
    FileTime time;
    unsigned mode = 0;
    unsigned uid = 0, gid = 0;
    const FileXattrs* xattrs = nullptr;
};
// Status from the two sides' types, sizes and exact times (pure; step 3 of
// the classification). The date texts are only shown and stored. Two files
// of one type and size whose times fall in the same whole second are
// "同一"; otherwise the exact times say which side is newer: folder 1 newer
// "上書", folder 2 newer "**" with keep (keep newer destination files), else
// "上書". A link on one side and a file on the other always differ ("上書":
// the copy brings the source's type). A side without a file as the table
// says.
// match widens "the same time": a folder-2 time exactly shiftMinutes off
// either way counts as the same (a FAT volume keeps local times, which move
// by an hour when summer time begins or ends), and where folder 2 keeps times
// in steps of two seconds, times at most two seconds apart are the same (the
// shifted time as well).
// meta: what else of a file is compared. Two files whose content is the
// same by the rule above but whose permission bits (set-ID and sticky
// included, regular files), owner or group, ACLs or extended attributes
// differ are "上書" with metaOnly set: only those are corrected, no byte is
// copied.
struct TimeMatch {
    int shiftMinutes = 0;         // 0: no shift is ignored
    bool twoSecondTimes = false;  // folder 2's volume keeps two-second times (FAT)
};
// Two modification times are the same to the comparison: the same whole
// second, or the same after the match's shift or tolerance.
bool SameFileTime(const FileTime& one, const FileTime& two, const TimeMatch& match);
struct MetaMatch {
    bool modes = true;    // permission bits (where folder 2's volume keeps them)
    bool owners = false;  // owner and group (where they can be set: as root)
};
struct FileVerdict {
    QString status;
    QString reason;         // why the two differ, where the date texts do not show it ("" otherwise)
    bool metaOnly = false;  // "上書" of metadata alone
};
// content: the outcome of comparing two regular files of equal size by their
// bytes (Same or Differ; NotRead and Failed: by the times as above). Other
// bytes are "上書" (with keep and folder 2 newer "**"), also where the times
// are the same; the same bytes are "同一" whatever the times, or, with
// contentTimes and other times, "上書" with metaOnly set, so that only the
// time is given. The reason of such a row says that the content decided.
FileVerdict FileVerdictOf(const FileSide& one, const FileSide& two, bool keep, bool del, const TimeMatch& match = {},
                          const MetaMatch& meta = {}, ContentCheck content = ContentCheck::NotRead,
                          bool contentTimes = false);
QString FileStatusByDates(const FileSide& one, const FileSide& two, bool keep, bool del,
                          const TimeMatch& match = {});
// What of the metadata of two items on both sides differs, as a Japanese
// text for the grid ("ｱｸｾｽ権 0644→0755 所有者 … ACL 拡張属性"); "" when
// nothing does. Modes are compared when modes is set (permission bits only).
QString MetaDifference(const FileSide& one, const FileSide& two, const MetaMatch& meta);
// Status after a refusal (pure). An attribute refusal is always "除外": a
// protected folder-2 copy is never deleted.
QString RefusedStatus(const QString& byDates, FileRefusal why, bool del);
// The status of one file row from its name, both sides and the folder-2
// attribute text, with the run's switches and file filter taken once.
class FileClassifier {
public:
    explicit FileClassifier(const Session& s);
    QString status(const QString& name, const FileSide& one, const FileSide& two, const QString& at) const;
    // The same with the reason and whether only metadata differ (never
    // after a refusal).
    FileVerdict verdict(const QString& name, const FileSide& one, const FileSide& two, const QString& at,
                        ContentCheck content = ContentCheck::NotRead) const;
    // True when the two sides are to be compared by their bytes: the option
    // is on and both are regular files of the same size.
    bool comparesContent(const FileSide& one, const FileSide& two) const;
    // The admission test alone (ChkFile).
    FileRefusal refusal(const QString& name, const QString& at) const;

private:
    YRt m_yRt;
    bool m_keep, m_del;
    bool m_content, m_contentTimes;
    int m_mode;
    TimeMatch m_match;
    MetaMatch m_meta;
    QStringList m_entries;
};
// Classifies every row of tbFile that has no status yet (the file scan
// gives each row its status as it writes it; rows left without one by an
// interrupted scan, or written by other means, are classified here).
void ClsFile(Session& s);

// --- patterns -------------------------------------------------------------------
// Protection (vHogo) and exclusion (vJogai) patterns, lower case, "\" read
// as "/", empty entries dropped, path patterns anchored with a leading "*".
struct PtnLists {
    QStringList vHogo, vJogai;
};
PtnLists LstPtn(const TaskPanel& panel);
// May turn the status of a file row into "保護" (protection, tested first,
// for "削除"/"上書") or "除外" (exclusion, for "追加"/"上書"). Throws
// PatternError for an invalid pattern.
void ChkPtn(const PtnLists& lists, const QString& p, const QString& b, const QString& e, QString& status);
// Normalised file filter entries: trimmed, empty ones dropped, an entry
// without "." used as "*." + entry.
QStringList FilterEntries(const QStringList& raw);
// The first pattern of the list that cannot be matched (an unclosed "["),
// or an empty text when all are valid.
QString InvalidPattern(const QStringList& patterns);

// The first entry of the pattern boxes, as typed (trimmed), that cannot be
// matched: the file filter (when withFilter and a filter choice is made),
// then the protection, then the exclusion patterns. Empty when all are valid.
QString InvalidEntry(const TaskPanel& panel, bool withFilter);

// --- result list ----------------------------------------------------------------
// Splits a file name at its last "." into base name and extension.
void SplitName(const QString& fileName, QString& base, QString& ext);
// Action flag "0" or "1" of a folder row or a file row with this status.
CellText ActionFlag(CellText status, bool fileRow);
// Fills the grid from tbFold and tbFile through the display mode's filter;
// enables the result commands when the file rows were reached. Returns
// true when every row was listed, false after a stop or when an invalid
// protection or exclusion pattern was reported (the grid is then unchanged).
bool LstFill(Session& s);

// --- the run ----------------------------------------------------------------------
enum class CmpOutcome {
    Done,     // the grid was filled
    Stopped,  // the user pressed stop; the grid is empty
    Refused,  // nothing was compared (a message told why)
    Failed,   // a phase failed; the run ended with a message, the grid is empty
};
// A message of the program's own (not one of the fixed texts of a run):
// a message box, or standard error during an unattended run
// (s.bUnattended), which must never wait for a click.
void Notice(const Session& s, const QString& text);
// Notices head and then one line per entry of lines in one message: the
// first 20 and how many more, with every line in the box's scrollable
// details (unattended: every line on standard error); nothing when lines is
// empty.
void ShowListMessage(const Session& s, const QString& head, const QStringList& lines);

// The whole comparison of the Session's two trees.
CmpOutcome CmpRun(Session& s);

} // namespace velmor
