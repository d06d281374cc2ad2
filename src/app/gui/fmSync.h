#pragma once
// The main window.
#include <QMainWindow>

namespace velmor {

class fmSync : public QMainWindow {
    Q_OBJECT
public:
    explicit fmSync(QWidget* parent = nullptr);

protected:
    // Closing the main window ends the program.
    void closeEvent(QCloseEvent* e) override;
};

} // namespace velmor
