#include "render/textoutlines.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QRawFont>
#include <QSet>
#include <QTextLayout>
#include <QTextOption>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace {

// A map bounded by a budget of costs, in two generations: entries go into the
// recent one; when it has used half the budget it becomes the older one and
// the previous older one is dropped. A hit in the older generation moves the
// entry back into the recent one, so what keeps being used stays. Cheaper to
// keep than a true LRU list and as good for a stream of card texts.
template<typename Key, typename Value>
class Generations
{
public:
    explicit Generations(qsizetype budget) : m_half(std::max<qsizetype>(budget / 2, 1)) {}

    // The entry, valid until the next insert; null when absent.
    const Value *find(const Key &key)
    {
        if (const auto it = m_recent.constFind(key); it != m_recent.cend())
            return &it->value;
        const auto old = m_older.find(key);
        if (old == m_older.end())
            return nullptr;
        Entry entry = std::move(*old);
        m_older.erase(old);
        m_olderCost -= entry.cost;
        return insert(key, std::move(entry.value), entry.cost);
    }

    // Null, and nothing kept, when the entry alone would take half the budget.
    const Value *insert(const Key &key, Value value, qsizetype cost)
    {
        if (cost > m_half)
            return nullptr;
        if (m_recentCost + cost > m_half) {
            m_older = std::exchange(m_recent, {});
            m_olderCost = std::exchange(m_recentCost, 0);
        }
        m_recentCost += cost;
        return &m_recent.insert(key, Entry{std::move(value), cost})->value;
    }

    void clear()
    {
        m_recent.clear();
        m_older.clear();
        m_recentCost = m_olderCost = 0;
    }

    qsizetype size() const { return m_recent.size() + m_older.size(); }
    qsizetype cost() const { return m_recentCost + m_olderCost; }

private:
    struct Entry
    {
        Value value;
        qsizetype cost = 0;
    };
    qsizetype m_half;
    QHash<Key, Entry> m_recent;
    QHash<Key, Entry> m_older;
    qsizetype m_recentCost = 0;
    qsizetype m_olderCost = 0;
};

// Which face a glyph index belongs to. Names and numbers rather than the
// QRawFont itself: a kept QRawFont keeps its font engine alive, and engines
// must not outlive the thread's font cache. The 'head' table's checksum tells
// apart two font files that share their names.
struct FaceKey
{
    QString family;
    QString style;
    int weight = 0;
    int italic = 0;
    double pixelSize = 0;
    quint32 checksum = 0;

    friend bool operator==(const FaceKey &, const FaceKey &) = default;
};

size_t qHash(const FaceKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.family, key.style, key.weight, key.italic, key.pixelSize, key.checksum);
}

// Nothing for a face that is no font file (Qt draws boxes when no font can
// be had, or at absurd sizes): such an engine has no 'head' table, and
// asking it for its family name reads past an empty list.
std::optional<FaceKey> faceKey(const QRawFont &font)
{
    if (!font.isValid())
        return std::nullopt;
    // checksumAdjustment, a big-endian 32-bit word at offset 8 of the table.
    const QByteArray head = font.fontTable("head");
    if (head.size() < 12)
        return std::nullopt;
    return FaceKey{font.familyName(), font.styleName(), font.weight(), int(font.style()), font.pixelSize(),
                   qFromBigEndian<quint32>(head.constData() + 8)};
}

struct TextKey
{
    QString font;
    QString text;

    friend bool operator==(const TextKey &, const TextKey &) = default;
};

size_t qHash(const TextKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.font, key.text);
}

struct Glyph
{
    QPainterPath outline;
    // True when the font has no outline for a glyph that has ink (a bitmap
    // or colour glyph): addText draws those its own way.
    bool inkWithoutOutline = false;
};

// Characters that addText and a single laid-out line treat apart: tabs and
// objects take no glyphs, a line or paragraph break ends the line that a
// QTextLayout hands out (addText goes on drawing past it), and U+009C ends the
// part of the text that QFontMetricsF measures. Such texts go through addText.
bool needsOwnLayout(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029 || u == 0xfffc)
            return true;
    }
    return false;
}

// Appends `glyph` moved by `offset`: the elements addText would add for it.
void appendMoved(QPainterPath &to, const QPainterPath &glyph, QPointF offset)
{
    if (glyph.isEmpty())
        return;
    to.addPath(glyph.translated(offset));
}

// A copy without the spare room a path keeps for growing (up to half as much
// again), for a path that is kept and never grows.
QPainterPath compact(const QPainterPath &path)
{
    if (path.isEmpty())
        return path;
    QPainterPath copy;
    copy.reserve(path.elementCount() + 1);
    copy.addPath(path);
    copy.setFillRule(path.fillRule());
    return copy;
}

// Cut toward zero to 1/64, as Qt's fixed-point pen positions are.
double fixedPoint(double value)
{
    if (!(std::abs(value) < 1e12))
        return value; // no fixed point holds it; addText's own result is undefined there
    return double(qint64(value * 64)) / 64;
}

} // namespace

struct TextOutlines::Data
{
    explicit Data(Limits limits) : glyphs(limits.glyphElements), texts(limits.textElements) {}

