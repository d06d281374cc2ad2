#pragma once
// sbFlt: the modal dialog that asks for the two folder-name filters of the
// folder 1 tree's bulk check command ("ﾌｫﾙﾀﾞｰ ﾁｪｯｸを一括指定").
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmor {

class sbFlt : public QDialog {
    Q_OBJECT
public:
    explicit sbFlt(QWidget* mainWindow = nullptr);

    // Shows the dialog modally, centred over the main window, both boxes
    // empty. bOk: the user pressed "Ok(&O)" (the close box gives false);
    // sOff/sOn: the un-check and check texts as typed.
    void Act(QString& sOff, QString& sOn, bool& bOk);

    QLineEdit* Text1[2] = {nullptr, nullptr};  // (0) un-check filter, (1) check filter
    QPushButton* cmRet = nullptr;               // "Ok(&O)"

private:
    // The texts taken when "Ok(&O)" was pressed.
    QString m_off, m_on;
    bool m_confirmed = false;
};

} // namespace velmor
