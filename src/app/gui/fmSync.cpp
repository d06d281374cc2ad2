#include "fmSync.h"

#include "AppMain.h"

#include <QCloseEvent>

namespace velmor {

fmSync::fmSync(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("fmSync"));
    setWindowTitle(QStringLiteral("ﾌｫﾙﾀﾞの同期"));
    resize(900, 600);
}

void fmSync::closeEvent(QCloseEvent* e)
{
    e->accept();
    AppEnd();
}

} // namespace velmor
