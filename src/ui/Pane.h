#pragma once
// A splitter pane: a plain widget named by its pane key, holding one control
// without margins (the window's and the folder tree control's layouts).
#include <QString>

class QWidget;

namespace velmor {

QWidget* makePane(const QString& key, QWidget* control);

} // namespace velmor
