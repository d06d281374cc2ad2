#pragma once
// Why an operation of a run failed, in two languages: English as velmor-cli
// and the log write it, Japanese as the window shows it.
//
// Every reason the run writes is one kind of Why rendered by WhyText (or
// the system's text of an errno, SysReason); one table gives each kind its
// English and its Japanese form.
// The window holds only the English text of a failed row (ResultRow::why,
// the texts of the end-of-run messages), so ReasonJa finds the kind by that
// table and renders it in Japanese, the path and names as they were.
#include <QString>
#include <QStringList>

namespace velmor {

// Placeholders of the texts: %1 is the path, %2 and %3 the further texts;
// %e is the system's reason for the errno at the path (SysReason).
enum class Why {
    // "cannot <step> <path>: <system's reason>"
    Read,
    ReadLink,
    ReadAttrs,
    ReadBack,
    Write,
    Replace,
    Copy,
    CopyFolder,
    Delete,
    RemoveFolder,
    Move,
    MoveOnto,
    MoveFolderOnto,
    Merge,
    Rename,
    Open,
    OpenFolder,
    OpenFolderOf,
    List,
    Create,
    CreateFolder,
    CreateTempFile,
    CreateTempLink,
    LockTempFile,
    MarkTempFile,
    MarkTempLink,
    DropCache,
    SetPermissions,
    SetTimes,
    SetOwner,
    SetAttr,      // %2: the attribute's name
    RemoveAttr,   // %2: the attribute's name
    // The program's own checks.
    NotFileOrLink,
    SourceChanged,
    ReadBackDiffers,
    ReadOnlyTarget,
    NothingToBackUp,
    FolderNotFile,
    BackupIsFolder,
    BackupNotFolder,
    AttrsMalformed,
    KindsDiffer,       // %2: the other item
    NotFileLinkFolder,
    HoldsSpecialFiles,
    LeftAsTemp,        // %2: the temporary name it kept
    OwnDestination,
    InTheWay,
    InTheWayProtected,
    SourceFolderMissing,
    ChangedSinceCompare,  // %2: the folder-1 item it no longer matches
    LinkOnTheWay,
    InHistory,
    HoldsHistory,
    EmptyRel,
    AbsoluteRel,
    RelLeavesRoot,
    NoLogOpen,
    SpecialNotCopied,
    SpecialNotRemoved,
    TempsLeft,
    TempsLeftUnopened,   // the folder could not be opened (%e: why)
    NameRefused,         // %2: why folder 2's volume refuses the name (a reason)
    PathError,           // "<path>: <system's reason>"
    // What the comparison could not read.
    LinkForFolder,
    NotTheComparedFolder,
    NotAFolder,
    LinkForFile,
    NoLongerAFile,
    SpecialNotSynced,
    // Folder 2's volume cannot take a name (no path: the row or the
    // reason around it names it).
    LinkUnheld,
    CaseClash,           // %1: the name it is taken for
    BadChar,             // %1: the character
    EndsBlankOrDot,
    NameTooLongChars,    // %1: the most characters
    NameTooLongBytes,    // %1: the most bytes
    // The trash.
    TrashLosesFolders,
    NoTrash,
    TrashOpen,
    TrashInfo,
    TrashMove,
    TrashNoName,
    // The log.
    LogCreate,
    LogWrite,
    LogNoName,
    LogNotOpen,
    LogEmptyLeft,    // after "; ": the empty log file stayed
    LogPartLine,     // after "; ": the log ends in part of a line
    // A move that could not be made (the rows are copied and deleted
    // instead); %1: why (a reason).
    MoveFallsBack,
    Count
};

// The English text of reason why: path, the further texts more (%2, %3)
// and, where the text names the system's reason, that of err at path.
QString WhyText(Why why, const QString& path, int err = 0, const QStringList& more = {});

// reason in Japanese: every English reason the run writes (WhyText,
// SysReason and those joined by "; "), the path and names kept. Any other
// text (one in Japanese already) comes back as it is.
QString ReasonJa(const QString& reason);

// ReasonJa for each line of a message (CR, LF or CRLF between lines).
QString MessageJa(const QString& text);

} // namespace velmor
