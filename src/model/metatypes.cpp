#include "graphicelement.h"
#include "templatefield.h"

int templateFieldMetaTypeId()
{
    static const int id = qRegisterMetaType<TemplateField>("TemplateField");
    return id;
}

int graphicElementMetaTypeId()
{
    static const int id = qRegisterMetaType<GraphicElement>("GraphicElement");
    return id;
}
