#include "env/Reasons.h"

#include "env/SysReason.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

namespace velmor {

namespace {

// Each kind of reason in English and in Japanese. nested: the placeholder
// (1..3) that holds a reason of its own, translated in turn (0: none).
struct WhyEntry {
    Why why;
    const char* en;
    const char* ja;
    int nested = 0;
};

// clang-format off
const WhyEntry kWhys[] = {
    {Why::Read,           "cannot read %1: %e",                      "%1 を読み取れません: %e"},
    {Why::ReadLink,       "cannot read link %1: %e",                 "リンク %1 を読み取れません: %e"},
    {Why::ReadAttrs,      "cannot read the attributes of %1: %e",    "%1 の拡張属性を読み取れません: %e"},
    {Why::ReadBack,       "cannot read back the copy of %1: %e",     "%1 のコピーを読み戻せません: %e"},
    {Why::Write,          "cannot write %1: %e",                     "%1 に書き込めません: %e"},
    {Why::Replace,        "cannot replace %1: %e",                   "%1 を置き換えられません: %e"},
    {Why::Copy,           "cannot copy %1: %e",                      "%1 をコピーできません: %e"},
    {Why::CopyFolder,     "cannot copy folder %1: %e",               "フォルダ %1 をコピーできません: %e"},
    {Why::Delete,         "cannot delete %1: %e",                    "%1 を削除できません: %e"},
    {Why::RemoveFolder,   "cannot remove folder %1: %e",             "フォルダ %1 を削除できません: %e"},
    {Why::Move,           "cannot move %1: %e",                      "%1 を移動できません: %e"},
    {Why::MoveOnto,       "cannot move onto %1: %e",                 "%1 へ移動できません: %e"},
    {Why::MoveFolderOnto, "cannot move folder onto %1: %e",          "フォルダを %1 へ移動できません: %e"},
    {Why::Merge,          "cannot merge %1: %e",                     "%1 を移動先のフォルダとまとめられません: %e"},
    {Why::Rename,         "cannot rename %1: %e",                    "%1 の名前を変えられません: %e"},
    {Why::Open,           "cannot open %1: %e",                      "%1 を開けません: %e"},
    {Why::OpenFolder,     "cannot open folder %1: %e",               "フォルダ %1 を開けません: %e"},
    {Why::OpenFolderOf,   "cannot open the folder of %1: %e",        "%1 のあるフォルダを開けません: %e"},
    {Why::List,           "cannot list %1: %e",                      "フォルダ %1 の中を読み取れません: %e"},
    {Why::Create,         "cannot create %1: %e",                    "%1 を作成できません: %e"},
    {Why::CreateFolder,   "cannot create folder %1: %e",             "フォルダ %1 を作成できません: %e"},
    {Why::CreateTempFile, "cannot create a temporary file for %1: %e", "%1 の一時ファイルを作成できません: %e"},
    {Why::CreateTempLink, "cannot create a temporary link for %1: %e", "%1 の一時リンクを作成できません: %e"},
    {Why::LockTempFile,   "cannot lock the temporary file for %1: %e", "%1 の一時ファイルをロックできません: %e"},
    {Why::MarkTempFile,   "cannot mark the temporary file for %1: %e", "%1 の一時ファイルに印を付けられません: %e"},
    {Why::MarkTempLink,   "cannot mark the temporary link for %1: %e", "%1 の一時リンクに印を付けられません: %e"},
    {Why::DropCache,      "cannot drop the cached data of the copy of %1: %e", "%1 のコピーのキャッシュを破棄できません: %e"},
    {Why::SetPermissions, "cannot set permissions of %1: %e",        "%1 のアクセス権を設定できません: %e"},
    {Why::SetTimes,       "cannot set times of %1: %e",              "%1 の日時を設定できません: %e"},
    {Why::SetOwner,       "cannot set the owner of %1: %e",          "%1 の所有者を設定できません: %e"},
    {Why::SetAttr,        "cannot set the attribute %2 of %1: %e",   "%1 の拡張属性 %2 を設定できません: %e"},
    {Why::RemoveAttr,     "cannot remove the attribute %2 of %1: %e", "%1 の拡張属性 %2 を削除できません: %e"},

    {Why::NotFileOrLink,     "cannot copy %1: not a regular file or link", "%1 はファイルでもリンクでもないためコピーできません"},
    {Why::SourceChanged,     "%1: the source changed while it was copied", "%1: コピーしている間に元のファイルが変わりました"},
    {Why::ReadBackDiffers,   "%1: the copy read back differently from what was written, twice; the target was left as it was",
                             "%1: 書き込んだコピーを読み戻すと2回とも内容が違いました（コピー先は元のままです）"},
    {Why::ReadOnlyTarget,    "cannot replace %1: it is read-only",         "%1 は読み取り専用のため置き換えられません"},
    {Why::NothingToBackUp,   "%1 does not exist; there is nothing to back up", "%1 が見つからないためバックアップできません"},
    {Why::FolderNotFile,     "%1 is a folder, not a file",                 "%1 はファイルではなくフォルダです"},
    {Why::BackupIsFolder,    "backup target %1 is a folder",               "バックアップ先の %1 はフォルダです"},
    {Why::BackupNotFolder,   "backup target %1 exists and is not a folder", "バックアップ先の %1 にフォルダではないものがあります"},
    {Why::AttrsMalformed,    "%1: the attributes read are malformed",      "%1: 読み取った拡張属性が壊れています"},
    {Why::KindsDiffer,       "%1 and %2 are not of one kind (file, link or folder)",
                             "%1 と %2 は種類（ファイル・リンク・フォルダ）が違います"},
    {Why::NotFileLinkFolder, "%1 is not a file, link or folder",           "%1 はファイル・リンク・フォルダのどれでもありません"},
    {Why::HoldsSpecialFiles, "cannot move %1: it holds special files",     "%1 には特殊ファイルがあるため移動できません"},
    {Why::LeftAsTemp,        "rename %1: %e; it is left as %2",            "%1 の名前を変えられません: %e（%2 として残っています）"},
    {Why::OwnDestination,    "%1 is the copy's own destination: the destination lies inside the folder copied",
                             "%1 はコピー先そのものです（コピー先がコピーするフォルダの中にあります）"},
    {Why::InTheWay,          "%1 is in the way: a file, link or special file stands where the folder goes",
                             "%1: フォルダを作る場所にファイル・リンク・特殊ファイルがあります"},
    {Why::InTheWayProtected, "%1 is in the way: a file, link or special file stands where the folder goes (protected)",
                             "%1: フォルダを作る場所に保護されたファイル・リンク・特殊ファイルがあります"},
    {Why::SourceFolderMissing, "source folder %1 does not exist",          "コピー元のフォルダ %1 が見つかりません"},
    {Why::ChangedSinceCompare, "%1 is no longer the same as %2",           "%1 は比較した後に変わりました（%2 と同じではありません）"},
    {Why::LinkOnTheWay,      "%1: a folder on the way is a symbolic link or not a folder; it is not followed",
                             "%1: 途中のフォルダがシンボリックリンクかフォルダではないものです（たどりません）"},
    {Why::InHistory,         "%1 lies in the history/backup folder",       "%1 は更新履歴・バックアップの保存先の中にあります"},
    {Why::HoldsHistory,      "%1 holds the history/backup folder",         "%1 の中に更新履歴・バックアップの保存先があります"},
    {Why::EmptyRel,          "empty relative path",                        "相対パスが空です"},
    {Why::AbsoluteRel,       "relative path %1 is absolute",               "相対パス %1 が絶対パスです"},
    {Why::RelLeavesRoot,     "relative path %1 leaves its root",           "相対パス %1 がフォルダの外を指しています"},
    {Why::NoLogOpen,         "no log is open",                             "ログファイルが開いていません"},
    {Why::SpecialNotCopied,  "%1: special file (pipe, socket or device), not copied",
                             "%1: 特殊ファイル（パイプ・ソケット・デバイス）のためコピーしませんでした"},
    {Why::SpecialNotRemoved, "%1: special file, not removed",              "%1: 特殊ファイルのため削除しませんでした"},
    {Why::TempsLeft,         "%1: temporary files of an earlier run could not be removed",
                             "%1: 前回の実行の一時ファイルを削除できませんでした"},
    {Why::TempsLeftUnopened, "cannot open folder %1: %e: temporary files of an earlier run could not be removed",
                             "フォルダ %1 を開けないため前回の実行の一時ファイルを削除できませんでした: %e"},
    {Why::NameRefused,       "%1: %2",                                     "%1: %2", 2},
    {Why::PathError,         "%1: %e",                                     "%1: %e"},
    {Why::LinkForFolder,     "%1: a link or a file stands where a folder was expected (not followed)",
                             "%1: フォルダのはずの場所にリンクかファイルがあります（たどりません）"},
    {Why::NotTheComparedFolder, "%1: no longer the folder the comparison began with (replaced or unmounted)",
                             "%1: 比較を始めた時のフォルダではなくなりました（置き換えられたかマウントが外れました）"},
    {Why::NotAFolder,        "%1: not a folder",                           "%1: フォルダではありません"},
    {Why::LinkForFile,       "%1: a link stands where a file was listed (not followed)",
                             "%1: ファイルのはずの場所にリンクがあります（たどりません）"},
    {Why::NoLongerAFile,     "%1: no longer a regular file",               "%1: 通常のファイルではなくなりました"},
    {Why::SpecialNotSynced,  "%1: special file (pipe, socket or device), not synchronised",
                             "%1: 特殊ファイル（パイプ・ソケット・デバイス）のため同期しません"},

    {Why::LinkUnheld,        "a symbolic link, which folder 2's volume cannot hold",
                             "シンボリックリンクはフォルダ2のボリュームに置けません"},
    {Why::CaseClash,         "folder 2's volume does not tell this name from \"%1\" (letter case)",
                             "フォルダ2のボリュームではこの名前と「%1」を区別できません（大文字・小文字）"},
    {Why::BadChar,           "the name holds \"%1\", which folder 2's volume does not allow in names",
                             "名前にフォルダ2のボリュームで使えない文字「%1」があります"},
    {Why::EndsBlankOrDot,    "the name ends in a blank or a dot, which folder 2's volume does not keep",
                             "名前の末尾が空白かピリオドです（フォルダ2のボリュームでは残りません）"},
    {Why::NameTooLongChars,  "the name is longer than folder 2's volume allows (%1 characters)",
                             "名前が長すぎます（フォルダ2のボリュームでは%1文字まで）"},
    {Why::NameTooLongBytes,  "the name is longer than folder 2's volume allows (%1 bytes)",
                             "名前が長すぎます（フォルダ2のボリュームでは%1バイトまで）"},

    {Why::TrashLosesFolders, "%1: not moved to the trash: this volume (FAT through fusefat) loses what a renamed folder holds",
                             "%1: ゴミ箱に移動しませんでした（このボリューム（fusefat の FAT）では名前を変えたフォルダの中身が失われます）"},
    {Why::NoTrash,           "no trash on the file system of %1: %e",      "%1 のファイルシステムにゴミ箱がありません: %e"},
    {Why::TrashOpen,         "cannot open the trash for %1: %e",           "%1 のゴミ箱を開けません: %e"},
    {Why::TrashInfo,         "cannot write the trash information for %1: %e", "%1 のゴミ箱の情報を書き込めません: %e"},
    {Why::TrashMove,         "cannot move to the trash: %1: %e",           "%1 をゴミ箱に移動できません: %e"},
    {Why::TrashNoName,       "no free name in the trash for %1",           "ゴミ箱に %1 を入れる名前がありません"},

    {Why::LogCreate,         "cannot create log file %1: %e",              "ログファイル %1 を作成できません: %e"},
    {Why::LogWrite,          "cannot write log file %1: %e",               "ログファイル %1 に書き込めません: %e"},
    {Why::LogNoName,         "no free log file name left for %1",          "%1 のログファイルの名前が上限に達しました"},
    {Why::LogNotOpen,        "log is not open",                            "ログファイルが開いていません"},
    {Why::LogEmptyLeft,      "the empty file could not be removed: %e",    "空のファイルを削除できませんでした: %e"},
    {Why::LogPartLine,       "the log now ends in part of a line: %e",     "ログの末尾が行の途中で終わっています: %e"},

    {Why::MoveFallsBack,     "移動できないため複写と削除で同期します: %1", "移動できないため複写と削除で同期します: %1", 1},
};

// The system's reasons, by errno.
struct ErrnoEntry {
    int err;
    const char* ja;
};

const ErrnoEntry kErrnos[] = {
    {EPERM,        "操作が許可されていません"},
    {ENOENT,       "見つかりません"},
    {EINTR,        "中断されました"},
    {EIO,          "入出力エラー"},
    {ENXIO,        "デバイスがありません"},
    {E2BIG,        "引数が長すぎます"},
    {EBADF,        "ファイルが開いていません"},
    {EAGAIN,       "一時的に使えません"},
    {ENOMEM,       "メモリが足りません"},
    {EACCES,       "アクセスが拒否されました"},
    {EBUSY,        "使用中です"},
    {EEXIST,       "同じ名前があります"},
    {EXDEV,        "別のボリュームへは移せません"},
    {ENODEV,       "デバイスがありません"},
    {ENOTDIR,      "フォルダではありません"},
    {EISDIR,       "フォルダです"},
    {EINVAL,       "無効な指定です（ボリュームで使えない名前かもしれません）"},
    {ENFILE,       "システム全体で開いているファイルが多すぎます"},
    {EMFILE,       "開いているファイルが多すぎます"},
    {ENOTTY,       "この操作には対応していない項目です"},
    {ETXTBSY,      "実行中のプログラムのため書き込めません"},
    {EFBIG,        "ファイルが大きすぎます（ボリュームの上限を超えます）"},
    {ENOSPC,       "ボリュームに空きがありません"},
    {EROFS,        "読み取り専用のボリュームです"},
    {EMLINK,       "リンクが多すぎます"},
    {ERANGE,       "値が大きすぎます"},
    {EDEADLK,      "デッドロックになるため中止しました"},
    {ENAMETOOLONG, "名前が長すぎます"},
    {ENOLCK,       "ロックできません"},
    {ENOSYS,       "この機能には対応していません"},
    {ENOTEMPTY,    "フォルダが空ではありません"},
    {ELOOP,        "シンボリックリンクです（たどりません）"},
    {ENODATA,      "属性がありません"},
    {EOVERFLOW,    "値が大きすぎて扱えません"},
    {EILSEQ,       "ボリュームで使えない文字が名前にあります"},
    {EOPNOTSUPP,   "ボリュームがこの操作に対応していません"},
    {EDQUOT,       "使える容量の上限（クォータ）に達しました"},
    {ESTALE,       "項目が置き換えられたか消えたため使えません（ネットワーク上のボリュームなど）"},
    {ENOTCONN,     "ネットワークの接続が切れています"},
    {EHOSTDOWN,    "ネットワークの相手が停止しています"},
    {EHOSTUNREACH, "ネットワークの相手に届きません"},
    {ENETDOWN,     "ネットワークが停止しています"},
    {ENETUNREACH,  "ネットワークに届きません"},
    {ECONNRESET,   "ネットワークの接続が切られました"},
    {ECONNABORTED, "ネットワークの接続が中断されました"},
    {ETIMEDOUT,    "時間切れです"},
    {ENOMEDIUM,    "メディアがありません"},
    {EREMOTEIO,    "リモートの入出力エラー"},
    {ECANCELED,    "取り消されました"},
};
// clang-format on

QString noSpaceJa(int err, const QString& volume)
{
    return err == EDQUOT ? QStringLiteral("ボリューム（%1）で使える容量の上限（クォータ）に達しました").arg(volume)
                         : QStringLiteral("ボリューム（%1）に空きがありません").arg(volume);
}

// Japanese for errno err; volume: where a full volume is mounted ("" when
// not known).
QString errnoJa(int err, const QString& volume)
{
    if (IsNoSpace(err) && !volume.isEmpty())
        return noSpaceJa(err, volume);
    for (const ErrnoEntry& e : kErrnos)
        if (e.err == err)
            return QString::fromUtf8(e.ja);
    return QStringLiteral("エラー %1: %2").arg(err).arg(QString::fromLocal8Bit(std::strerror(err)));
}

// The system's text of each errno (as strerror gives it here) -> the errno.
const QHash<QString, int>& errnoOfText()
{
    static const QHash<QString, int> map = [] {
        QHash<QString, int> m;
        for (int err = 1; err < 256; ++err)
            m.insert(QString::fromLocal8Bit(std::strerror(err)), err);
        return m;
    }();
    return map;
}

// Japanese for a system's reason as SysReason (or strerror) wrote it; a null
// string when text is none.
QString sysJa(const QString& text)
{
    const QHash<QString, int>& known = errnoOfText();
    if (const auto it = known.constFind(text); it != known.constEnd())
        return errnoJa(*it, QString());
    // "no space left on the volume mounted at <volume> (<system's text>)",
    // or "... of <path> (...)" where no volume was found.
    for (const QLatin1String head : {QLatin1String("no space left on the volume mounted at "),
                                     QLatin1String("no space left on the volume of ")}) {
        if (!text.startsWith(head) || !text.endsWith(QLatin1Char(')')))
            continue;
        for (qsizetype open = text.lastIndexOf(QLatin1String(" (")); open > head.size();
             open = text.lastIndexOf(QLatin1String(" ("), open - 1)) {
            const auto it = known.constFind(text.mid(open + 2, text.size() - open - 3));
            if (it != known.constEnd() && IsNoSpace(*it))
                return noSpaceJa(*it, text.mid(head.size(), open - head.size()));
        }
    }
    return QString();
}

// A text of the table split at its placeholders: literal pieces and the
// placeholders '1', '2', '3' and 'e'.
struct Token {
    QString literal;
    char slot = 0;  // 0: a literal
};

std::vector<Token> tokensOf(const char* text)
{
    const QString s = QString::fromUtf8(text);
    std::vector<Token> out;
    QString lit;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        const QChar n = i + 1 < s.size() ? s[i + 1] : QChar();
        if (c == QLatin1Char('%') && (n == QLatin1Char('e') || (n >= QLatin1Char('1') && n <= QLatin1Char('3')))) {
            if (!lit.isEmpty())
                out.push_back({lit, 0});
            lit.clear();
            out.push_back({QString(), char(n.toLatin1())});
            ++i;
        } else {
            lit += c;
        }
    }
    if (!lit.isEmpty())
        out.push_back({lit, 0});
    return out;
}

struct Parsed {
    const WhyEntry* entry;
    std::vector<Token> en, ja;
    qsizetype head;      // length of the literal the English text begins with
    qsizetype literals;  // length of all its literals
};

// The table as the matcher tries it: the longest opening literal first, so
// that "cannot open folder %1" is tried before "cannot open %1", and a text
// that begins with a placeholder ("%1: %e") after every one that names more.
const std::vector<Parsed>& parsedTable()
{
    static const std::vector<Parsed> table = [] {
        std::vector<Parsed> t;
        for (const WhyEntry& e : kWhys) {
            Parsed p{&e, tokensOf(e.en), tokensOf(e.ja), 0, 0};
            if (!p.en.empty() && p.en.front().slot == 0)
                p.head = p.en.front().literal.size();
            for (const Token& k : p.en)
                p.literals += k.literal.size();
            t.push_back(std::move(p));
        }
        std::stable_sort(t.begin(), t.end(), [](const Parsed& a, const Parsed& b) {
            return a.head != b.head ? a.head > b.head : a.literals > b.literals;
        });
        return t;
    }();
    return table;
}

QString translate(const QString& reason);

// Matches text from pos against the tokens from i on; caught receives the
// text of each placeholder ('1'..'3' at 0..2, 'e' at 3), nested reasons and
// the system's reason already in Japanese.
bool matchFrom(const Parsed& p, size_t i, const QString& text, qsizetype pos, std::array<QString, 4>& caught)
{
    if (i == p.en.size())
        return pos == text.size();
    const Token& t = p.en[i];
    if (t.slot == 0)
        return QStringView(text).sliced(pos).startsWith(t.literal) && matchFrom(p, i + 1, text, pos + t.literal.size(), caught);
    // What a placeholder holds ends where the next literal begins: the last
    // such place is tried first.
    const auto take = [&](qsizetype end) {
        const QString part = text.mid(pos, end - pos);
        if (part.isEmpty())
            return false;
        QString& slot = caught[t.slot == 'e' ? 3 : size_t(t.slot - '1')];
        if (t.slot == 'e')
            slot = sysJa(part);
        else if (t.slot - '0' == p.entry->nested)
            slot = translate(part);
        else
            slot = part;
        return !slot.isNull() && matchFrom(p, i + 1, text, end, caught);
    };
    if (i + 1 == p.en.size())
        return take(text.size());
    const QString& next = p.en[i + 1].literal;
    for (qsizetype at = text.lastIndexOf(next); at > pos; at = at > 0 ? text.lastIndexOf(next, at - 1) : -1)
        if (take(at))
            return true;
    return false;
}

QString render(const std::vector<Token>& tokens, const std::array<QString, 4>& args)
{
    QString out;
    for (const Token& t : tokens)
        out += t.slot == 0 ? t.literal : args[t.slot == 'e' ? 3 : size_t(t.slot - '1')];
    return out;
}

// The Japanese of one reason of the table; a null string for any other text.
QString translate(const QString& reason)
{
    for (const Parsed& p : parsedTable()) {
        std::array<QString, 4> caught;
        if (matchFrom(p, 0, reason, 0, caught))
            return render(p.ja, caught);
    }
    return QString();
}

bool hasLatinLetters(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c >= QLatin1Char('a') && c <= QLatin1Char('z'); });
}

} // namespace

