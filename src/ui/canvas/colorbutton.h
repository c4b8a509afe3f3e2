#pragma once

#include <QColor>
#include <QPushButton>
#include <QString>

#include <functional>

class QWidget;

// Asks the user for a colour: the parent, the dialog title and the colour to
// start from; an invalid colour when the user cancelled. The window passes
// its Dialogs seam here so that tests can answer without a dialog.
using ColorChooser = std::function<QColor(QWidget *parent, const QString &title, const QColor &initial)>;

// A push button that holds a colour as "#rrggbb": as its text, as the dynamic
// property named at construction, and shown by its style sheet. Clicking it
// asks the chooser; a chosen colour is put on the button and reported.
class ColorButton : public QPushButton
{
    Q_OBJECT

public:
    ColorButton(const char *propertyName, const QString &dialogTitle, QWidget *parent = nullptr);

    // The colour text held; empty when the button holds none.
    QString color() const { return m_color; }
    // Puts the text on the button as it is (no signal). An empty text clears it.
    void setColor(const QString &color);

    // Replaces the standard colour dialog.
    void setChooser(ColorChooser chooser);

signals:
    // After the user chose a colour; the button already holds it.
    void colorChosen(const QString &color);

private:
    void choose();

    const char *m_propertyName;
    QString m_dialogTitle;
    QString m_color;
    ColorChooser m_chooser;
};
