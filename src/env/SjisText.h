#pragma once
// Shift-JIS text on disk ("UserData.ini", "User.xml", hand-off texts), QString
// in memory. One place for the conversion so every reader and writer agrees.
#include <QByteArray>
#include <QString>

namespace velmor::sjis {

// Decodes Shift-JIS bytes; undecodable bytes become a substitute character.
QString decode(const QByteArray& bytes);
// Encodes to Shift-JIS. Characters Shift-JIS cannot hold become "?" and set
// *lossless to false (when given).
QByteArray encode(const QString& text, bool* lossless = nullptr);

// Reads a whole file as Shift-JIS text. False when it cannot be opened or read.
bool readFile(const QString& path, QString& text);
// Replaces a file atomically with the Shift-JIS form of text (a crash never
// leaves a half-written file). False on an I/O error or when a character had
// to be replaced (the file is still written).
bool writeFile(const QString& path, const QString& text);

} // namespace velmor::sjis