QString WhyText(Why why, const QString& path, int err, const QStringList& more)
{
    for (const WhyEntry& e : kWhys) {
        if (e.why != why)
            continue;
        const std::vector<Token> tokens = tokensOf(e.en);
        const bool sys = std::any_of(tokens.cbegin(), tokens.cend(), [](const Token& t) { return t.slot == 'e'; });
        return render(tokens, {path, more.value(0), more.value(1), sys ? SysReason(err, path) : QString()});
    }
    return path;  // every kind has its entry (the table's test walks them all)
}

QString ReasonJa(const QString& reason)
{
    // An English reason has its words in small Latin letters; a text in
    // Japanese (the comparison's reasons) is left at once.
    if (!hasLatinLetters(reason))
        return reason;
    // Reasons the run joined ("; ") are each one of the table, unless the
    // "; " belongs to one reason (and its path): then the whole is one.
    QStringList parts = reason.split(QStringLiteral("; "));
    QStringList ja;
    for (const QString& part : std::as_const(parts))
        ja.append(translate(part));
    if (parts.size() > 1 && std::none_of(ja.cbegin(), ja.cend(), [](const QString& t) { return t.isNull(); }))
        return ja.join(QStringLiteral("; "));
    if (const QString whole = translate(reason); !whole.isNull())
        return whole;
    // Any part that is no reason of the table stays as it is.
    for (qsizetype i = 0; i < parts.size(); ++i)
        if (!ja[i].isNull())
            parts[i] = ja[i];
    return parts.join(QStringLiteral("; "));
}

QString MessageJa(const QString& text)
{
    QString out;
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype end = from;
        while (end < text.size() && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n'))
            ++end;
        out += ReasonJa(text.mid(from, end - from));
        if (end == text.size())
            break;
        const qsizetype sep = text.mid(end, 2) == QLatin1String("\r\n") ? 2 : 1;
        out += text.mid(end, sep);
        from = end + sep;
    }
    return out;
}

} // namespace velmor
