#pragma once

#include <QString>
#include <QStringView>

// Reads comma-delimited fields from the text of IP.txt and Ping.txt, one field per call:
// leading spaces are skipped; a field in double quotes runs to the closing quote, across commas
// and line ends, and loses its quotes (text after the closing quote up to the next delimiter is
// dropped); any other field runs to the next comma or line end and loses trailing spaces. The
// delimiter is consumed. CR LF, LF and a lone CR each end a line. The text must outlive the
// reader.
class FieldReader
{
public:
    explicit FieldReader(QStringView text) : m_text(text) {}

    // True while unread characters are left; a text that ends in its last line end gives no
    // further field.
    bool hasMore() const { return m_pos < m_text.size(); }

    // Reads the next field into *field. Returns false and sets *error for a double quote that
    // is never closed; the position is then at the end.
    bool read(QString* field, QString* error);

private:
    void skipLineEnd();

    QStringView m_text;
    qsizetype m_pos = 0;
};

class TextCodec;

// Reads every field of text into *fields. Returns false and sets *error if a field cannot be
// read; *fields then holds the fields read before.
bool readFields(QStringView text, QStringList* fields, QString* error);

// Reads every field of a text file of the program's own (IP.txt, Ping.txt) into *fields.
// A missing file is created empty and gives no fields. Returns false and sets *error if the
// file cannot be read or created, or if a field cannot be read; *fields then holds the fields
// read before the failure. The file is closed in every case. A symbolic link, a FIFO or a
// device in the file's place is refused at once (TextFile::readOwn).
bool readFieldsFile(const QString& path, const TextCodec& codec, QStringList* fields, QString* error);
