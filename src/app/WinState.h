#pragma once
// The main window's remembered state: group 画面 of "User.xml" in the user
// data folder. Positions and sizes are in twips (15 per pixel). In hand-off
// mode (Usr::actRec.bActOn) the geometry and folder 1 root come from the
// hand-off record and the pane sizes and column widths use the "_R" keys.
#include <QList>
#include <QString>

namespace velmor {

struct WinStateData {
    int left = 0, top = 0, width = 0, height = 0;  // twips; width/height <= 0: keep the design size
    QString root1, root2;                          // as stored (before any fallback)
    int dr1Wd = 0, dr2Wd = 0, dirHi = 0;           // panes pTr1/pTr2 width, pTr1 height (twips)
    QString clsWd;                                 // widths of grid columns 1-8, "a,b,...,h"
    int disp = 0;                                  // display mode as stored (may lie outside 0-2)
    bool linked = true;                            // CHECK == "連動"
    QString ftpAp;                                 // sFtpAp
};

// Loads the state (defaults where keys are missing or empty; hand-off values
// when bActOn). left/top are clamped to 0; numbers are read as their leading
// decimal number and held within their type's range; linked is true exactly
// for "連動". A missing "User.xml" is created empty; a damaged group is
// reported through Usr::prompt() and reads as defaults; a file that cannot be
// read gives the defaults with a warning on stderr.
WinStateData LoadWinState();
// Saves the state into "User.xml": in hand-off mode DR1_WD_R, DR2_WD_R,
// DIR_HI_R and CLS_WD_R, otherwise LEFT, TOP, WIDTH, HEIGHT, ROOT1, ROOT2,
// DR1_WD, DR2_WD, DIR_HI and CLS_WD; then DISP, CHECK and FTP_AP. Keys of the
// other mode and other groups stay as they are in the file. False (with a
// warning on stderr) when the file could not be read or written; nothing is
// shown to the user, the window closes all the same.
bool SaveWinState(const WinStateData& d);

// The column widths text: each width as decimal text with "." as decimal
// point (no exponent), joined by "," without spaces: "52,180,120.5,...".
QString columnWidthsText(const QList<double>& widths);
// The widths of a column widths text, one per entry in order (so fewer than
// eight when the text is short; none for ""). Each entry reads as its leading
// decimal number ("." as decimal point, blanks skipped), 0 when it starts
// with none; callers apply only widths greater than 0.
QList<double> parseColumnWidths(const QString& text);

// Twips <-> pixels.
constexpr int kTwipsPerPixel = 15;

} // namespace velmor
