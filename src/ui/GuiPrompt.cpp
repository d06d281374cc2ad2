#include "ui/GuiPrompt.h"

#include "env/Reasons.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QInputDialog>
#include <QMessageBox>

namespace velmor {

QString GuiPrompt::title() { return QStringLiteral("ﾌｫﾙﾀﾞの同期"); }

QString GuiPrompt::displayText(const QString& text)
{
    QString t = MessageJa(text);
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

void GuiPrompt::message(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title(), displayText(text), QMessageBox::Ok, m_owner);
    box.exec();
}

void GuiPrompt::messageWithDetails(const QString& text, const QString& details)
{
    QMessageBox box(QMessageBox::NoIcon, title(), displayText(text), QMessageBox::Ok, m_owner);
    box.setDetailedText(MessageJa(details));
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

namespace {

// Folders (to move through) and the files that can be run.
class ExecutablesOnly : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const auto* fs = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!fs)
            return true;
        const QModelIndex i = fs->index(row, 0, parent);
        return fs->isDir(i) || QFileInfo(fs->filePath(i)).isExecutable();
    }
};

} // namespace

std::unique_ptr<QFileDialog> GuiPrompt::filePicker(QWidget* owner, const QString& title, const QString& filter,
                                                   const QString& start)
{
    auto dlg = std::make_unique<QFileDialog>(owner, title);
    dlg->setFileMode(QFileDialog::ExistingFile);
    dlg->setAcceptMode(QFileDialog::AcceptOpen);
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    if (open >= 0 && filter.mid(open).remove(QLatin1Char(' ')).compare(u"(*.exe)", Qt::CaseInsensitive) == 0) {
        // Qt's own dialog, so that the executable bit can be its filter.
        dlg->setOption(QFileDialog::DontUseNativeDialog);
        dlg->setOption(QFileDialog::HideNameFilterDetails);
        dlg->setNameFilter(filter.left(open).trimmed() + QStringLiteral(" (*)"));
        dlg->setProxyModel(new ExecutablesOnly(dlg.get()));
    } else {
        dlg->setNameFilter(filter);
    }
    if (!start.isEmpty())
        dlg->selectFile(start);
    return dlg;
}

QString GuiPrompt::pickFile(const QString& title, const QString& filter, const QString& start)
{
    const std::unique_ptr<QFileDialog> dlg = filePicker(m_owner, title, filter, start);
    if (dlg->exec() != QDialog::Accepted || dlg->selectedFiles().isEmpty())
        return {};
    return dlg->selectedFiles().first();
}

} // namespace velmor
