#pragma once

#include "editor/editordocument.h"
#include "editor/editorgeometry.h"
#include "model/graphicelement.h"
#include "model/templatefield.h"

#include <QGraphicsView>
#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>

class QGraphicsObject;
class QGraphicsPixmapItem;
class QGraphicsRectItem;
class VdpFieldItem;
class VdpGraphicItem;

// One side of the card as an on-screen proof: the white card on a dark
// backdrop with a faint 5 mm grid, the side's background, the graphics and
// the fields drawn with the preview record, and the red bleed guide. The
// scene has 4 units per millimetre with the card at (0, 0).
//
// The view never writes to the database: finished gestures, key commands,
// selections and pastes come out as signals, and the window pushes the stored
// records back (updateFieldItem, addGraphicItem, …) and the document's
// selection (setSelectedElements). The items hold the records; items are
// recreated only when a list is replaced (a project switch); records are
// identified by their database id.
class CanvasView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit CanvasView(QWidget *parent = nullptr);
    ~CanvasView() override;

    // Stores the size and rebuilds the scene.
    void setCardSize(double widthMm, double heightMm);
    // Stores max(bleed, 0) and the flag and updates the guide.
    void setBleed(double bleedMm, bool show);

    // Replace the list and recreate those items.
    void setCanvasFields(const QList<TemplateField> &fields);
    void setCanvasGraphics(const QList<GraphicElement> &graphics);
    // Adds the record's item on top; the field is then selected and focused.
    void addFieldItem(const TemplateField &field);
    // Likewise for a graphic, selected and focused only when `select`.
    void addGraphicItem(const GraphicElement &element, bool select);
    // Puts an item back below the item of `aboveId` (on top when there is no
    // such item), unselected: a row restored in the middle of the drawing order.
    void insertFieldItem(const TemplateField &field, qint64 aboveId);
    void insertGraphicItem(const GraphicElement &element, qint64 aboveId);
    // Store the record of the item with the same id, move it to (x × 4, y × 4)
    // and repaint; an unknown id changes nothing.
    void updateFieldItem(const TemplateField &field);
    void updateGraphicItem(const GraphicElement &element);
    void removeFieldItem(qint64 fieldId);
    void removeGraphicItem(qint64 elementId);

    // Records of the selected items, positions read back from the items, in
    // the order they were selected, and the same as element references.
    QList<TemplateField> selectedFields() const;
    QList<GraphicElement> selectedGraphics() const;
    QList<ElementRef> selectedElements() const;
    // Selects exactly the items of `selection` (in that order; the last is the
    // anchor) without reporting it back as the user's selection.
    void setSelectedElements(const QList<ElementRef> &selection);
    int selectionCount() const;
    // The first selected field, or a record with id 0.
    TemplateField selectedField() const;

    // Hands the record to every field item, which repaints.
    void setPreviewRecord(const QJsonObject &record);
    // Sets the flag on every graphic item (and on those created later).
    void setSnapEnabled(bool enabled);

    // Reads the side's background with the reader the export uses
    // (loadBackgroundImage: an image with its orientation tag applied, a
    // PDF's first page rasterised) and shows it stretched over the card.
    // On failure the previous background stays and `error` gets the message.
    bool loadBackground(const QString &path, QString *error = nullptr);
    // Shows a picture already read by that reader (an import reads the file
    // once); a null image clears the background.
    void setBackgroundImage(const QImage &image);
    void clearBackground();

    // The selected field and graphic items in the order they were selected,
    // and the alignment anchor: the last selected item still selected, else
    // the first of the scene's selected items, else none.
    QList<QGraphicsObject *> selectedItemsInOrder() const;
    QGraphicsObject *alignmentAnchor() const;

    // Puts the selected items on the system clipboard under the canvas MIME
    // type; with nothing selected the clipboard is left alone. True when
    // something was copied.
    bool copySelection();
    // Reads the canvas document from the system clipboard and emits one paste
    // request with every record, each 2 mm right of and below where it was
    // copied and kept on the card. True when the clipboard held a canvas
    // document (the paste key is then consumed).
    bool pasteFromClipboard();

    double cardWidthMm() const { return m_cardWidthMm; }
    double cardHeightMm() const { return m_cardHeightMm; }
    double bleedMm() const { return m_bleedMm; }
    bool showBleed() const { return m_showBleed; }
    bool snapEnabled() const { return m_snapEnabled; }
    // The records the items hold, in drawing order.
    QList<TemplateField> canvasFields() const;
    QList<GraphicElement> canvasGraphics() const;
    const QJsonObject &previewRecord() const { return m_previewRecord; }
    // The image as read (null without background); the export stretches it
    // over the card itself.
    const QImage &backgroundImage() const { return m_backgroundImage; }

    // Scene items, for the window's tests and the benchmark. Invalid after
    // the next rebuild or list replacement.
    QGraphicsRectItem *cardItem() const { return m_cardItem; }
    QGraphicsPixmapItem *backgroundItem() const { return m_backgroundItem; }
    QGraphicsRectItem *bleedGuideItem() const { return m_bleedGuide; }
    VdpFieldItem *fieldItem(qint64 fieldId) const;
    VdpGraphicItem *graphicItem(qint64 elementId) const;

