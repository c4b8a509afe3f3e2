#include "ui/stylesheet.h"

QString applicationStyleSheet()
{
    return QStringLiteral(R"css(
QWidget {
    font-family: "Segoe UI";
    font-size: 13px;
    color: #111827;
}
QMainWindow { background: #f3f4f6; }
QToolBar { background: #ffffff; border: none; border-bottom: 1px solid #e5e7eb; spacing: 4px; padding: 4px; }
QStatusBar { background: #ffffff; border-top: 1px solid #e5e7eb; }

QLineEdit, QComboBox, QSpinBox, QDoubleSpinBox, QPlainTextEdit, QTextEdit {
    background: #ffffff;
    border: 1px solid #d1d5db;
    border-radius: 5px;
    padding: 3px 6px;
}
QComboBox::drop-down {
    subcontrol-origin: padding;
    subcontrol-position: center right;
    width: 20px;
    border: none;
}
QComboBox::down-arrow { image: url(:/icons/chevron-down.svg); width: 12px; height: 12px; }
QComboBox QAbstractItemView {
    background: #ffffff;
    border: 1px solid #d1d5db;
    selection-background-color: #eff6ff;
    selection-color: #1e40af;
}
QSpinBox, QDoubleSpinBox { padding-left: 4px; padding-right: 2px; }
QAbstractSpinBox::up-button, QAbstractSpinBox::down-button {
    subcontrol-origin: border;
    width: 15px;
    border: none;
    border-left: 1px solid #e5e7eb;
    background: transparent;
}
QAbstractSpinBox::up-button { subcontrol-position: top right; border-top-right-radius: 5px; }
QAbstractSpinBox::down-button { subcontrol-position: bottom right; border-bottom-right-radius: 5px; }
QAbstractSpinBox::up-button:hover, QAbstractSpinBox::down-button:hover { background: #f3f4f6; }
QAbstractSpinBox::up-arrow { image: url(:/icons/chevron-up.svg); width: 10px; height: 10px; }
QAbstractSpinBox::down-arrow { image: url(:/icons/chevron-down.svg); width: 10px; height: 10px; }
QLineEdit:focus, QComboBox:focus, QSpinBox:focus, QDoubleSpinBox:focus,
QPlainTextEdit:focus, QTextEdit:focus {
    border: 1px solid #2563eb;
}

QPushButton, QToolButton {
    background: #ffffff;
    border: 1px solid #d1d5db;
    border-radius: 5px;
    padding: 5px 10px;
}
QPushButton:hover, QToolButton:hover { background: #f9fafb; }
QToolBar QToolButton { border: none; padding: 6px 10px; }
QToolBar QToolButton:hover { background: #f3f4f6; }

QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }
QScrollBar::handle:vertical { background: #d1d5db; border-radius: 4px; min-height: 24px; }
QScrollBar::handle:vertical:hover { background: #9ca3af; }
QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }
QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }
QScrollBar:horizontal { background: transparent; height: 8px; margin: 0; }
QScrollBar::handle:horizontal { background: #d1d5db; border-radius: 4px; min-width: 24px; }
QScrollBar::handle:horizontal:hover { background: #9ca3af; }
QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal { width: 0; }
QScrollBar::add-page:horizontal, QScrollBar::sub-page:horizontal { background: transparent; }

QTabWidget::pane { border: 1px solid #e5e7eb; background: #ffffff; }
QTabBar::tab {
    padding: 10px 20px;
    background: #e5e7eb;
    border: none;
    margin-right: 2px;
}
QTabBar::tab:selected { background: #ffffff; color: #1d4ed8; font-weight: bold; }

#projectPanel, #fieldPanel, #propertyScroll, #canvasToolPalette, #canvasActions {
    background: #ffffff;
    border: 1px solid #e5e7eb;
}
#projectPanelContent { background: transparent; }
#brand { font-size: 18px; font-weight: bold; color: #1d4ed8; }
#subtitle { color: #6b7280; }
#hint { color: #6b7280; font-size: 12px; }
#projectPanelTitle { font-size: 16px; font-weight: bold; }
#projectSectionTitle { font-size: 13px; font-weight: bold; color: #374151; }
#fitWarning { color: #b91c1c; }
#projectSeparator { background: #e5e7eb; border: none; min-height: 1px; max-height: 1px; }
#pageTitle { font-size: 16px; font-weight: bold; }
#metric {
    background: #eff6ff;
    color: #1e40af;
    border-radius: 5px;
    padding: 4px 8px;
}
#backgroundStatus { color: #6b7280; }
#propertyTitle { font-size: 14px; font-weight: bold; }
#toolLabel { color: #374151; font-weight: bold; }
#toolButton, #canvasToolButton, #alignmentButton { padding: 4px 8px; }
#drawingToolMenu { background: #ffffff; border: 1px solid #e5e7eb; }
#drawingToolMenu::item:selected { background: #eff6ff; color: #1e40af; }

#sideButton:checked, #previewSideButton:checked, #previewOptionButton:checked {
    background: #2563eb;
    border-color: #2563eb;
    color: #ffffff;
}
#previewZoomLabel { color: #374151; }
QTabWidget#sideTabs > QTabBar::tab { padding: 6px 16px; background: #e5e7eb; color: #111827; font-weight: normal; }
QTabWidget#sideTabs > QTabBar::tab:selected { background: #2563eb; color: #ffffff; }

#canvasActionsSeparator { background: #e5e7eb; border: none; min-width: 1px; max-width: 1px; }
#sheetNavButton { padding: 4px 8px; }
#sheetPage, #sheetTotal { color: #374151; }

#primaryButton {
    background: #2563eb;
    border: 1px solid #2563eb;
    color: #ffffff;
    font-weight: bold;
}
#primaryButton:hover { background: #1d4ed8; border-color: #1d4ed8; }
#dangerButton {
    background: #fef2f2;
    border: 1px solid #fecaca;
    color: #b91c1c;
}
#deleteProjectButton {
    /* 20 px of content inside a 1 px border: a 22 × 22 px button */
    min-width: 20px; max-width: 20px;
    min-height: 20px; max-height: 20px;
    padding: 0;
    color: #dc2626;
    font-size: 16px;
    font-weight: bold;
}
#deleteProjectButton:hover { background: #dc2626; border-color: #dc2626; color: #ffffff; }
)css");
}
