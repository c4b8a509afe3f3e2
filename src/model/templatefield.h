#pragma once

#include "model/elementkind.h"

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// A variable element printed on a card: text, sequence number, barcode,
// QR code or scratch-card prize. A row of template_fields; the order of
// fields lives only in the stored sort_order and in the order of loaded lists.
struct TemplateField
{
    qint64 id = 0;
    qint64 projectId = 0;
    CardSide side = CardSide::Front;
    ElementKind type = ElementKind::Text;
    QString name = QStringLiteral("Variable Field");
    QString dataColumn;
    double xMm = 5;
    double yMm = 5;
    double widthMm = 45;
    double heightMm = 10;
    QString fontFamily = QStringLiteral("Segoe UI");
    double fontSizePt = 12;
    QString colorHex = QStringLiteral("#111827");
    bool bold = false;
    TextAlignment alignment; // centre/centre, stored as Qt's 132
    BarcodeFormat barcodeFormat = BarcodeFormat::Code128;
    bool barcodeShowText = false;
    ScratchMode scratchMode = ScratchMode::Count;
    qint32 scratchTotal = 10000;
    QString scratchPrizesJson = QStringLiteral(
        "[{\"name\":\"First Prize\",\"value\":2},{\"name\":\"Thanks for Playing\",\"value\":500}]");
    QString sequencePrefix = QStringLiteral("No.");
    qint32 sequenceDigits = 6;
    qint32 sequenceStep = 1;
    bool sequenceExcludeFour = false;

    friend bool operator==(const TemplateField &, const TemplateField &) = default;
};

Q_DECLARE_METATYPE(TemplateField)

// A barcode or a QR code: painted as a symbol, which may fail to encode.
inline bool isCodeField(const TemplateField &field)
{
    return isCode(field.type);
}

// Registers the type under the name "TemplateField" on first use; the id is cached.
int templateFieldMetaTypeId();
