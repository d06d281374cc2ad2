#include "env/yIni.h"

#include "env/Prompt.h"
#include "env/SjisText.h"
#include "env/UserStore.h"
#include "env/Usr.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace velmor {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
const QString kRoot = QStringLiteral("運用");
const QString kRootEnd = QStringLiteral("</運用>");
const QString kXmlHeader = QStringLiteral("<?xml version='1.0' encoding='Shift-JIS' ?>");

QString withSlash(const QString& p)
{
    return p.endsWith(QLatin1Char('/')) ? p : p + QLatin1Char('/');
}

bool isDir(const QString& p) { return !p.isEmpty() && QFileInfo(p).isDir(); }

// A text stream read line by line is "at the end of a line right away" when
// the text is empty or its first line is empty.
bool firstLineEmpty(const QString& text)
{
    return text.isEmpty() || text.front() == QLatin1Char('\r') || text.front() == QLatin1Char('\n');
}
} // namespace

// --- environment ------------------------------------------------------------

void yIni::W_UserData()
{
    W_UserData(QCoreApplication::applicationDirPath(), QCoreApplication::applicationFilePath());
}

void yIni::W_UserData(const QString& programDir, const QString& exePath)
{
    const QString P = withSlash(programDir);
    Usr::ChkFso();

    // Registration: rewritten on the first start and whenever the program
    // moved. Only the executable that carries the name registers under it: a
    // companion tool sharing the user data folder (velmor-cli resolving
    // "velmor") must not take over the desktop program's entry.
    if (Usr::exeBaseName(exePath) == Usr::sExeNm
        && UserStore::readPath(Usr::sExeNm).toLower() != exePath.toLower()) {
        // A store that cannot be written only loses the registration; start-up goes on.
        UserStore::writePath(Usr::sExeNm, exePath);
    }

    const QString D = FsGtSpFld(26) + QStringLiteral("/Quarnell/") + Usr::sExeNm + QLatin1Char('/');
    QString V = QStringLiteral("%applicaion data%");
    const QString F = P + QStringLiteral("UserData.ini");

    if (QFileInfo::exists(F)) {
        QString content;
        // An unreadable control file reads like an empty one.
        const bool read = sjis::readFile(F, content);
        if (!read || firstLineEmpty(content)) {
            Usr::prompt().message(QStringLiteral(" ﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞが定義されていません\r") + D
                                  + QStringLiteral(" を使用します"));
        } else {
            V = content;
        }
    } else {
        Usr::prompt().message(F + QStringLiteral(" が見つかりません\rﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞは　") + D
                              + QStringLiteral(" を使用します"));
    }

    // Placeholders are matched ignoring letter case; a folder path keeps the
    // case it was written in, since this file system tells "Data" and "data" apart.
    const QString v = V.toLower();
    if (v == QLatin1String("%app%")) {
        Usr::sUsrDt = P + QStringLiteral("usData/");
    } else if (v == QLatin1String("%usr%") || v == QLatin1String("%applicaion data%")) {
        Usr::sUsrDt = D;
    } else if (v == QLatin1String("%doc") || v == QLatin1String("%my document%")) {
        Usr::sUsrDt = FsGtSpFld(5) + QStringLiteral("/Quarnell/") + Usr::sExeNm + QLatin1Char('/');
    } else if (v.startsWith(QLatin1Char('%'))) {
        Usr::sUsrDt = D;
    } else if (isDir(V)) {
        Usr::sUsrDt = withSlash(V);
    } else {
        Usr::prompt().message(QStringLiteral("ﾌｫﾙﾀﾞ ") + V
                              + QStringLiteral(" が見つかりません\rﾕｰｻﾞｰﾃﾞｰﾀｰﾌｫﾙﾀﾞは　") + D
                              + QStringLiteral(" を使用します"));
        Usr::sUsrDt = D;
    }

    if (!isDir(Usr::sUsrDt))
        F_CreateFld(Usr::sUsrDt);
}

