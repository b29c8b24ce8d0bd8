#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Converts between the program's wide strings and the bytes of its text files. The encoding is
// the system's ANSI code page unless one is named (tests name GBK, for instance). Where the
// system converts its code page itself (Windows), the system's code page, named or not, is
// converted by the system, never by a converter that Qt looks up by name: a Qt without ICU has
// none for GBK.
class TextCodec
{
public:
    explicit TextCodec(const QByteArray& encoding = QByteArray());

    QByteArray encoding() const { return m_encoding; }
    bool isValid() const;

    // Bytes that are not valid in the encoding become U+FFFD.
    QString decode(QByteArrayView bytes) const;

    // Returns false and leaves *out undefined if a character has no form in the encoding.
    bool encode(QStringView text, QByteArray* out) const;
    // Unencodable characters become the converter's substitute: '?' from Qt's converters,
    // 0x1A (SUB) from Windows' own conversion of its code page.
    QByteArray encode(QStringView text) const;

private:
    QByteArray m_encoding;
    bool m_bySystem = false;
};
