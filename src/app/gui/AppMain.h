#pragma once
// The desktop program's start-up (Main) and shutdown (AppEnd).
#include <QString>
#include <QStringList>

namespace velmor {
class spWait;
class GuiPrompt;

// Start-up, in this order: base name, wait dialog (hidden), user data folder
// (its messages shown as message boxes), command line, main window shown.
// argumentsAfterProgram are the raw arguments; Qt never sees them.
// Returns once the main window is shown; the caller runs the event loop.
void Main(const QStringList& argumentsAfterProgram);

// Ends the program: closes every top-level window (the main window saves its
// state in its close handling, which calls AppEnd again; that nested call
// returns at once), releases the shared dialogs, and ends the event loop so
// that no further events are handled.
void AppEnd();

// The whole desktop program: takes the raw arguments, creates the
// application, runs Main and the event loop, and frees the windows before the
// application object goes away. Returns the process exit code.
int RunApp(int argc, char** argv);

// The one wait dialog of the program (created by Main).
spWait& WaitDlg();

// The status the process ends with (0 unless an automatic run set another).
void SetExitStatus(int code);
int ExitStatus();

// Installs Qt's own Japanese texts (file pickers, standard buttons) whatever
// the user's locale. False, with a warning on stderr, when they are missing.
bool LoadQtTranslation();

// Makes sure Japanese text can be drawn: when the font database offers no
// family for Japanese, the first Japanese font file found among the usual
// Debian locations (fonts-ipafont-gothic, fonts-noto-cjk, ...) is loaded and
// becomes the application font. Returns the family used for Japanese, ""
// when none could be found (a warning is written to stderr).
QString EnsureJapaneseFont();

} // namespace velmor
