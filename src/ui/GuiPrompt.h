#pragma once
// The desktop front end's Prompt: message boxes with the program's title and
// no icon, the text input box, folder and file pickers.
#include "env/Prompt.h"

#include <QFileDialog>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace velmor {

class GuiPrompt : public Prompt {
public:
    // Dialogs are owned by `owner` (may be null, or set later).
    explicit GuiPrompt(QWidget* owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget* owner) { m_owner = owner; }

    void message(const QString& text) override;
    void messageWithDetails(const QString& text, const QString& details) override;
    bool question(const QString& text) override;
    QString input(const QString& prompt, const QString& defaultText) override;
    QString inputTitled(const QString& title, const QString& prompt, const QString& defaultText) override;
    QString pickFolder(const QString& title, const QString& start) override;
    QString pickFile(const QString& title, const QString& filter, const QString& start) override;

    // The file picker pickFile shows. A filter of Windows programs ("*.exe")
    // means any executable file here: its caption stays and every
    // executable is listed, with or without an extension.
    static std::unique_ptr<QFileDialog> filePicker(QWidget* owner, const QString& title, const QString& filter,
                                                   const QString& start);

    // The program's title, the caption of every message and input box.
    static QString title();
    // A CR (alone or before LF) in a message is a line break; a line that
    // is a reason of the run (English, as velmor-cli prints it) is shown in
    // Japanese (MessageJa).
    static QString displayText(const QString& text);

private:
    QPointer<QWidget> m_owner;
};

} // namespace velmor
