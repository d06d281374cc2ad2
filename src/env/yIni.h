#pragma once
// Environment and settings module: the user data folder, folder creation,
// special folders, and the User.xml settings document.
#include <QString>
#include <QStringList>
#include <QVariant>

namespace velmor {

class yIni {
public:
    // --- environment ------------------------------------------------------
    // Resolves Usr::sUsrDt from "UserData.ini" in the program folder, creates
    // the folder, and registers the executable path in the per-user store.
    // Messages go through Usr::prompt(). Without arguments the program folder
    // and executable are those of the running program.
    void W_UserData();
    void W_UserData(const QString& programDir, const QString& exePath);

    // Path of special folder 26 (per-user application data) or 5 (documents),
    // without a trailing "/"; "" when there is none.
    static QString FsGtSpFld(int nFlg);
    // Makes sure the folder exists, creating every missing level; failures
    // are ignored level by level.
    static void F_CreateFld(const QString& sFd);
    // Creates sPh + each element of Ary that does not exist (no parents).
    static void F_ChkSb(const QString& sPh, const QStringList& Ary);
    // Opens (bOpn) or explores a folder in the desktop's file manager.
    static void W_ExpFd(const QString& sFld, bool bOpn);

    // --- settings document (User.xml) -------------------------------------
    // Declared and implemented by the settings part of this module.
#include "env/yIniSettings.inc"
};

} // namespace velmor
