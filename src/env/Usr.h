#pragma once
// Process-wide values and the small shared procedures of the start-up module.
#include <QString>
#include <cstdint>

namespace velmor {
class Prompt;

// Launch hand-off record (window rectangle in twips, folder 1 root).
struct ActRec {
    int32_t nLeft = 0;
    int32_t nTop = 0;
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    QString sRoot1;
    QString sRoot2;
    bool bActOn = false;
};

namespace Usr {
inline QString sExeNm;   // program base name ("velmor")
inline QString sCmdTsk;  // task text of the command line, "" when none
inline QString sUsrDt;   // user data folder, always ending in "/"
inline ActRec actRec;    // hand-off record
inline bool bAppRun = false;
inline bool bBusy = false;

// The program base name of an executable: its file name without a ".exe"
// extension and without a trailing "_dv" in any letter case.
QString exeBaseName(const QString& exeFilePath);

// The prompt every engine message goes through (never null).
Prompt& prompt();
// Installs the front end's prompt; nullptr restores the silent default.
void setPrompt(Prompt* p);

// No file-system object to create here; kept so callers read as specified.
inline void ChkFso() {}

// Removes one trailing occurrence of suffix (default "/") from path. The
// file-system root "/" is never turned into "".
void CutTail(QString& path, QString& suffix);
QString CutTail(const QString& path, const QString& suffix = QString());

// Deletes one file or folder into the user's trash, silently (no prompt).
// Returns false when the item could not be moved; it is then left where it
// was, never moved anywhere else.
bool DelRcy(const QString& path);

// Folder picker with the title "ﾌｫﾙﾀﾞの指定"; a start path that is not an
// existing folder is not preselected. Returns "" when cancelled.
QString GtFldDlg(const QString& path);

// Opens a folder in the desktop's file manager (only if it exists).
void OpnExp(const QString& path);
} // namespace Usr

// Sets Usr::bBusy for its lifetime and restores the previous value, so a
// nested bulk operation never clears the guard of the caller around it.
class BusyGuard {
public:
    BusyGuard() : m_old(Usr::bBusy) { Usr::bBusy = true; }
    ~BusyGuard() { Usr::bBusy = m_old; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    bool m_old;
};

} // namespace velmor
