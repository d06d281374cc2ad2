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
    // the folder, and registers the executable path in the per-user store
    // under Usr::sExeNm (only when the executable's own base name is
    // Usr::sExeNm, so velmor-cli never replaces velmor's entry).
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
    // The document is Shift-JIS text with CR LF line breaks, read and written
    // by plain text search:
    //   <?xml version='1.0' encoding='Shift-JIS' ?>
    //   <運用>
    //      <group>
    //         <key>value</key>
    //      </group>
    //   </運用>                       (no line break after the last line)
    // Reading: GetTxt, GetGtx(group), vGtVal... Writing: GetGtx(group),
    // SetVal..., SetGtx, SetTxt.

    // Loads the document from sFL (a first "_DV.xml", any letter case, is read
    // as ".xml"). A missing file is created empty; an empty document becomes
    // the three-line skeleton. bOk is false on any I/O error.
    void GetTxt(const QString& sFL, bool& bOk);
    // Makes sGp the current group and cuts its key lines out of the document
    // ("" when the group is missing or damaged; damage is reported through
    // Usr::prompt()).
    void GetGtx(const QString& sGp);
    // The value of sKy in the current group, typed after vDef: QString,
    // bool, QDate/QDateTime, or a number (read as a double from the text's
    // leading decimal number, 0 when it starts with none). vDef when the key
    // is missing or empty, and when a date or a Boolean cannot be read.
    QVariant vGtVal(const QString& sKy, const QVariant& vDef);
    // Sets sKy in the current group text (memory only), appending a new key
    // line when the key is missing.
    void SetVal(const QString& sKy, const QVariant& vVL);
    // Puts the current group text back into the document; a missing group is
    // inserted before "</運用>". Returns false (document unchanged) when the
    // document has no "</運用>" to insert a new group before.
    bool SetGtx();
    // Writes the document to the file loaded by GetTxt, replacing it
    // atomically. bOk is false on an I/O error, when GetTxt could not read
    // the existing file (it is then left alone), and also when a character
    // cannot be stored in Shift-JIS (it is written as "?"); bOk is left
    // unchanged when no file was loaded.
    void SetTxt(bool& bOk);

    // The text form SetVal stores for a value: "True"/"False", decimal
    // numbers with ".", dates "yyyy/MM/dd" (date-times "yyyy/MM/dd hh:mm:ss").
    static QString valueText(const QVariant& v);

    const QString& document() const { return m_doc; }
    const QString& fileName() const { return m_file; }
    const QString& groupName() const { return m_group; }
    const QString& groupText() const { return m_groupText; }

private:
    // Mode 0 cuts a group's key lines out of the document, mode 1 a key's
    // value out of the current group text.
    QString GtElm(int mode, const QString& name);
    // Composes a document skeleton (0), a group block (1) or a key line (2);
    // every "‡" in the result (value included) becomes CR LF.
    static QString MkElm(int mode, const QString& name, const QString& value);

    QString m_file;
    QString m_doc;
    QString m_groupText;
    QString m_group;
    bool m_unread = false;  // GetTxt found the file but could not read it
};

} // namespace velmor
