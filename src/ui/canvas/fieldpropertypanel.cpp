#include "ui/canvas/fieldpropertypanel.h"

#include "ui/canvas/propertyform.h"

#include "editor/editorgeometry.h"
#include "model/columnkeys.h"
#include "render/elementpainter.h"
#include "ui/canvas/prizeeditor.h"
#include "ui/unitspinbox.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString fallbackColor = QStringLiteral("#111827");

} // namespace

QString FieldEdit::saveFailureMessage(const QString &error) const
{
    if (kind == Kind::ScratchSettings)
        return QCoreApplication::translate("FieldPropertyPanel", "Could not save scratch-card settings: %1")
            .arg(error);
    return QCoreApplication::translate("FieldPropertyPanel", "Could not save the field: %1").arg(error);
}

FieldPropertyPanel::FieldPropertyPanel(QWidget *parent)
    : QWidget(parent)
{
    const PropertyForm parts = buildPropertyForm(this, propertyPanelTitle(PropertyPanelGroup::Field, std::nullopt));
    QVBoxLayout *layout = parts.layout;
    m_title = parts.title;
    m_form = parts.form;

    m_rowWidgets.build(m_form, [this](PropertyRow row) -> QWidget * {
        if (UnitSpinBox *box = m_placement.make(row, this))
            return box;
        switch (row) {
        case PropertyRow::Name:
            return m_name = new QLineEdit(this);
        case PropertyRow::DataSource:
            m_dataSource = new QComboBox(this);
            m_dataSource->addItem(tr("Select a data table"), qint64(0));
            return m_dataSource;
        case PropertyRow::DataColumn:
            m_column = new QComboBox(this);
            m_column->addItem(tr("Not bound"), QString());
            return m_column;
        case PropertyRow::BarcodeType:
            m_barcodeType = new QComboBox(this);
            m_barcodeType->addItem(tr("Code 128 (General)"), int(BarcodeFormat::Code128));
            m_barcodeType->addItem(tr("Code 39"), int(BarcodeFormat::Code39));
            m_barcodeType->addItem(tr("EAN-13"), int(BarcodeFormat::Ean13));
            m_barcodeType->addItem(tr("EAN-8"), int(BarcodeFormat::Ean8));
            m_barcodeType->addItem(tr("UPC-A"), int(BarcodeFormat::UpcA));
            return m_barcodeType;
        case PropertyRow::ShowText:
            return m_showText = new QCheckBox(tr("Show barcode value"), this);
        case PropertyRow::SequencePrefix:
            m_sequencePrefix = new QLineEdit(QStringLiteral("No."), this);
            m_sequencePrefix->setMaxLength(elementlimits::maximumSequencePrefixLength);
            return m_sequencePrefix;
        case PropertyRow::SequenceDigits:
            m_sequenceDigits = new QSpinBox(this);
            m_sequenceDigits->setRange(elementlimits::minimumSequenceDigits, elementlimits::maximumSequenceDigits);
            m_sequenceDigits->setValue(6);
            return m_sequenceDigits;
        case PropertyRow::SequenceStep:
            m_sequenceStep = new QSpinBox(this);
            m_sequenceStep->setRange(elementlimits::minimumSequenceStep, elementlimits::maximumSequenceStep);
            m_sequenceStep->setValue(1);
            return m_sequenceStep;
        case PropertyRow::ExcludeFour:
            return m_excludeFour = new QCheckBox(tr("Exclude numbers containing digit 4"), this);
        case PropertyRow::PrizeSettings:
            return m_prizes = new PrizeEditor(this);
        case PropertyRow::Font:
            return m_font = new QFontComboBox(this);
        case PropertyRow::FontSize:
            m_fontSize = new QSpinBox(this);
            m_fontSize->setRange(int(elementlimits::minimumFontSizePt), int(elementlimits::maximumFontSizePt));
            m_fontSize->setSuffix(QStringLiteral(" pt"));
            m_fontSize->setValue(12);
            return m_fontSize;
        case PropertyRow::Bold:
            return m_bold = new QCheckBox(tr("Bold"), this);
        case PropertyRow::Alignment:
            // The horizontal alignment only; the vertical one is the centre's
            // whenever this row is changed.
            m_alignment = new QComboBox(this);
            m_alignment->addItem(tr("Align Left"), int(HorizontalAlignment::Left));
            m_alignment->addItem(tr("Center"), int(HorizontalAlignment::Center));
            m_alignment->addItem(tr("Align Right"), int(HorizontalAlignment::Right));
            return m_alignment;
        case PropertyRow::Colour:
            return m_color = new ColorButton("fieldColor", tr("Choose Text Color"), this);
        default:
            return nullptr;
        }
    });
    // Long file and column names (and the "unavailable" entry) are elided
    // rather than widening the panel past its column.
    for (QComboBox *combo : {m_dataSource, m_column}) {
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(8);
    }

    m_hint = new QLabel(tr("Select a canvas field to edit. Variable text automatically fits its content."),
                        this);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setWordWrap(true);
    layout->addWidget(m_hint);

    m_delete = new QPushButton(tr("Delete Current Field"), this);
    m_delete->setObjectName(QStringLiteral("dangerButton"));
    layout->addWidget(m_delete);
    layout->addStretch(1);

    // Only finished entries are reported, as by the position and size boxes.
    for (QSpinBox *box : {m_sequenceDigits, m_sequenceStep, m_fontSize})
        box->setKeyboardTracking(false);

    const auto applyProperties = [this] { apply(FieldEdit::Kind::Properties); };
    connect(m_name, &QLineEdit::editingFinished, this, applyProperties);
    connect(m_dataSource, &QComboBox::currentIndexChanged, this, &FieldPropertyPanel::dataSourceChosen);
    connect(m_column, &QComboBox::currentIndexChanged, this, applyProperties);
    for (UnitSpinBox *box : m_placement.boxes())
        connect(box, &UnitSpinBox::valueChanged, this, applyProperties);
    for (QSpinBox *box : {m_sequenceDigits, m_sequenceStep, m_fontSize})
        connect(box, &QSpinBox::valueChanged, this, applyProperties);
    for (QComboBox *combo : {m_barcodeType, m_alignment})
        connect(combo, &QComboBox::currentIndexChanged, this, applyProperties);
    for (QCheckBox *check : {m_showText, m_excludeFour, m_bold})
        connect(check, &QCheckBox::toggled, this, applyProperties);
    connect(m_sequencePrefix, &QLineEdit::editingFinished, this, applyProperties);
    connect(m_font, &QFontComboBox::currentFontChanged, this, applyProperties);
    connect(m_color, &ColorButton::colorChosen, this, applyProperties);
    connect(m_prizes, &PrizeEditor::settingsEdited, this,
            [this] { apply(FieldEdit::Kind::ScratchSettings); });
    connect(m_delete, &QPushButton::clicked, this, [this] {
        if (hasField())
            emit deleteRequested(m_field.id);
    });

    showField(TemplateField{});
}

