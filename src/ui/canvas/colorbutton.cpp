#include "ui/canvas/colorbutton.h"

#include <QColorDialog>

ColorButton::ColorButton(const char *propertyName, const QString &dialogTitle, QWidget *parent)
    : QPushButton(parent)
    , m_propertyName(propertyName)
    , m_dialogTitle(dialogTitle)
    , m_chooser([](QWidget *owner, const QString &title, const QColor &initial) {
        return QColorDialog::getColor(initial, owner, title);
    })
{
    connect(this, &QPushButton::clicked, this, &ColorButton::choose);
}

void ColorButton::setColor(const QString &color)
{
    m_color = color;
    setText(color);
    setProperty(m_propertyName, color);
    // An empty colour would make the rule invalid; the button then looks plain.
    setStyleSheet(color.isEmpty()
                      ? QString()
                      : QStringLiteral("QPushButton { color: %1; border: 2px solid %1; background: white; }")
                            .arg(color));
}

void ColorButton::setChooser(ColorChooser chooser)
{
    m_chooser = std::move(chooser);
}

void ColorButton::choose()
{
    const QColor chosen = m_chooser(window(), m_dialogTitle, QColor(m_color));
    if (!chosen.isValid())
        return;
    setColor(chosen.name(QColor::HexRgb));
    emit colorChosen(m_color);
}
