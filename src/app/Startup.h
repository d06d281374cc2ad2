#pragma once
// Start-up of both executables: the program's base name, the user data
// folder, and the command line (task text or launch hand-off file).
#include "env/Usr.h"

#include <QString>
#include <QStringList>

namespace velmor {

// The program base name: the executable's file name without a ".exe"
// extension, and without a trailing "_dv" in any letter case.
QString exeBaseName(const QString& exeFilePath);

// The command-line text: the arguments after the program path joined by
// single spaces, exactly as given (no trimming, quotes kept).
QString commandLineText(const QStringList& argumentsAfterProgram);

// True when the command-line text names a launch hand-off file (it contains
// "ZQ_ACT.pdat" in any letter case).
bool isHandOffText(const QString& text);

// Reads a launch hand-off file: little-endian, packed, starting at offset 0:
//   int32 nLeft, nTop, nWidth, nHeight (twips); uint16 L1; L1 bytes sRoot1;
//   uint16 L2; L2 bytes sRoot2 (Shift-JIS); a 16-bit field that is ignored.
// Fields that do not lie wholly inside a short file stay zero/empty. bActOn
// is nWidth > 0 && nHeight > 0. A file that is missing yields an empty record
// (fileFound false); one that exists but cannot be read also yields an empty
// record and a warning on stderr.
ActRec readActRec(const QString& path, bool* fileFound = nullptr);

// Interprets the command-line text: a hand-off path fills Usr::actRec, any
// other non-empty text becomes Usr::sCmdTsk; empty text leaves both empty.
void applyCommandLine(const QString& text);

// The start-up steps shared by velmor and velmor-cli before any window:
// Usr::sExeNm from the executable, the user data folder (messages through
// Usr::prompt()), then the command line. programDir holds "UserData.ini".
void startProcess(const QString& programDir, const QString& exeFilePath,
                  const QStringList& argumentsAfterProgram);

} // namespace velmor