void FieldPropertyPanel::setDataSources(const QList<DataSource> &sources,
                                        const QHash<qint64, QStringList> &columnsBySource)
{
    const bool wasFilling = m_filling;
    m_filling = true;
    const QString key = m_column->currentData().toString();
    const qint64 previousSource = m_dataSource->currentData().toLongLong();
    m_columnsBySource = columnsBySource;
    {
        const QSignalBlocker blocker(m_dataSource);
        m_dataSource->clear();
        m_dataSource->addItem(tr("Select a data table"), qint64(0));
        for (const DataSource &source : sources) {
            m_dataSource->addItem(source.displayName, source.id);
            m_dataSource->setItemData(m_dataSource->count() - 1, source.filePath, Qt::ToolTipRole);
        }
        m_dataSource->setCurrentIndex(std::max(m_dataSource->findData(previousSource), 0));
    }
    chooseSourceFor(key);
    fillColumns(key);
    m_filling = wasFilling;
}

void FieldPropertyPanel::setCardContext(const QSizeF &cardMm, const CardTable &records)
{
    m_cardMm = cardMm;
    m_records = records;
}

void FieldPropertyPanel::showField(const TemplateField &field)
{
    m_filling = true;
    m_field = field;
    m_current = field;
    const bool selected = field.id >= 1;
    const std::optional<ElementKind> type = selected ? std::optional(field.type) : std::nullopt;

    m_title->setText(propertyPanelTitle(PropertyPanelGroup::Field, type));
    m_rowWidgets.showFor(type);

    const QString key = selected ? field.dataColumn : QString();
    chooseSourceFor(key);
    fillColumns(key);

    m_name->setText(selected ? field.name : QString());
    m_placement.setValue(field.xMm, field.yMm, field.widthMm, field.heightMm);

    m_shownBarcodeIndex = std::max(m_barcodeType->findData(int(field.barcodeFormat)), 0);
    m_barcodeType->setCurrentIndex(m_shownBarcodeIndex);
    m_showText->setChecked(field.barcodeShowText);

    m_sequencePrefix->setText(field.sequencePrefix);
    m_sequenceDigits->setValue(field.sequenceDigits);
    m_sequenceStep->setValue(field.sequenceStep);
    m_excludeFour->setChecked(field.sequenceExcludeFour);

    // Allocating a prize list costs time in proportion to the run; only a
    // scratch field's list is shown and read back.
    if (type == ElementKind::Scratch)
        m_prizes->showSettings(field);

    if (m_font->currentFont().family() != field.fontFamily)
        m_font->setCurrentFont(QFont(field.fontFamily));
    m_shownFontFamily = m_font->currentFont().family();
    m_fontSize->setValue(qRound(field.fontSizePt));
    m_shownFontSize = m_fontSize->value();
    m_bold->setChecked(field.bold);
    m_shownAlignmentIndex = std::max(m_alignment->findData(int(field.alignment.horizontal)), 0);
    m_alignment->setCurrentIndex(m_shownAlignmentIndex);
    m_color->setColor(field.colorHex);

    m_delete->setEnabled(selected);
    m_filling = false;
}