QString yIni::FsGtSpFld(int nFlg)
{
    QStandardPaths::StandardLocation loc;
    switch (nFlg) {
    case 26: loc = QStandardPaths::GenericDataLocation; break;
    case 5: loc = QStandardPaths::DocumentsLocation; break;
    default: return QString();
    }
    QString p = QStandardPaths::writableLocation(loc);
    if (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

void yIni::F_CreateFld(const QString& sFd)
{
    if (isDir(sFd))
        return;
    const QString path = withSlash(sFd);
    // Every prefix that ends before a "/" is one level. The leading "/" of an
    // absolute path gives an empty prefix, the file-system root, which exists.
    QDir dir;
    for (qsizetype k = path.indexOf(QLatin1Char('/')); k >= 0; k = path.indexOf(QLatin1Char('/'), k + 1)) {
        const QString level = path.left(k);
        // Failures are ignored level by level: the caller meets a missing
        // folder when it uses it.
        if (!level.isEmpty() && !isDir(level))
            dir.mkdir(level);
    }
}

void yIni::F_ChkSb(const QString& sPh, const QStringList& Ary)
{
    QDir dir;
    for (const QString& sub : Ary) {
        const QString p = sPh + sub;
        // No parent levels are made here; a failed level is left for the caller to meet.
        if (!isDir(p))
            dir.mkdir(p);
    }
}

void yIni::W_ExpFd(const QString& sFld, bool bOpn)
{
    if (sFld.isEmpty())
        return;
    if (!bOpn) {
        Usr::ChkFso();
        if (!isDir(sFld))
            return;
    }
    // The desktop's opener is a convenience; when none is installed nothing opens.
    QProcess::startDetached(QStringLiteral("xdg-open"), {sFld});
}

// --- settings document --------------------------------------------------------

QString yIni::MkElm(int mode, const QString& name, const QString& value)
{
    QString s;
    switch (mode) {
    case 0:
        s = kXmlHeader + QStringLiteral("‡<") + name + QLatin1Char('>') + value + QStringLiteral("</") + name
            + QLatin1Char('>');
        break;
    case 1:
        s = QStringLiteral("   <") + name + QStringLiteral(">‡") + value + QStringLiteral("   </") + name
            + QStringLiteral(">‡");
        break;
    default:
        s = QStringLiteral("      <") + name + QLatin1Char('>') + value + QStringLiteral("</") + name
            + QStringLiteral(">‡");
        break;
    }
    return s.replace(QChar(0x2021), kCrLf);
}

QString yIni::GtElm(int mode, const QString& name)
{
    const QString& src = mode == 0 ? m_doc : m_groupText;
    if (src.isEmpty())
        return QString();
    const QString open = QLatin1Char('<') + name + QLatin1Char('>');
    const qsizetype a = src.indexOf(open);
    const qsizetype b = src.indexOf(QStringLiteral("</") + name + QLatin1Char('>'));
    if (a < 0 && b < 0)
        return QString();
    if (a >= 0 && b >= 0 && b >= a) {
        const qsizetype s = a + open.size();
        if (mode == 1)
            return src.mid(s, b - s);
        // Group: drop the line break after the opening tag and the three
        // spaces before the closing tag, leaving exactly the key lines.
        return b - s - 5 > 0 ? src.mid(s + 2, b - s - 5) : QString();
    }
    Usr::prompt().message(QLatin1Char('<') + name + QStringLiteral("> の設定が読み込めません\rﾕｰｻﾞｰ環境ﾌｧｲﾙ(")
                          + m_file + QStringLiteral(") が破損しています"));
    return QString();
}

void yIni::GetTxt(const QString& sFL, bool& bOk)
{
    m_doc.clear();
    m_file = sFL;
    const qsizetype dv = m_file.indexOf(QStringLiteral("_DV.xml"), 0, Qt::CaseInsensitive);
    if (dv >= 0)
        m_file.replace(dv, 7, QStringLiteral(".xml"));

    bOk = false;
    m_unread = false;
    if (QFileInfo::exists(m_file)) {
        QString content;
        if (!sjis::readFile(m_file, content)) {
            m_unread = true;
            return;
        }
        if (!firstLineEmpty(content))
            m_doc = content;
    } else {
        QFile f(m_file);
        // NewOnly: a file created meanwhile by someone else is never truncated.
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return;
        f.close();
    }
    if (m_doc.isEmpty())
        m_doc = MkElm(0, kRoot, kCrLf);
    bOk = true;
}

void yIni::GetGtx(const QString& sGp)
{
    m_group = sGp;
    m_groupText = GtElm(0, sGp);
}

QVariant yIni::vGtVal(const QString& sKy, const QVariant& vDef)
{
    switch (vDef.typeId()) {
    case QMetaType::QString: {
        const QString t = GtElm(1, sKy);
        return t.isEmpty() ? vDef : QVariant(t);
    }
    case QMetaType::Bool: {
        const QString t = GtElm(1, sKy).trimmed();
        if (t.isEmpty())
            return vDef;
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool num = false;
        const double d = t.toDouble(&num);
        // A text that is neither a Boolean word nor a number keeps the default.
        return num ? QVariant(d != 0.0) : vDef;
    }
    case QMetaType::QDate:
    case QMetaType::QDateTime: {
        const QString t = GtElm(1, sKy).trimmed();
        // A text that is no date keeps the default without a message.
        static const char* const dateTimeFormats[] = {"yyyy/MM/dd hh:mm:ss", "yyyy/MM/dd h:mm:ss",
                                                      "yyyy/MM/dd hh:mm", "yyyy-MM-ddThh:mm:ss",
                                                      "yyyy-MM-dd hh:mm:ss"};
        static const char* const dateFormats[] = {"yyyy/MM/dd", "yyyy/M/d", "yyyy-MM-dd"};
        QDateTime dt;
        for (const char* f : dateTimeFormats) {
            dt = QDateTime::fromString(t, QLatin1String(f));
            if (dt.isValid())
                break;
        }
        if (!dt.isValid()) {
            for (const char* f : dateFormats) {
                const QDate d = QDate::fromString(t, QLatin1String(f));
                if (d.isValid()) {
                    dt = d.startOfDay();
                    break;
                }
            }
        }
        if (!dt.isValid())
            return vDef;
        return vDef.typeId() == QMetaType::QDate ? QVariant(dt.date()) : QVariant(dt);
    }
    default: {
        const QString t = GtElm(1, sKy);
        if (t.isEmpty())
            return vDef;
        // The leading decimal number: blanks skipped, optional sign, digits,
        // "." and decimals, optional exponent; 0 when there is none.
        QString num;
        qsizetype i = 0;
        const auto skipBlanks = [&] {
            while (i < t.size() && (t[i] == QLatin1Char(' ') || t[i] == QLatin1Char('\t')))
                ++i;
        };
        skipBlanks();
        if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
            num += t[i++];
        const auto digits = [&] {
            qsizetype n = 0;
            while (i < t.size() && t[i] >= QLatin1Char('0') && t[i] <= QLatin1Char('9')) {
                num += t[i++];
                ++n;
            }
            return n;
        };
        qsizetype n = digits();
        if (i < t.size() && t[i] == QLatin1Char('.')) {
            num += t[i++];
            n += digits();
        }
        if (n == 0)
            return 0.0;
        if (i + 1 < t.size() && (t[i] == QLatin1Char('e') || t[i] == QLatin1Char('E'))) {
            const qsizetype mark = i;
            const QString before = num;
            num += t[i++];
            if (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))
                num += t[i++];
            if (digits() == 0) {
                i = mark;
                num = before;
            }
        }
        return num.toDouble();
    }
    }
}

QString yIni::valueText(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(v.toDouble(), 'g', 15);
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("yyyy/MM/dd"));
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
    default:
        return v.toString();
    }
}

