#include "templateelement.h"

namespace {

// The members both records name alike, reached without a visit at each caller.
template<typename Function>
decltype(auto) onRecord(const TemplateElement &element, Function &&function)
{
    return std::visit([&](const auto &record) -> decltype(auto) { return function(record); }, element);
}

template<typename Function>
void onRecord(TemplateElement &element, Function &&function)
{
    std::visit([&](auto &record) { function(record); }, element);
}

} // namespace

ElementGroup groupOf(const TemplateElement &element)
{
    return std::holds_alternative<TemplateField>(element) ? ElementGroup::Field : ElementGroup::Graphic;
}

ElementRef refOf(const TemplateElement &element)
{
    return {groupOf(element), idOf(element)};
}

qint64 idOf(const TemplateElement &element)
{
    return onRecord(element, [](const auto &r) { return r.id; });
}

void setId(TemplateElement &element, qint64 id)
{
    onRecord(element, [id](auto &r) { r.id = id; });
}

ElementKind kindOf(const TemplateElement &element)
{
    return onRecord(element, [](const auto &r) { return r.type; });
}

CardSide sideOf(const TemplateElement &element)
{
    return onRecord(element, [](const auto &r) { return r.side; });
}

void setSide(TemplateElement &element, CardSide side)
{
    onRecord(element, [side](auto &r) { r.side = side; });
}

qint64 projectOf(const TemplateElement &element)
{
    return onRecord(element, [](const auto &r) { return r.projectId; });
}

void setProject(TemplateElement &element, qint64 projectId)
{
    onRecord(element, [projectId](auto &r) { r.projectId = projectId; });
}

QRectF boxOf(const TemplateElement &element)
{
    return onRecord(element, [](const auto &r) { return QRectF(r.xMm, r.yMm, r.widthMm, r.heightMm); });
}

void setBox(TemplateElement &element, const QRectF &box)
{
    onRecord(element, [&box](auto &r) {
        r.xMm = box.x();
        r.yMm = box.y();
        r.widthMm = box.width();
        r.heightMm = box.height();
    });
}

void setPosition(TemplateElement &element, const QPointF &topLeft)
{
    onRecord(element, [&topLeft](auto &r) {
        r.xMm = topLeft.x();
        r.yMm = topLeft.y();
    });
}

const TemplateField *asField(const TemplateElement &element)
{
    return std::get_if<TemplateField>(&element);
}

const GraphicElement *asGraphic(const TemplateElement &element)
{
    return std::get_if<GraphicElement>(&element);
}

QList<TemplateElement> elementsOf(const QList<TemplateField> &fields, const QList<GraphicElement> &graphics)
{
    QList<TemplateElement> elements;
    elements.reserve(fields.size() + graphics.size());
    for (const TemplateField &field : fields)
        elements.append(field);
    for (const GraphicElement &graphic : graphics)
        elements.append(graphic);
    return elements;
}

QList<TemplateElement> elementsOf(const QList<GraphicElement> &graphics)
{
    return elementsOf(QList<TemplateField>(), graphics);
}