void FieldPropertyPanel::setColorChooser(ColorChooser chooser)
{
    m_color->setChooser(std::move(chooser));
}

QList<UnitSpinBox *> FieldPropertyPanel::unitSpinBoxes() const
{
    return m_placement.boxes();
}

void FieldPropertyPanel::chooseSourceFor(const QString &key)
{
    int index = -1;
    const qint64 sourceId = columnKeySourceId(key);
    if (sourceId > 0)
        index = m_dataSource->findData(sourceId);
    else if (!key.isEmpty() && columnKeyColumnName(key) == key && m_dataSource->count() > 1)
        index = 1; // a bare column name belongs to the first data source
    // Otherwise the source chosen before stays.
    if (index >= 0) {
        const QSignalBlocker blocker(m_dataSource);
        m_dataSource->setCurrentIndex(index);
    }
}

void FieldPropertyPanel::fillColumns(const QString &key)
{
    QList<std::pair<QString, QString>> items{{tr("Not bound"), QString()}};
    const qint64 sourceId = m_dataSource->currentData().toLongLong();
    if (sourceId > 0) {
        for (const QString &column : m_columnsBySource.value(sourceId))
            items.append({column, columnKey(sourceId, column)});
    }
    const auto found = std::find_if(items.cbegin(), items.cend(),
                                    [&key](const auto &item) { return item.second == key; });
    qsizetype selected = found - items.cbegin();
    if (found == items.cend()) {
        if (key.isEmpty()) {
            selected = 0;
        } else {
            // Shown and kept, so that an edit elsewhere does not unbind the field.
            items.append({tr("%1 (unavailable in this project)").arg(key), key});
            selected = items.size() - 1;
        }
    }

    const QSignalBlocker blocker(m_column);
    bool same = m_column->count() == items.size();
    for (int i = 0; same && i < items.size(); ++i)
        same = m_column->itemText(i) == items[i].first && m_column->itemData(i).toString() == items[i].second;
    // Rebuilt only when the choices differ: this also runs while the combo
    // reports the user's choice and the window shows the saved field again.
    if (!same) {
        m_column->clear();
        for (const auto &[text, value] : items)
            m_column->addItem(text, value);
    }
    m_column->setCurrentIndex(int(selected));
}

