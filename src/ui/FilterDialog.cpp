#include "ui/FilterDialog.h"

#include <QLineEdit>

namespace velmor {

sbFlt::sbFlt(QWidget* mainWindow) : QDialog(mainWindow)
{
    Text1[0] = new QLineEdit(this);
    Text1[1] = new QLineEdit(this);
}

void sbFlt::Act(QString& sOff, QString& sOn, bool& bOk)
{
    bOk = exec() == QDialog::Accepted;
    sOff = Text1[0]->text();
    sOn = Text1[1]->text();
}

} // namespace velmor
