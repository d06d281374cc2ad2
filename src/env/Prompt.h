#pragma once
#include <QString>

namespace velmor {

// How the engine reaches the user. The GUI shows real dialogs, the
// command-line tool prints messages to stderr and answers questions with
// their default, tests record every text and answer from a script. Texts pass
// through unchanged (a CR inside a message is a line break).
class Prompt {
public:
    virtual ~Prompt() = default;
    // Message box with an OK button only.
    virtual void message(const QString& text) = 0;
    // A message whose full detail (a long list, one item a line) can be read
    // in a scrollable part of the box; front ends without one show text only.
    virtual void messageWithDetails(const QString& text, const QString& details)
    {
        (void)details;
        message(text);
    }
    // OK/Cancel question; true for OK.
    virtual bool question(const QString& text) = 0;
    // Text input box; returns the answer, or an empty text when cancelled.
    virtual QString input(const QString& prompt, const QString& defaultText) = 0;
    // The same box with its own caption instead of the program's title;
    // front ends without captions answer as input().
    virtual QString inputTitled(const QString& title, const QString& prompt, const QString& defaultText)
    {
        (void)title;
        return input(prompt, defaultText);
    }
    // Folder picker preselected on `start` (may be empty); empty when cancelled.
    virtual QString pickFolder(const QString& title, const QString& start) = 0;
    // File picker; empty when cancelled.
    virtual QString pickFile(const QString& title, const QString& filter, const QString& start) = 0;
};

// Prompt that never shows anything: messages are dropped, questions and
// pickers answer "cancel". The default until a front end installs its own.
class SilentPrompt : public Prompt {
public:
    void message(const QString&) override {}
    bool question(const QString&) override { return false; }
    QString input(const QString&, const QString&) override { return {}; }
    QString pickFolder(const QString&, const QString&) override { return {}; }
    QString pickFile(const QString&, const QString&, const QString&) override { return {}; }
};

} // namespace velmor