signals:
    void fieldSelected(const TemplateField &field);
    // One object's finished gesture or nudge.
    void fieldEdited(const TemplateField &field);
    void graphicEdited(const GraphicElement &element);
    // A drag that moved several objects: all of them, as one gesture.
    void objectsEdited(const QList<TemplateField> &fields, const QList<GraphicElement> &graphics);
    void deleteSelectionRequested();
    void graphicSelected(const GraphicElement &element);
    void pasteRequested(const QList<TemplateField> &fields, const QList<GraphicElement> &graphics);
    void undoRequested();
    void redoRequested();
    void selectionCountChanged(int count);
    // The user's selection changed (click, shift-click, band): the selected
    // objects in the order they were selected.
    void selectionEdited(const QList<ElementRef> &selection);
    // A canvas document on the clipboard that is not pasted (too large, too
    // many items): the sentence to show.
    void pasteRefused(const QString &reason);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void drawBackground(QPainter *painter, const QRectF &rect) override;

private:
    void rebuild();
    void rebuildBackgroundItem();
    void updateBleedGuide();
    void fitCard();
    VdpFieldItem *createFieldItem(const TemplateField &field, int index = -1);
    VdpGraphicItem *createGraphicItem(const GraphicElement &element, int index = -1);
    void relayFieldEdited(const TemplateField &field);
    void relayGraphicEdited(const GraphicElement &element);
    void handleSelectionChanged();
    // Items moved along with the one the mouse dragged report no release of
    // their own; their new positions are collected here with the dragged one's.
    void collectItemsMovedAlong();
    void reportGesture();
    void nudgeSelectedField(int key, bool shift);

    double m_cardWidthMm = 90;
    double m_cardHeightMm = 54;
    double m_bleedMm = 2;
    bool m_showBleed = true;
    bool m_snapEnabled = false;
    QJsonObject m_previewRecord;
    QImage m_backgroundImage;

    QGraphicsRectItem *m_cardItem = nullptr;
    QGraphicsPixmapItem *m_backgroundItem = nullptr;
    QGraphicsRectItem *m_bleedGuide = nullptr;
    QList<VdpFieldItem *> m_fieldItems;
    QList<VdpGraphicItem *> m_graphicItems;
    QList<QPointer<QGraphicsObject>> m_selectionOrder;
    bool m_holdSelectionReports = false; // while items are deleted or recreated
    // A mouse gesture in progress: the items' positions at the press, and the
    // records its items reported, sent as one edit at the release.
    bool m_collectingGesture = false;
    QHash<QGraphicsObject *, QPointF> m_pressPositions;
    QList<TemplateField> m_gestureFields;
    QList<GraphicElement> m_gestureGraphics;
    // Until the user zooms, the card is fitted again when the view is resized
    // (the first fit happens before the page is laid out).
    bool m_userZoomed = false;
};
