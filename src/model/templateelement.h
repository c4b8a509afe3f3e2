#pragma once

#include "model/elementkind.h"
#include "model/graphicelement.h"
#include "model/templatefield.h"

#include <QList>
#include <QRectF>
#include <QtGlobal>

#include <optional>
#include <type_traits>
#include <variant>

// One element of a card's template: a variable field or a fixed graphic. The
// two records stay apart (they are rows of two tables with their own
// columns); what every element has is asked through the functions below, so
// that callers handle both in one path.
using TemplateElement = std::variant<TemplateField, GraphicElement>;

// The table an element's row lives in. Ids are unique only within a group.
enum class ElementGroup { Field, Graphic };

constexpr ElementGroup groupOf(ElementKind kind)
{
    return isFieldKind(kind) ? ElementGroup::Field : ElementGroup::Graphic;
}

// The group whose rows hold records of type `Record`.
template<typename Record>
    requires std::is_same_v<Record, TemplateField> || std::is_same_v<Record, GraphicElement>
constexpr ElementGroup recordGroup = std::is_same_v<Record, TemplateField> ? ElementGroup::Field
                                                                           : ElementGroup::Graphic;

// A stored element, by its group and database id.
struct ElementRef
{
    ElementGroup group = ElementGroup::Field;
    qint64 id = 0;

    friend bool operator==(const ElementRef &, const ElementRef &) = default;
};

ElementGroup groupOf(const TemplateElement &element);
ElementRef refOf(const TemplateElement &element);
qint64 idOf(const TemplateElement &element);
void setId(TemplateElement &element, qint64 id);
ElementKind kindOf(const TemplateElement &element);
CardSide sideOf(const TemplateElement &element);
void setSide(TemplateElement &element, CardSide side);
qint64 projectOf(const TemplateElement &element);
void setProject(TemplateElement &element, qint64 projectId);

// The element's box on the card, in millimetres.
QRectF boxOf(const TemplateElement &element);
void setBox(TemplateElement &element, const QRectF &box);
void setPosition(TemplateElement &element, const QPointF &topLeft);

// The record of one group, or null for an element of the other.
const TemplateField *asField(const TemplateElement &element);
const GraphicElement *asGraphic(const TemplateElement &element);

// The records of one group, in the order of `elements`.
template<typename Record>
QList<Record> recordsOf(const QList<TemplateElement> &elements)
{
    QList<Record> records;
    for (const TemplateElement &element : elements) {
        if (const Record *record = std::get_if<Record>(&element))
            records.append(*record);
    }
    return records;
}

inline QList<TemplateField> fieldsOf(const QList<TemplateElement> &elements)
{
    return recordsOf<TemplateField>(elements);
}

inline QList<GraphicElement> graphicsOf(const QList<TemplateElement> &elements)
{
    return recordsOf<GraphicElement>(elements);
}

// Typed records as elements: the fields first, then the graphics.
QList<TemplateElement> elementsOf(const QList<TemplateField> &fields, const QList<GraphicElement> &graphics = {});
QList<TemplateElement> elementsOf(const QList<GraphicElement> &graphics);