    // Faces are numbered so that a glyph's key is one integer. The numbering
    // grows with every face and size seen (a canvas zoom is a new size), so
    // past a few hundred it starts again with the glyphs it numbers.
    std::optional<quint32> faceNumber(const QRawFont &font)
    {
        const std::optional<FaceKey> found = faceKey(font);
        if (!found)
            return std::nullopt;
        const FaceKey &key = *found;
        if (const auto it = faces.constFind(key); it != faces.cend())
            return *it;
        if (faces.size() >= kMaxFaces) {
            faces.clear();
            glyphs.clear();
        }
        const quint32 number = nextFace++;
        faces.insert(key, number);
        return number;
    }

    // The outline of one glyph at the origin, loaded once. False when it must
    // be drawn by addText.
    bool appendGlyph(QPainterPath &to, const QRawFont &font, quint32 face, quint32 index, QPointF at)
    {
        const quint64 key = (quint64(face) << 32) | index;
        const Glyph *glyph = glyphs.find(key);
        Glyph loaded;
        if (!glyph) {
            loaded.outline = font.pathForGlyph(index);
            loaded.inkWithoutOutline = loaded.outline.isEmpty() && !font.boundingRect(index).isEmpty();
            glyph = glyphs.insert(key, loaded, loaded.outline.elementCount() + 1);
            if (!glyph)
                glyph = &loaded;
        }
        if (glyph->inkWithoutOutline)
            return false;
        appendMoved(to, glyph->outline, at);
        return true;
    }

    // The text shaped on one line and assembled from glyph outlines; nothing
    // when some glyph has no outline.
    std::optional<SetText> assemble(const QFont &font, const QString &text)
    {
        // The layout addText makes: one line, no width, the direction taken
        // from the text.
        QTextLayout layout(text, font);
        QTextOption option = layout.textOption();
        option.setTextDirection(text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
        layout.setTextOption(option);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        layout.endLayout();
        if (!line.isValid())
            return SetText{};

        // Runs come grouped by font in no fixed order; put them in visual
        // order so that the same text always gives the same path.
        QList<QGlyphRun> runs = line.glyphRuns();
        const auto leftmost = [](const QGlyphRun &run) {
            const QList<QPointF> positions = run.positions();
            double x = std::numeric_limits<double>::infinity();
            for (const QPointF &p : positions)
                x = std::min(x, p.x());
            return x;
        };
        std::stable_sort(runs.begin(), runs.end(),
                         [&](const QGlyphRun &a, const QGlyphRun &b) { return leftmost(a) < leftmost(b); });

        SetText set;
        const QPointF baseline(line.x(), line.y() + line.ascent());
        for (const QGlyphRun &run : std::as_const(runs)) {
            const QRawFont rawFont = run.rawFont();
            const std::optional<quint32> face = faceNumber(rawFont);
            if (!face)
                return std::nullopt; // no font file to load outlines from: addText decides
            const QList<quint32> indexes = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype i = 0; i < indexes.size() && i < positions.size(); ++i) {
                if (!appendGlyph(set.outline, rawFont, *face, indexes.at(i), positions.at(i) - baseline))
                    return std::nullopt;
            }
        }
        set.advance = line.horizontalAdvance();
        return set;
    }

    static constexpr qsizetype kMaxFaces = 256;
    static constexpr qsizetype kMaxSeenOnce = 8192;
    QSet<size_t> seenOnce;
    QHash<FaceKey, quint32> faces;
    quint32 nextFace = 0;
    Generations<quint64, Glyph> glyphs;
    Generations<TextKey, SetText> texts;
    qint64 textHits = 0;
    qint64 textMisses = 0;
};

TextOutlines::TextOutlines() : TextOutlines(Limits{}) {}
TextOutlines::TextOutlines(Limits limits) : d(std::make_unique<Data>(limits)) {}
TextOutlines::~TextOutlines() = default;
TextOutlines::TextOutlines(TextOutlines &&) noexcept = default;
TextOutlines &TextOutlines::operator=(TextOutlines &&) noexcept = default;

TextOutlines::SetText TextOutlines::set(const QFont &font, const QString &text)
{
    const TextKey key{font.key(), text};
    if (const SetText *kept = d->texts.find(key)) {
        ++d->textHits;
        return *kept;
    }
    ++d->textMisses;

    std::optional<SetText> set;
    if (!needsOwnLayout(text))
        set = d->assemble(font, text);
    if (!set) {
        set.emplace();
        set->outline.addText(0, 0, font, text);
        set->advance = QFontMetricsF(font).horizontalAdvance(text);
    }
    // Kept from its second setting on, so that a stream of texts printed once
    // (serial numbers) does not push out the ones that repeat. Only a hash is
    // remembered of the first; a collision merely keeps a text early.
    const size_t seen = qHash(key);
    if (d->seenOnce.remove(seen)) {
        d->texts.insert(key, SetText{compact(set->outline), set->advance}, set->outline.elementCount() + 1);
    } else {
        if (d->seenOnce.size() >= Data::kMaxSeenOnce)
            d->seenOnce.clear();
        d->seenOnce.insert(seen);
    }
    return *set;
}

QPainterPath TextOutlines::placed(const SetText &text, QPointF origin)
{
    return text.outline.translated(fixedPoint(origin.x()), fixedPoint(origin.y()));
}

TextOutlines::Usage TextOutlines::usage() const
{
    return Usage{d->glyphs.size(),    d->glyphs.cost() - d->glyphs.size(),
                 d->texts.size(),     d->texts.cost() - d->texts.size(),
                 d->textHits,         d->textMisses};
}
