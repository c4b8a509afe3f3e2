#include "import/xlsxsheetscanner.h"

#include <QChar>

#include <array>
#include <cstring>

namespace {

enum ByteClass : unsigned char {
    NameStart = 1, // ASCII letters and '_'
    NameChar = 2,  // and digits, '.' and '-' after the first
    Space = 4,     // XML's white space
    Copied = 8,    // text bytes taken as they are: printable ASCII but & < > ]
    PlainValue = 16, // attribute bytes taken as they are: printable ASCII but & <
};

constexpr std::array<unsigned char, 256> byteClasses()
{
    std::array<unsigned char, 256> classes{};
    for (int c = 0x20; c < 0x80; ++c) {
        if (c != '&' && c != '<' && c != '>' && c != ']')
            classes[c] |= Copied;
        if (c != '&' && c != '<')
            classes[c] |= PlainValue;
    }
    for (int c = 'A'; c <= 'Z'; ++c)
        classes[c] |= NameStart;
    for (int c = 'a'; c <= 'z'; ++c)
        classes[c] |= NameStart;
    classes['_'] |= NameStart;
    for (int c = '0'; c <= '9'; ++c)
        classes[c] |= NameChar;
    classes['.'] |= NameChar;
    classes['-'] |= NameChar;
    for (const char c : {' ', '\t', '\n', '\r'})
        classes[static_cast<unsigned char>(c)] |= Space;
    return classes;
}

constexpr std::array<unsigned char, 256> classes = byteClasses();

bool is(char c, unsigned char byteClass)
{
    return (classes[static_cast<unsigned char>(c)] & byteClass) != 0;
}

const char *skipSpace(const char *p, const char *end)
{
    while (p < end && is(*p, Space))
        ++p;
    return p;
}

const char *find(const char *p, const char *end, QByteArrayView what)
{
    const qsizetype at = QByteArrayView(p, end - p).indexOf(what);
    return at < 0 ? nullptr : p + at;
}

enum class NameScan { Done, CutShort, Bad };

// Moves `p` past the name that starts there: ASCII, at most one colon, not
// longer than the scanner reads. `local` gets where the part after the
// prefix starts.
NameScan scanName(const char *&p, const char *end, const char **local)
{
    const char *const begin = p;
    *local = p;
    if (p == end)
        return NameScan::CutShort;
    if (!is(*p, NameStart))
        return NameScan::Bad;
    for (;;) {
        ++p;
        while (p < end && is(*p, NameStart | NameChar))
            ++p;
        if (p - begin > XlsxSheetScanner::maxNameLength)
            return NameScan::Bad;
        if (p == end)
            return NameScan::CutShort;
        if (*p != ':')
            return NameScan::Done;
        if (*local != begin)
            return NameScan::Bad;
        if (++p == end)
            return NameScan::CutShort;
        if (!is(*p, NameStart))
            return NameScan::Bad;
        *local = p;
    }
}

// How character data is read: text between tags and attribute values resolve
// references and normalise line ends (a value's white space becomes spaces);
// a CDATA section normalises line ends only; comments and processing
// instructions are only checked.
enum class TextMode { Content, Attribute, Section, Markup };

struct Utf16Writer
{
    char16_t *at;
    void put(char16_t c) { *at++ = c; }
};

struct NoWriter
{
    void put(char16_t) {}
};

// A character reference or one of the five predefined entities, between '&'
// and ';'; 0 for anything else and for code points XML does not allow.
char32_t referenceValue(const unsigned char *p, const unsigned char *end)
{
    const QByteArrayView name(p, end - p);
    if (name == "amp")
        return '&';
    if (name == "lt")
        return '<';
    if (name == "gt")
        return '>';
    if (name == "quot")
        return '"';
    if (name == "apos")
        return '\'';
    if (p == end || *p != '#')
        return 0;
    ++p;
    const bool hexadecimal = p < end && *p == 'x';
    if (hexadecimal)
        ++p;
    if (p == end)
        return 0;
    char32_t value = 0;
    for (; p < end; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (hexadecimal && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (hexadecimal && *p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            return 0;
        value = value * (hexadecimal ? 16 : 10) + char32_t(digit);
        if (value > 0x10FFFF)
            return 0;
    }
    // XML 1.0's Char production.
    const bool allowed = value == 0x9 || value == 0xA || value == 0xD
                         || (value >= 0x20 && value <= 0xD7FF) || (value >= 0xE000 && value <= 0xFFFD)
                         || value >= 0x10000;
    return allowed ? value : 0;
}

bool same(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), size_t(a.size())) == 0;
}

bool continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Decodes [begin, end) into `out`; false when it holds what the scanner does
// not read: bytes that are not UTF-8, characters XML does not allow (controls,
// U+FFFE, U+FFFF), a reference other than those referenceValue() knows, '<'
// in a value, and in text a '>' that ends "]]>". QXmlStreamReader refuses the
// last only when the '>' and the ']' before it are written as they are
// ("]]&gt;" and "]&#93;>" pass, "&#93;]>" does not), and so do we.
template <typename Writer>
bool decode(const char *begin, const char *end, TextMode mode, Writer &out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(begin);
    const auto *const stop = reinterpret_cast<const unsigned char *>(end);
    int brackets = 0;           // ']' written just before, in text
    bool literalBracket = false; // the last of them written as it is
    auto put = [&](char32_t c, bool literal) {
        if (mode == TextMode::Content) {
            if (c == ']') {
                ++brackets;
                literalBracket = literal;
            } else {
                if (c == '>' && literal && literalBracket && brackets >= 2)
                    return false;
                brackets = 0;
            }
        }
        if (c >= 0x10000) {
            out.put(QChar::highSurrogate(c));
            out.put(QChar::lowSurrogate(c));
        } else {
            out.put(char16_t(c));
        }
        return true;
    };

    while (p < stop) {
        if (classes[*p] & Copied) {
            do
                out.put(*p++);
            while (p < stop && (classes[*p] & Copied));
            brackets = 0;
            continue;
        }
        const unsigned char c = *p;
        char32_t value;
        bool literal = true;
        if (c >= 0x80) {
            // UTF-8 as RFC 3629 has it: no overlong forms, no surrogates, nothing past U+10FFFF.
            const qsizetype left = stop - p;
            if (c >= 0xC2 && c <= 0xDF && left >= 2 && continuation(p[1])) {
                value = (char32_t(c & 0x1F) << 6) | (p[1] & 0x3F);
                p += 2;
            } else if (c >= 0xE0 && c <= 0xEF && left >= 3 && continuation(p[1]) && continuation(p[2])
                       && !(c == 0xE0 && p[1] < 0xA0) && !(c == 0xED && p[1] > 0x9F)) {
                value = (char32_t(c & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
                if (value == 0xFFFE || value == 0xFFFF)
                    return false;
                p += 3;
            } else if (c >= 0xF0 && c <= 0xF4 && left >= 4 && continuation(p[1]) && continuation(p[2])
                       && continuation(p[3]) && !(c == 0xF0 && p[1] < 0x90) && !(c == 0xF4 && p[1] > 0x8F)) {
                value = (char32_t(c & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12)
                        | (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
                p += 4;
            } else {
                return false;
            }
        } else if (c == '\r') {
            // XML reads "\r\n" and a lone "\r" as "\n".
            p += p + 1 < stop && p[1] == '\n' ? 2 : 1;
            value = mode == TextMode::Attribute ? ' ' : '\n';
        } else if (c == '\n' || c == '\t') {
            ++p;
            value = mode == TextMode::Attribute ? ' ' : c;
        } else if (c == '&' && (mode == TextMode::Content || mode == TextMode::Attribute)) {
            const auto *semicolon = static_cast<const unsigned char *>(std::memchr(p, ';', size_t(stop - p)));
            if (!semicolon)
                return false;
            value = referenceValue(p + 1, semicolon);
            if (value == 0)
                return false;
            p = semicolon + 1;
            literal = false;
        } else if (c == '<' && mode == TextMode::Attribute) {
            return false;
        } else if (c >= 0x20) {
            // '&', '<', '>' and ']' as they are.
            ++p;
            value = c;
        } else {
            return false;
        }
        if (!put(value, literal))
            return false;
    }
    return true;
}

bool check(const char *begin, const char *end, TextMode mode)
{
    NoWriter none;
    return decode(begin, end, mode, none);
}

bool appendDecoded(QString *out, const char *begin, const char *end, TextMode mode)
{
    // A byte never gives more than one UTF-16 unit. A string's first text
    // gets a buffer of that size rather than resize()'s room to grow: most
    // texts are a shared string's only run, kept as they are.
    const qsizetype before = out->size();
    if (before == 0 && out->capacity() < end - begin)
        out->reserve(end - begin);
    out->resize(before + (end - begin));
    Utf16Writer writer{reinterpret_cast<char16_t *>(out->data()) + before};
    const char16_t *const start = writer.at;
    const bool ok = decode(begin, end, mode, writer);
    out->resize(ok ? before + (writer.at - start) : before);
    return ok;
}

} // namespace

XlsxSheetScanner::XlsxSheetScanner(Handler *handler) : handler(handler) {}

QString XlsxSheetScanner::value(const Attribute &attribute)
{
    if (attribute.plain)
        return QString::fromLatin1(attribute.value);
    QString text;
    appendDecoded(&text, attribute.value.data(), attribute.value.data() + attribute.value.size(),
                  TextMode::Attribute);
    return text;
}

void XlsxSheetScanner::feed(QByteArrayView bytes)
{
    if (unsupported || bytes.isEmpty())
        return;
    if (pending.isEmpty()) {
        const qsizetype used = scan(bytes.data(), bytes.data() + bytes.size(), false);
        if (!unsupported && used < bytes.size()) {
            pending.append(bytes.data() + used, bytes.size() - used);
            retryAt = 2 * pending.size();
        }
        return;
    }
    pending.append(bytes);
    if (pending.size() < retryAt)
        return;
    const qsizetype used = scan(pending.constData(), pending.constData() + pending.size(), false);
    if (unsupported)
        return;
    pending.remove(0, used);
    retryAt = 2 * pending.size();
}

bool XlsxSheetScanner::finish()
{
    if (!unsupported) {
        scan(pending.constData(), pending.constData() + pending.size(), true);
        // Nothing may be open, nor missing: an empty part has no root element.
        if (place != Place::Epilog)
            unsupported = true;
    }
    pending.clear();
    return !unsupported;
}

const char *XlsxSheetScanner::reject()
{
    unsupported = true;
    return nullptr;
}

qsizetype XlsxSheetScanner::scan(const char *const begin, const char *const end, bool last)
{
    const char *p = begin;
    if (place == Place::Start) {
        // A byte order mark, then an XML declaration, can only come first:
        // wait for enough bytes to tell.
        if (end - p < 9 && !last)
            return 0;
        if (end - p >= 3 && QByteArrayView(p, 3) == "\xEF\xBB\xBF")
            p += 3;
        if (end - p >= 6 && QByteArrayView(p, 5) == "<?xml" && is(p[5], Space)) {
            p = declaration(p, end);
            if (!p) {
                if (last)
                    reject();
                return 0;
            }
        }
        place = Place::Prolog;
    }

    while (p < end) {
        if (*p != '<') {
            const char *lt = static_cast<const char *>(std::memchr(p, '<', size_t(end - p)));
            if (!lt) {
                if (!last)
                    break; // the text goes on in the next piece
                lt = end;
            }
            if (!text(p, lt)) {
                reject();
                break;
            }
            p = lt;
            continue;
        }
        const char *const next = markup(p, end);
        if (!next) {
            if (last)
                reject();
            break;
        }
        p = next;
    }
    return p - begin;
}

bool XlsxSheetScanner::text(const char *p, const char *end)
{
    if (place != Place::Root) {
        // Before and after the root element only white space.
        for (; p < end; ++p) {
            if (!is(*p, Space))
                return false;
        }
        return true;
    }
    if (collector)
        return appendDecoded(collector, p, end, TextMode::Content);
    return check(p, end, TextMode::Content);
}

const char *XlsxSheetScanner::markup(const char *p, const char *end)
{
    if (end - p < 2)
        return nullptr;
    switch (p[1]) {
    case '/':
        return endTag(p, end);
    case '?':
        return processingInstruction(p, end);
    case '!': {
        const QByteArrayView rest(p + 2, qMin<qsizetype>(end - p - 2, 7));
        if (rest.size() < 7
            && (QByteArrayView("--").startsWith(rest) || QByteArrayView("[CDATA[").startsWith(rest)))
            return nullptr; // cut short before we can tell
        if (rest.startsWith("--"))
            return comment(p, end);
        if (rest == "[CDATA[" && place == Place::Root)
            return characterData(p, end);
        // Document type declarations, and CDATA outside the root element.
        return reject();
    }
    default:
        return startTag(p, end);
    }
}

const char *XlsxSheetScanner::startTag(const char *p, const char *const end)
{
    if (place == Place::Epilog)
        return reject(); // a second root element
    const char *q = p + 1;
    const char *local;
    switch (scanName(q, end, &local)) {
    case NameScan::CutShort:
        return nullptr;
    case NameScan::Bad:
        return reject();
    case NameScan::Done:
        break;
    }
    const QByteArrayView name(p + 1, q - (p + 1));
    const QByteArrayView localName(local, q - local);

    attributes.clear();
    bool empty = false;
    for (;;) {
        const char *const spaceBegin = q;
        q = skipSpace(q, end);
        if (q == end)
            return nullptr;
        if (*q == '>') {
            ++q;
            break;
        }
        if (*q == '/') {
            if (q + 1 == end)
                return nullptr;
            if (q[1] != '>')
                return reject();
            q += 2;
            empty = true;
            break;
        }
        if (q == spaceBegin)
            return reject(); // attributes stand apart by white space

        const char *const attributeBegin = q;
        const char *ignored;
        switch (scanName(q, end, &ignored)) {
        case NameScan::CutShort:
            return nullptr;
        case NameScan::Bad:
            return reject();
        case NameScan::Done:
            break;
        }
        const QByteArrayView attributeName(attributeBegin, q - attributeBegin);
        q = skipSpace(q, end);
        if (q == end)
            return nullptr;
        if (*q != '=')
            return reject();
        q = skipSpace(q + 1, end);
        if (q == end)
            return nullptr;
        const char quote = *q;
        if (quote != '"' && quote != '\'')
            return reject();
        const char *const valueBegin = q + 1;
        const char *const valueEnd =
            static_cast<const char *>(std::memchr(valueBegin, quote, size_t(end - valueBegin)));
        if (!valueEnd)
            return nullptr;
        q = valueEnd + 1;

        if (attributes.size() == maxAttributesPerTag)
            return reject();
        for (const Attribute &other : std::as_const(attributes)) {
            if (same(other.name, attributeName))
                return reject();
        }
        Attribute attribute{attributeName, QByteArrayView(valueBegin, valueEnd - valueBegin), true};
        for (const char *v = valueBegin; v < valueEnd; ++v) {
            if (!is(*v, PlainValue)) {
                attribute.plain = false;
                break;
            }
        }
        if (!attribute.plain && !check(valueBegin, valueEnd, TextMode::Attribute))
            return reject();
        attributes.append(attribute);
    }

    if (openStarts.size() >= maxDepth)
        return reject();
    place = Place::Root;
    QString *target = nullptr;
    if (!collector && reporting)
        target = handler->startElement(localName, attributes);
    if (empty) {
        if (!collector && !target && reporting)
            handler->endElement(localName);
        if (openStarts.isEmpty())
            place = Place::Epilog;
        return q;
    }
    openStarts.append(openNames.size());
    openNames.append(name);
    if (target) {
        collector = target;
        collectedDepth = openStarts.size();
    }
    return q;
}

const char *XlsxSheetScanner::endTag(const char *p, const char *const end)
{
    const char *q = p + 2;
    const char *local;
    switch (scanName(q, end, &local)) {
    case NameScan::CutShort:
        return nullptr;
    case NameScan::Bad:
        return reject();
    case NameScan::Done:
        break;
    }
    const QByteArrayView name(p + 2, q - (p + 2));
    const QByteArrayView localName(local, q - local);
    q = skipSpace(q, end);
    if (q == end)
        return nullptr;
    if (*q != '>' || openStarts.isEmpty())
        return reject();
    const qsizetype start = openStarts.last();
    if (!same(QByteArrayView(openNames).sliced(start), name))
        return reject();

    const qsizetype depth = openStarts.size();
    openStarts.removeLast();
    openNames.truncate(start);
    if (collector) {
        if (depth == collectedDepth)
            collector = nullptr;
    } else if (reporting) {
        handler->endElement(localName);
    }
    if (openStarts.isEmpty())
        place = Place::Epilog;
    return q + 1;
}

const char *XlsxSheetScanner::comment(const char *p, const char *end)
{
    // "--" may only end the comment.
    const char *const body = p + 4;
    const char *const close = find(body, end, "--");
    if (!close || end - close < 3)
        return nullptr;
    if (close[2] != '>' || !check(body, close, TextMode::Markup))
        return reject();
    return close + 3;
}

const char *XlsxSheetScanner::characterData(const char *p, const char *end)
{
    const char *const body = p + 9;
    const char *const close = find(body, end, "]]>");
    if (!close)
        return nullptr;
    const bool ok = collector ? appendDecoded(collector, body, close, TextMode::Section)
                              : check(body, close, TextMode::Section);
    return ok ? close + 3 : reject();
}

const char *XlsxSheetScanner::processingInstruction(const char *p, const char *end)
{
    const char *q = p + 2;
    const char *local;
    switch (scanName(q, end, &local)) {
    case NameScan::CutShort:
        return nullptr;
    case NameScan::Bad:
        return reject();
    case NameScan::Done:
        break;
    }
    // Targets beginning with "xml" are reserved: the declaration is read by
    // declaration(), at the start only.
    if (local != p + 2 || (q - p >= 5 && QByteArrayView(p + 2, 3).compare("xml", Qt::CaseInsensitive) == 0))
        return reject();
    if (*q == '?') {
        if (q + 1 == end)
            return nullptr;
        return q[1] == '>' ? q + 2 : reject();
    }
    if (!is(*q, Space))
        return reject();
    const char *const close = find(q, end, "?>");
    if (!close)
        return nullptr;
    return check(q, close, TextMode::Markup) ? close + 2 : reject();
}

// <?xml version="1.0" encoding="UTF-8" standalone="yes"?>, the last two optional
// and in this order, the encoding UTF-8.
const char *XlsxSheetScanner::declaration(const char *p, const char *end)
{
    const char *const close = find(p, end, "?>");
    if (!close)
        return end - p > 256 ? reject() : nullptr;
    const char *q = p + 5;
    // name = 'value' or "value", with white space around '=' allowed.
    auto pseudoAttribute = [&](QByteArrayView name, QByteArrayView *value) {
        if (!QByteArrayView(q, close - q).startsWith(name))
            return false;
        q = skipSpace(q + name.size(), close);
        if (q == close || *q != '=')
            return false;
        q = skipSpace(q + 1, close);
        if (q == close || (*q != '"' && *q != '\''))
            return false;
        const char *const valueEnd =
            static_cast<const char *>(std::memchr(q + 1, *q, size_t(close - q - 1)));
        if (!valueEnd)
            return false;
        *value = QByteArrayView(q + 1, valueEnd - q - 1);
        q = valueEnd + 1;
        return true;
    };

    QByteArrayView value;
    q = skipSpace(q, close);
    if (!pseudoAttribute("version", &value) || value != "1.0")
        return reject();
    const char *spaceBegin = q;
    q = skipSpace(q, close);
    if (q != spaceBegin && QByteArrayView(q, close - q).startsWith("encoding")) {
        if (!pseudoAttribute("encoding", &value) || value.compare("UTF-8", Qt::CaseInsensitive) != 0)
            return reject();
        spaceBegin = q;
        q = skipSpace(q, close);
    }
    if (q != spaceBegin && QByteArrayView(q, close - q).startsWith("standalone")) {
        if (!pseudoAttribute("standalone", &value) || (value != "yes" && value != "no"))
            return reject();
        q = skipSpace(q, close);
    }
    return q == close ? close + 2 : reject();
}
