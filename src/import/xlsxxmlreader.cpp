#include "import/xlsxxmlreader.h"

#include <QByteArrayView>

#include <cstring>

namespace {

// True when no tag holds more than `limit` attributes (namespace declarations
// included), counted as '=' signs outside quoted values. Comments, CDATA
// sections and processing instructions are skipped whole, so their text never
// counts. A malformed document may be misjudged; the XML reader reports it anyway.
bool tagsHaveFewAttributes(QByteArrayView xml, int limit)
{
    const char *p = xml.data();
    const char *const end = p + xml.size();
    auto skipPast = [&](QByteArrayView terminator) {
        const qsizetype at = QByteArrayView(p, end - p).indexOf(terminator);
        p = at < 0 ? end : p + at + terminator.size();
    };
    auto startsWith = [&](QByteArrayView prefix) {
        return end - p >= prefix.size() && std::memcmp(p, prefix.data(), prefix.size()) == 0;
    };

    while (p < end) {
        p = static_cast<const char *>(std::memchr(p, '<', end - p));
        if (!p)
            return true;
        ++p;
        if (startsWith("!--")) {
            skipPast("-->");
            continue;
        }
        if (startsWith("![CDATA[")) {
            skipPast("]]>");
            continue;
        }
        if (startsWith("?")) {
            skipPast("?>");
            continue;
        }
        int attributes = 0;
        while (p < end) {
            const char c = *p;
            if (c == '>' || c == '<')
                break;
            ++p;
            if (c == '"' || c == '\'') {
                p = static_cast<const char *>(std::memchr(p, c, end - p));
                if (!p)
                    return true;
                ++p;
            } else if (c == '=' && ++attributes > limit) {
                return false;
            }
        }
    }
    return true;
}

} // namespace

XlsxXmlReader::XlsxXmlReader(const QByteArray &data, Namespaces namespaces)
    : attributesWithinLimit(tagsHaveFewAttributes(data, maxAttributesPerTag)),
      resolveNamespaces(namespaces == Namespaces::Resolve),
      xml(attributesWithinLimit ? data : QByteArray())
{
    xml.setNamespaceProcessing(resolveNamespaces);
    if (!attributesWithinLimit)
        xml.raiseError(QStringLiteral("An element has too many attributes"));
}

QStringView XlsxXmlReader::name() const
{
    if (resolveNamespaces)
        return xml.name();
    const QStringView qualified = xml.qualifiedName();
    return qualified.mid(qualified.lastIndexOf(QLatin1Char(':')) + 1);
}

QXmlStreamReader::TokenType XlsxXmlReader::readNext()
{
    switch (xml.readNext()) {
    case QXmlStreamReader::StartElement:
        enterElement();
        break;
    case QXmlStreamReader::EndElement:
        leaveElement();
        break;
    case QXmlStreamReader::DTD:
        xml.raiseError(QStringLiteral("Document type declarations are not allowed"));
        break;
    default:
        break;
    }
    return xml.tokenType();
}

bool XlsxXmlReader::enterElement()
{
    if (namespacesInScope.size() >= maxDepth) {
        xml.raiseError(QStringLiteral("Elements are nested too deeply"));
        return false;
    }
    int inScope = namespacesInScope.isEmpty() ? 0 : namespacesInScope.last();
    if (resolveNamespaces)
        inScope += int(xml.namespaceDeclarations().size());
    if (inScope > maxNamespacesInScope) {
        xml.raiseError(QStringLiteral("Too many namespace declarations"));
        return false;
    }
    namespacesInScope.append(inScope);
    return true;
}

void XlsxXmlReader::leaveElement()
{
    if (!namespacesInScope.isEmpty())
        namespacesInScope.removeLast();
}

void XlsxXmlReader::appendElementText(QString &text)
{
    int nested = 0;
    while (!xml.atEnd()) {
        switch (readNext()) {
        case QXmlStreamReader::Characters:
            text += xml.text();
            break;
        case QXmlStreamReader::StartElement:
            ++nested;
            break;
        case QXmlStreamReader::EndElement:
            if (nested-- == 0)
                return;
            break;
        default:
            break;
        }
    }
}
