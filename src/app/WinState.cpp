#include "app/WinState.h"

#include "env/Usr.h"
#include "env/yIni.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace velmor {

namespace {

const QString kGroup = QStringLiteral("画面");
const QString kLinked = QStringLiteral("連動");
const QString kUnlinked = QStringLiteral("非連動");

QString settingsFile() { return Usr::sUsrDt + QStringLiteral("User.xml"); }

// A stored number as an integer of [lo, hi]: rounded half to even, as a
// whole-number setting takes a fractional value; out-of-range values are
// held at the nearest bound instead of wrapping.
int toInt(double v, int lo, int hi)
{
    if (std::isnan(v))
        return 0;
    const double r = std::nearbyint(v);
    if (r <= lo)
        return lo;
    if (r >= hi)
        return hi;
    return int(r);
}

int intKey(yIni& ini, const QString& key)
{
    return toInt(ini.vGtVal(key, 0).toDouble(), std::numeric_limits<int32_t>::min(),
                 std::numeric_limits<int32_t>::max());
}

QString textKey(yIni& ini, const QString& key) { return ini.vGtVal(key, QString()).toString(); }

} // namespace

WinStateData LoadWinState()
{
    yIni ini;
    bool ok = false;
    ini.GetTxt(settingsFile(), ok);
    if (!ok)  // the window still opens, with every key at its default
        qWarning("settings file %s cannot be read; defaults are used", qUtf8Printable(settingsFile()));
    ini.GetGtx(kGroup);

    WinStateData d;
    const ActRec& act = Usr::actRec;
    QString paneSuffix;
    if (act.bActOn) {
        d.left = act.nLeft;
        d.top = act.nTop;
        d.width = act.nWidth;
        d.height = act.nHeight;
        d.root1 = act.sRoot1;
        d.root2.clear();
        paneSuffix = QStringLiteral("_R");
    } else {
        d.left = intKey(ini, QStringLiteral("LEFT"));
        d.top = intKey(ini, QStringLiteral("TOP"));
        d.width = intKey(ini, QStringLiteral("WIDTH"));
        d.height = intKey(ini, QStringLiteral("HEIGHT"));
        d.root1 = textKey(ini, QStringLiteral("ROOT1"));
        d.root2 = textKey(ini, QStringLiteral("ROOT2"));
    }
    d.dr1Wd = intKey(ini, QStringLiteral("DR1_WD") + paneSuffix);
    d.dr2Wd = intKey(ini, QStringLiteral("DR2_WD") + paneSuffix);
    d.dirHi = intKey(ini, QStringLiteral("DIR_HI") + paneSuffix);
    d.clsWd = textKey(ini, QStringLiteral("CLS_WD") + paneSuffix);

    d.disp = toInt(ini.vGtVal(QStringLiteral("DISP"), 0).toDouble(), std::numeric_limits<int16_t>::min(),
                   std::numeric_limits<int16_t>::max());
    d.linked = ini.vGtVal(QStringLiteral("CHECK"), kLinked).toString() == kLinked;
    d.ftpAp = textKey(ini, QStringLiteral("FTP_AP"));

    // A window closed while minimised can leave negative coordinates.
    d.left = qMax(d.left, 0);
    d.top = qMax(d.top, 0);
    return d;
}

bool SaveWinState(const WinStateData& d)
{
    // The document is read afresh, so keys of the other mode and groups of
    // other writers are kept exactly as the file holds them now.
    yIni ini;
    bool ok = false;
    ini.GetTxt(settingsFile(), ok);
    if (!ok) {
        qWarning("settings file %s cannot be read; the window state is not saved", qUtf8Printable(settingsFile()));
        return false;
    }
    ini.GetGtx(kGroup);
    if (Usr::actRec.bActOn) {
        ini.SetVal(QStringLiteral("DR1_WD_R"), d.dr1Wd);
        ini.SetVal(QStringLiteral("DR2_WD_R"), d.dr2Wd);
        ini.SetVal(QStringLiteral("DIR_HI_R"), d.dirHi);
        ini.SetVal(QStringLiteral("CLS_WD_R"), d.clsWd);
    } else {
        ini.SetVal(QStringLiteral("LEFT"), d.left);
        ini.SetVal(QStringLiteral("TOP"), d.top);
        ini.SetVal(QStringLiteral("WIDTH"), d.width);
        ini.SetVal(QStringLiteral("HEIGHT"), d.height);
        ini.SetVal(QStringLiteral("ROOT1"), d.root1);
        ini.SetVal(QStringLiteral("ROOT2"), d.root2);
        ini.SetVal(QStringLiteral("DR1_WD"), d.dr1Wd);
        ini.SetVal(QStringLiteral("DR2_WD"), d.dr2Wd);
        ini.SetVal(QStringLiteral("DIR_HI"), d.dirHi);
        ini.SetVal(QStringLiteral("CLS_WD"), d.clsWd);
    }
    ini.SetVal(QStringLiteral("DISP"), d.disp);
    ini.SetVal(QStringLiteral("CHECK"), d.linked ? kLinked : kUnlinked);
    ini.SetVal(QStringLiteral("FTP_AP"), d.ftpAp);
    if (!ini.SetGtx()) {
        qWarning("settings file %s has no root element to take the window state", qUtf8Printable(settingsFile()));
        return false;
    }
    ini.SetTxt(ok);
    if (!ok)
        qWarning("settings file %s cannot be written; the window state is lost", qUtf8Printable(settingsFile()));
    return ok;
}

QString columnWidthsText(const QList<double>& widths)
{
    const QLocale c = QLocale::c();
    QStringList parts;
    for (double w : widths)
        parts.append(c.toString(w, 'f', QLocale::FloatingPointShortest));
    return parts.join(QLatin1Char(','));
}

QList<double> parseColumnWidths(const QString& text)
{
    static const QRegularExpression leadingNumber(QStringLiteral("^[ \\t]*([+-]?(?:\\d+(?:\\.\\d*)?|\\.\\d+))"));
    QList<double> widths;
    if (text.isEmpty())
        return widths;
    for (const QString& entry : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = leadingNumber.match(entry);
        widths.append(m.hasMatch() ? QLocale::c().toDouble(m.captured(1)) : 0.0);
    }
    return widths;
}

} // namespace velmor
