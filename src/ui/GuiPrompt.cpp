#include "ui/GuiPrompt.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace velmor {

QString GuiPrompt::title() { return QStringLiteral("ﾌｫﾙﾀﾞの同期"); }

QString GuiPrompt::displayText(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

void GuiPrompt::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), displayText(text), QMessageBox::Ok, m_owner);
    box.exec();
}

bool GuiPrompt::question(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), displayText(text), QMessageBox::Ok | QMessageBox::Cancel,
                    m_owner);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

QString GuiPrompt::input(const QString& prompt, const QString& defaultText)
{
    return inputTitled(title(), prompt, defaultText);
}

QString GuiPrompt::inputTitled(const QString& caption, const QString& prompt, const QString& defaultText)
{
    bool ok = false;
    const QString answer =
        QInputDialog::getText(m_owner, caption, displayText(prompt), QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}

QString GuiPrompt::pickFolder(const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(m_owner, title, start,
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

QString GuiPrompt::pickFile(const QString& title, const QString& filter, const QString& start)
{
    return QFileDialog::getOpenFileName(m_owner, title, start, filter);
}

} // namespace velmor
