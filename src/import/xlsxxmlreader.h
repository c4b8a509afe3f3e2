#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QVarLengthArray>
#include <QXmlStreamReader>

// A streaming reader for the XML parts of an Excel package, with the limits a
// hostile package needs on top of QXmlStreamReader:
// - no document type declarations: the Open Packaging Conventions do not allow
//   them in package XML, and entity expansion is how a small part turns into a
//   huge text;
// - bounded nesting: the reader keeps a record per open element;
// - bounded namespace declarations in scope: every element name is resolved by
//   a linear search through them (parts read with Namespaces::Ignore skip
//   resolution altogether, which also saves a sixth of the parsing time);
// - bounded attributes per tag: the reader's duplicate-attribute check is
//   quadratic in their number, so one tag with 100,000 attributes takes minutes.
// A breach ends the walk as an XML error with its own error text.
class XlsxXmlReader
{
public:
    static constexpr int maxDepth = 256;
    static constexpr int maxNamespacesInScope = 64;
    static constexpr int maxAttributesPerTag = 64;

    // Ignore: names are compared without their prefixes and attributes by
    // their written names; for parts where no namespace decides anything.
    enum class Namespaces { Resolve, Ignore };

    explicit XlsxXmlReader(const QByteArray &data, Namespaces namespaces = Namespaces::Ignore);

    QXmlStreamReader::TokenType readNext();
    bool atEnd() const { return xml.atEnd(); }
    bool hasError() const { return xml.hasError(); }
    QString errorString() const { return xml.errorString(); }
    QXmlStreamReader::TokenType tokenType() const { return xml.tokenType(); }
    // The local name of the current element.
    QStringView name() const;
    QXmlStreamAttributes attributes() const { return xml.attributes(); }

    // At a start tag: appends the character data up to the matching end tag
    // (text of nested elements included) and leaves the reader on that end tag.
    void appendElementText(QString &text);

private:
    bool enterElement();
    void leaveElement();

    bool attributesWithinLimit;
    bool resolveNamespaces;
    QXmlStreamReader xml;
    // Namespace declarations in scope at each open element (the innermost last).
    QVarLengthArray<int, 32> namespacesInScope;
};