void yIni::SetVal(const QString& sKy, const QVariant& vVL)
{
    const QString open = QLatin1Char('<') + sKy + QLatin1Char('>');
    const qsizetype a = m_groupText.indexOf(open);
    qsizetype c = -1;
    if (a >= 0)
        c = m_groupText.indexOf(QStringLiteral("</") + sKy + QLatin1Char('>'), a + open.size());
    const QString text = valueText(vVL);
    if (a >= 0 && c >= 0)
        m_groupText = m_groupText.left(a + open.size()) + text + m_groupText.mid(c);
    else
        m_groupText += MkElm(2, sKy, text);
}

bool yIni::SetGtx()
{
    if (m_doc.isEmpty())
        m_doc = MkElm(0, kRoot, kCrLf);
    const QString open = QLatin1Char('<') + m_group + QLatin1Char('>');
    const qsizetype a = m_doc.indexOf(open);
    if (a >= 0) {
        // k: just after the line break that follows the opening tag.
        const qsizetype k = a + open.size() + 2;
        const qsizetype c = m_doc.indexOf(QStringLiteral("</") + m_group + QLatin1Char('>'), k - 1);
        if (c >= 0) {
            m_doc = m_doc.left(k) + m_groupText + QStringLiteral("   ") + m_doc.mid(c);
            return true;
        }
    }
    const qsizetype d = m_doc.indexOf(kRootEnd);
    if (d < 0)
        return false;
    m_doc = m_doc.left(d) + MkElm(1, m_group, m_groupText) + m_doc.mid(d);
    return true;
}

void yIni::SetTxt(bool& bOk)
{
    if (m_file.isEmpty())
        return;
    // A file that could not be read is never replaced by what little is in memory.
    bOk = !m_unread && sjis::writeFile(m_file, m_doc);
}

} // namespace velmor
