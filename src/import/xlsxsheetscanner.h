#pragma once

#include "import/xlsxxmlreader.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QVarLengthArray>

// A streaming reader of the XML that worksheet and shared-strings parts are
// made of. It reports start and end tags by local name, with their attributes,
// and collects the character data of the elements its handler asks for, from
// the bytes of the part in pieces of any size (straight from inflate).
//
// It reads the XML that spreadsheet programs write and nothing else: UTF-8,
// with or without a byte order mark and an XML declaration; elements and
// attributes with ASCII names, at most one prefix each; values in either
// quotes; the five predefined entities and character references; CDATA
// sections, comments and processing instructions. Everything beyond that (a
// document type declaration, another encoding, an undeclared entity, a name
// outside ASCII, XML that is not well-formed) and everything XlsxXmlReader
// refuses (nesting deeper than its limit, a tag with more attributes than its
// limit) makes the part unsupported. The caller then reads the part again with
// XlsxXmlReader, whose result and messages stand. So the scanner has no error
// texts of its own, and a part it reads to the end gives what XlsxXmlReader
// would give (the tests and the fuzzer compare the two).
class XlsxSheetScanner
{
public:
    // XlsxXmlReader's limits, and one below QXmlStreamReader's: names run to
    // 4,096 characters there, and we stop well short of it.
    static constexpr int maxDepth = XlsxXmlReader::maxDepth;
    static constexpr int maxAttributesPerTag = XlsxXmlReader::maxAttributesPerTag;
    static constexpr int maxNameLength = 1024;

    struct Attribute
    {
        QByteArrayView name;  // as written, prefix included
        QByteArrayView value; // as written between the quotes
        // The written value is the value: ASCII without references and
        // without the white space characters that XML turns into spaces.
        bool plain = true;
    };
    using Attributes = QVarLengthArray<Attribute, 8>;

    class Handler
    {
    public:
        // A start tag or an empty-element tag (then endElement follows).
        // Returns null to go on into the element, or the string that gets the
        // character data of the whole element, appended the way
        // XlsxXmlReader::appendElementText appends it; the element's children
        // and its end are then not reported.
        virtual QString *startElement(QByteArrayView localName, const Attributes &attributes) = 0;
        virtual void endElement(QByteArrayView localName) = 0;

    protected:
        ~Handler() = default;
    };

    explicit XlsxSheetScanner(Handler *handler);

    // The next bytes of the part.
    void feed(QByteArrayView bytes);
    // After the last bytes: true when the part was read to its end, false
    // when it is unsupported.
    bool finish();
    bool isUnsupported() const { return unsupported; }

    // No more calls to the handler. The rest of the part is still read, so
    // that finish() still speaks for the whole part.
    void stopReporting() { reporting = false; }

    // The value of an attribute as XML gives it (references resolved, white
    // space normalised). Only for attributes this scanner reported.
    static QString value(const Attribute &attribute);

private:
    enum class Place { Start, Prolog, Root, Epilog };

    qsizetype scan(const char *begin, const char *end, bool last);
    bool text(const char *p, const char *end);
    // Each returns where the markup at `p` ends, or null when it is cut short
    // by `end` or unsupported (then `unsupported` is set).
    const char *markup(const char *p, const char *end);
    const char *startTag(const char *p, const char *end);
    const char *endTag(const char *p, const char *end);
    const char *comment(const char *p, const char *end);
    const char *characterData(const char *p, const char *end);
    const char *processingInstruction(const char *p, const char *end);
    const char *declaration(const char *p, const char *end);
    const char *reject();

    Handler *handler;
    bool reporting = true;
    bool unsupported = false;
    Place place = Place::Start;
    // The qualified names of the open elements, end to end, and where each starts.
    QByteArray openNames;
    QVarLengthArray<qsizetype, 64> openStarts;
    // While an element's text is collected: where it goes, and the number of
    // open elements with that element the innermost.
    QString *collector = nullptr;
    qsizetype collectedDepth = 0;
    Attributes attributes;
    // Bytes of a token that a piece ended inside, and the size they must grow
    // to before they are scanned again (so that a long token is not rescanned
    // for every piece).
    QByteArray pending;
    qsizetype retryAt = 0;
};
