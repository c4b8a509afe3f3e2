#pragma once

#include <QDoubleSpinBox>

// A length box whose value is always millimetres; only its text follows the
// display unit. Stepping, limits and validation are the plain spin box's.
class UnitSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit UnitSpinBox(QWidget *parent = nullptr);

    bool useInches() const { return m_useInches; }
    // Sets the unit shown, the matching precision (3 decimals in inches, 2 in
    // millimetres; the value is rounded to it) and re-renders the text.
    void setUseInches(bool useInches);

    QString textFromValue(double value) const override;
    double valueFromText(const QString &text) const override;

private:
    bool m_useInches = false;
};
