#pragma once
// dlSched: shows how the current task runs by itself and lets the user
// change it. A thin face on `velmor-cli schedule`: it only turns the
// choice into that command's arguments; the window runs the command.
#include <QDialog>
#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimeEdit;

namespace velmor {

class dlSched : public QDialog {
    Q_OBJECT
public:
    explicit dlSched(QWidget* mainWindow = nullptr);

    // Shows the dialog modally for task; current: its schedules as
    // `schedule list` names them ("daily 02:30", "watch"), none when empty.
    // Returns the arguments after "schedule" for the choice, empty when the
    // user cancelled.
    QStringList Act(const QString& task, const QStringList& current);

    // The arguments for what the controls hold now (empty while the
    // interval is not a valid duration).
    QStringList chosen() const;

    QLabel* lbNow = nullptr;       // the schedules in force
    QComboBox* cbKind = nullptr;   // none, daily, every, watch
    QTimeEdit* tmDaily = nullptr;  // the time of day
    QLineEdit* txEvery = nullptr;  // the interval ("2h", "30min")
    QSpinBox* spDelay = nullptr;   // seconds of quiet before a watched run
    QPushButton* cmOk = nullptr;

private:
    void showKind();
    QString m_task;
};

} // namespace velmor
