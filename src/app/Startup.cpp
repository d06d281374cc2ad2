#include "app/Startup.h"

#include "env/SjisText.h"
#include "env/yIni.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace velmor {

QString exeBaseName(const QString& exeFilePath) { return Usr::exeBaseName(exeFilePath); }

QString commandLineText(const QStringList& argumentsAfterProgram)
{
    return argumentsAfterProgram.join(QLatin1Char(' '));
}

bool isHandOffText(const QString& text)
{
    return text.contains(QLatin1String("ZQ_ACT.pdat"), Qt::CaseInsensitive);
}

namespace {
// Reads packed little-endian fields from a byte array; a field that does not
// fit wholly before the end reads as zero/empty and ends the record.
class Packed {
public:
    explicit Packed(const QByteArray& b) : m_b(b) {}
    template <class T>
    T num()
    {
        if (m_pos + qsizetype(sizeof(T)) > m_b.size()) {
            m_pos = m_b.size();
            return T(0);
        }
        const T v = qFromLittleEndian<T>(m_b.constData() + m_pos);
        m_pos += sizeof(T);
        return v;
    }
    QString text(quint16 len)
    {
        if (m_pos + len > m_b.size()) {
            m_pos = m_b.size();
            return QString();
        }
        const QString s = sjis::decode(m_b.mid(m_pos, len));
        m_pos += len;
        return s;
    }

private:
    const QByteArray& m_b;
    qsizetype m_pos = 0;
};
} // namespace

ActRec readActRec(const QString& path, bool* fileFound)
{
    ActRec r;
    const QFileInfo fi(path);
    if (fileFound)
        *fileFound = fi.isFile();
    if (!fi.isFile())
        return r;  // no hand-off: the program starts as without arguments
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        qWarning("hand-off file %s cannot be read: %s", qUtf8Printable(path), qUtf8Printable(f.errorString()));
        return r;
    }
    const QByteArray bytes = f.readAll();
    Packed p(bytes);
    r.nLeft = p.num<qint32>();
    r.nTop = p.num<qint32>();
    r.nWidth = p.num<qint32>();
    r.nHeight = p.num<qint32>();
    r.sRoot1 = p.text(p.num<quint16>());
    r.sRoot2 = p.text(p.num<quint16>());
    p.num<quint16>();  // the stored flag is discarded; bActOn follows from the size
    r.bActOn = r.nWidth > 0 && r.nHeight > 0;
    return r;
}

void applyCommandLine(const QString& text)
{
    Usr::sCmdTsk.clear();
    Usr::actRec = ActRec();
    if (text.isEmpty())
        return;
    if (isHandOffText(text))
        Usr::actRec = readActRec(text);
    else
        Usr::sCmdTsk = text;
}

void startProcess(const QString& programDir, const QString& exeFilePath, const QStringList& argumentsAfterProgram)
{
    Usr::sExeNm = exeBaseName(exeFilePath);
    yIni().W_UserData(programDir, exeFilePath);
    applyCommandLine(commandLineText(argumentsAfterProgram));
}

} // namespace velmor
