#pragma once
// The main window's remembered state: group 画面 of "User.xml" in the user
// data folder. Positions and sizes are in twips (15 per pixel). In hand-off
// mode (Usr::actRec.bActOn) the geometry and folder 1 root come from the
// hand-off record and the pane sizes and column widths use the "_R" keys.
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

// Loads the state (defaults where keys are missing; hand-off values when
// bActOn). left/top are clamped to 0.
WinStateData LoadWinState();
// Saves the state into "User.xml" (the hand-off keys only in hand-off mode).
void SaveWinState(const WinStateData& d);

// Twips <-> pixels.
constexpr int kTwipsPerPixel = 15;

} // namespace velmor