void FieldPropertyPanel::dataSourceChosen()
{
    if (m_filling)
        return;
    // The field is unbound until a column of the new source is chosen.
    fillColumns(QString());
    apply(FieldEdit::Kind::Properties);
}

TemplateField FieldPropertyPanel::editedField() const
{
    TemplateField field = m_field;
    const bool scratch = field.type == ElementKind::Scratch;

    field.name = m_name->text().trimmed();
    if (field.name.isEmpty())
        field.name = scratch ? tr("Scratch Card Prize") : tr("Variable Field");
    field.dataColumn = isGenerated(field.type) ? QString() : m_column->currentData().toString();

    // Kept on the card as a drag keeps it: a field typed off the card would
    // vanish from the canvas and from every printed card. A field that sizes
    // itself to its content is kept there at its smallest and fitted below.
    const QSizeF minimum(fieldMinimumWidthMm, fieldMinimumHeightMm);
    const QRectF placement = m_placement.value();
    const QSizeF typed = isSizedByContent(field.type) ? minimum : placement.size();
    const QRectF box = keptOnCard(QRectF(placement.topLeft(), typed), m_cardMm, minimum);
    field.xMm = box.x();
    field.yMm = box.y();
    field.widthMm = box.width();
    field.heightMm = box.height();

    const QString family = m_font->currentFont().family();
    if (family != m_shownFontFamily)
        field.fontFamily = family;
    if (m_fontSize->value() != m_shownFontSize)
        field.fontSizePt = m_fontSize->value();
    field.bold = m_bold->isChecked();
    if (m_alignment->currentIndex() != m_shownAlignmentIndex)
        field.alignment = {HorizontalAlignment(m_alignment->currentData().toInt()), VerticalAlignment::Center};
    if (m_barcodeType->currentIndex() != m_shownBarcodeIndex)
        field.barcodeFormat = BarcodeFormat(m_barcodeType->currentData().toInt());
    field.barcodeShowText = m_showText->isChecked();
    field.sequencePrefix = m_sequencePrefix->text();
    field.sequenceDigits = m_sequenceDigits->value();
    field.sequenceStep = m_sequenceStep->value();
    field.sequenceExcludeFour = m_excludeFour->isChecked();
    field.colorHex = m_color->color().isEmpty() ? fallbackColor : m_color->color();

    if (scratch)
        m_prizes->storeSettings(&field);

    if (isSizedByContent(field.type)) {
        const QSizeF fitted = fittedFieldSize(field, m_cardMm.width(), m_cardMm.height(), m_records);
        field.widthMm = fitted.width();
        field.heightMm = fitted.height();
    }
    return field;
}

void FieldPropertyPanel::apply(FieldEdit::Kind kind)
{
    if (m_filling || !hasField())
        return;
    FieldEdit edit;
    edit.before = m_field;
    edit.after = editedField();
    edit.kind = kind;
    edit.refreshesPreview = isGenerated(edit.after.type);
    // Focus leaving the name box or a box stepped back to its value is no edit.
    if (edit.after == m_current)
        return;
    m_current = edit.after;

    // The widgets show what was reported: the name that replaced an empty
    // one, sizes raised to the minimum or fitted to the content.
    m_filling = true;
    m_name->setText(edit.after.name);
    m_placement.setValue(edit.after.xMm, edit.after.yMm, edit.after.widthMm, edit.after.heightMm);
    m_filling = false;

    emit fieldEdited(edit);
}
