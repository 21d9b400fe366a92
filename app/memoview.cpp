#include "app/memoview.h"

#include "crypto/sealed.h"
#include "memo/memo_document.h"
#include "memo/memo_layout.h"
#include "platform/codepage.h"

#include <QApplication>
#include <QBasicTimer>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <cmath>

namespace tq {
namespace {

constexpr int kMargin = 2;                                 // left and right text margin, pixels
constexpr char kBytesMime[] = "application/x-tarnquill-bytes"; // exact bytes on the clipboard

// Bytes without a glyph of their own: the control codes (tab aside), DEL and
// the five codes Windows-1252 leaves undefined. They are laid out as an em
// space and painted over with their hexadecimal code in a small box, so they
// show the same with every font.
bool isBoxedCode(unsigned char b)
{
    return (b < 0x20 && b != '\t') || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90
           || b == 0x9D;
}

// The character each byte is laid out as.
const std::array<QChar, 256>& displayTable()
{
    static const std::array<QChar, 256> table = [] {
        std::array<QChar, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const auto code = static_cast<unsigned char>(b);
            char16_t c = isBoxedCode(code) ? char16_t(0x2003) : static_cast<char16_t>(cp1252::toUnicode(code));
            if (code == 0xAD) {
                c = u'-'; // the soft hyphen would be invisible inside a row
            }
            t[static_cast<std::size_t>(b)] = QChar(c);
        }
        return t;
    }();
    return table;
}

// Unicode text (typed or pasted) to 8-bit text: "?" for what Windows-1252
// cannot hold.
std::string toBytes(const QString& s)
{
    std::string out;
    out.reserve(static_cast<std::size_t>(s.size()));
    for (qsizetype i = 0; i < s.size(); ++i) {
        char32_t cp = s[i].unicode();
        if (QChar::isHighSurrogate(cp) && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(s[i], s[i + 1]);
            ++i;
        }
        const int code = cp1252::fromUnicode(cp);
        out.push_back(code < 0 ? '?' : static_cast<char>(code));
    }
    return out;
}

// 8-bit text to clipboard Unicode, line breaks as LF.
QString toClipboardText(std::string_view bytes)
{
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        out.append(QChar(static_cast<char16_t>(cp1252::toUnicode(b))));
    }
    return out;
}

bool isPrintableText(const QString& t)
{
    if (t.isEmpty()) {
        return false;
    }
    for (QChar c : t) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return false;
        }
    }
    return true;
}

} // namespace

struct MemoView::Impl {
    MemoView* q;
    MemoDocument doc;
    MemoLayout layout;

    QFont font;
    MemoLayout::Advances advances{};
    double tabWidth = 64.0;
    int lineHeight = 16;
    bool metricsValid = false;

    bool readOnly = false;
    bool caretOn = true;
    // The caret stands at the end of a soft-wrapped row rather than at the
    // start of the next one (after End, or a click past a row's end).
    bool caretAtRowEnd = false;
    double goalX = -1.0;

    MemoView::ClipboardWriter clipboardWriter;

    QBasicTimer blinkTimer;
    QBasicTimer scrollTimer;
    bool mouseSelecting = false;
    bool wordSelecting = false;
    std::pair<int, int> wordAnchor{0, 0};
    QPoint lastMousePos;

    explicit Impl(MemoView* view) : q(view) {}

    // --- Metrics and layout -------------------------------------------------

    void updateMetrics()
    {
        font = q->font();
        // Glyph advances must add up the way the row layout measures them:
        // no kerning, no ligatures.
        font.setKerning(false);
        font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
        const QFontMetricsF fm(font);
        const auto& table = displayTable();
        for (int b = 0; b < 256; ++b) {
            advances[static_cast<std::size_t>(b)] = fm.horizontalAdvance(table[static_cast<std::size_t>(b)]);
        }
        tabWidth = std::max(1.0, 8.0 * fm.averageCharWidth());
        lineHeight = std::max(1, static_cast<int>(std::ceil(fm.lineSpacing())));
        metricsValid = true;
    }

    double layoutWidth() const
    {
        const double minimum = 4.0 * tabWidth / 8.0;
        return std::max(minimum, static_cast<double>(q->viewport()->width() - 2 * kMargin));
    }

    int visibleRows() const { return std::max(1, q->viewport()->height() / lineHeight); }

    int topRow() const { return q->verticalScrollBar()->value(); }

    void updateScrollBar()
    {
        QScrollBar* bar = q->verticalScrollBar();
        const int rows = visibleRows();
        bar->setRange(0, std::max(0, layout.rowCount() - rows));
        bar->setPageStep(rows);
        bar->setSingleStep(1);
    }

    void ensureLayout()
    {
        if (!metricsValid) {
            updateMetrics();
        }
        const bool wasValid = layout.valid();
        const int topOffset = wasValid ? layout.rowStart(std::min(topRow(), layout.rowCount() - 1)) : -1;
        layout.setMetrics(advances, tabWidth, layoutWidth());
        if (!layout.valid()) {
            layout.layoutAll(doc.text());
            updateScrollBar();
            if (topOffset >= 0) {
                q->verticalScrollBar()->setValue(layout.rowOfOffset(topOffset));
            }
        }
    }

    // --- Rows ----------------------------------------------------------------

    QString rowString(int begin, int end) const
    {
        const auto& table = displayTable();
        const std::string& t = doc.text();
        QString s(end - begin, Qt::Uninitialized);
        QChar* out = s.data();
        for (int i = begin; i < end; ++i) {
            *out++ = table[static_cast<unsigned char>(t[static_cast<std::size_t>(i)])];
        }
        return s;
    }

    void buildRow(QTextLayout& tl, int row) const
    {
        const int begin = layout.rowStart(row);
        const int end = layout.rowEnd(doc.text(), row);
        tl.setText(rowString(begin, end));
        tl.setFont(font);
        QTextOption opt;
        opt.setWrapMode(QTextOption::NoWrap);
        opt.setTabStopDistance(tabWidth);
        opt.setTextDirection(Qt::LeftToRight);
        tl.setTextOption(opt);
        tl.setCacheEnabled(true);
        tl.beginLayout();
        QTextLine line = tl.createLine();
        if (line.isValid()) {
            line.setLineWidth(1.0e9);
            line.setPosition(QPointF(0, 0));
        }
        tl.endLayout();
    }

    // Paints the hexadecimal code of each boxed byte of a row over its space.
    void drawBoxedCodes(QPainter& painter, const QTextLayout& tl, const QPointF& origin, int begin, int end,
                        int selFrom, int selTo) const
    {
        const std::string& t = doc.text();
        const QTextLine line = tl.lineAt(0);
        if (!line.isValid()) {
            return;
        }
        bool any = false;
        for (int i = begin; i < end && !any; ++i) {
            any = isBoxedCode(static_cast<unsigned char>(t[static_cast<std::size_t>(i)]));
        }
        if (!any) {
            return;
        }
        painter.save();
        QFont small = font;
        small.setPointSizeF(std::max(4.0, font.pointSizeF() * 0.6));
        if (font.pointSizeF() <= 0) {
            small.setPixelSize(std::max(6, font.pixelSize() * 6 / 10));
        }
        painter.setFont(small);
        const QPalette& pal = q->palette();
        static const char hex[] = "0123456789ABCDEF";
        for (int i = begin; i < end; ++i) {
            const auto b = static_cast<unsigned char>(t[static_cast<std::size_t>(i)]);
            if (!isBoxedCode(b)) {
                continue;
            }
            const double x0 = line.cursorToX(i - begin);
            const double x1 = line.cursorToX(i - begin + 1);
            const QRectF box(origin.x() + x0 + 1.0, origin.y() + 2.0, std::max(2.0, x1 - x0 - 2.0),
                             std::max(2.0, lineHeight - 4.0));
            const bool selected = i >= selFrom && i < selTo;
            const QColor ink = pal.color(selected ? QPalette::HighlightedText : QPalette::Text);
            painter.setPen(QPen(ink, 1.0));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(box);
            const char label[3] = {hex[b >> 4], hex[b & 15], 0};
            painter.drawText(box, Qt::AlignCenter, QString::fromLatin1(label));
        }
        painter.restore();
    }

    // The row the caret shows on.
    int caretRow() const
    {
        const int caret = doc.caret();
        int row = layout.rowOfOffset(caret);
        if (caretAtRowEnd && row > 0 && layout.rowStart(row) == caret
            && layout.rowEnd(doc.text(), row - 1) == caret) {
            --row;
        }
        return row;
    }

    double xInRow(int row, int offset) const
    {
        QTextLayout tl;
        buildRow(tl, row);
        const QTextLine line = tl.lineAt(0);
        return line.isValid() ? line.cursorToX(offset - layout.rowStart(row)) : 0.0;
    }

    // Offset in `row` nearest to x (in text coordinates); sets whether it is
    // the end of a soft-wrapped row.
    int offsetInRow(int row, double x, bool* atSoftEnd = nullptr) const
    {
        QTextLayout tl;
        buildRow(tl, row);
        const QTextLine line = tl.lineAt(0);
        const int begin = layout.rowStart(row);
        const int end = layout.rowEnd(doc.text(), row);
        int off = begin + (line.isValid() ? line.xToCursor(x) : 0);
        off = std::clamp(off, begin, end);
        if (atSoftEnd != nullptr) {
            *atSoftEnd = off == end && row + 1 < layout.rowCount() && layout.rowStart(row + 1) == end;
        }
        return off;
    }

    int offsetAt(const QPoint& pos, bool* atSoftEnd) const
    {
        const int rowIndex = topRow() + static_cast<int>(std::floor(static_cast<double>(pos.y()) / lineHeight));
        if (rowIndex < 0) {
            *atSoftEnd = false;
            return 0;
        }
        if (rowIndex >= layout.rowCount()) {
            *atSoftEnd = false;
            return doc.length();
        }
        return offsetInRow(rowIndex, pos.x() - kMargin, atSoftEnd);
    }

    QRect caretRect() const
    {
        const int row = caretRow();
        const int y = (row - topRow()) * lineHeight;
        const int x = kMargin + static_cast<int>(std::floor(xInRow(row, doc.caret())));
        return QRect(x - 1, y, 3, lineHeight);
    }

    // --- Changes -------------------------------------------------------------

    void restartBlink()
    {
        caretOn = true;
        const int flash = QGuiApplication::styleHints()->cursorFlashTime();
        if (q->hasFocus() && flash > 0) {
            blinkTimer.start(flash / 2, q);
        } else {
            blinkTimer.stop();
        }
    }

    void ensureCaretVisible()
    {
        if (!q->isVisible()) {
            return;
        }
        ensureLayout();
        const int row = caretRow();
        QScrollBar* bar = q->verticalScrollBar();
        const int rows = visibleRows();
        if (row < bar->value()) {
            bar->setValue(row);
        } else if (row >= bar->value() + rows) {
            bar->setValue(row - rows + 1);
        }
    }

    // Brings layout, scroll bar, caret and signals up to date after a change.
    void changed(const MemoEdit* edit, int oldAnchor, int oldCaret, bool keepGoal = false)
    {
        const bool textChanged = edit != nullptr && (edit->removed != 0 || edit->inserted != 0);
        if (textChanged && layout.valid()) {
            layout.update(doc.text(), *edit);
            updateScrollBar();
        }
        if (!keepGoal) {
            goalX = -1.0;
        }
        restartBlink();
        ensureCaretVisible();
        q->viewport()->update();
        if (textChanged) {
            emit q->textChanged();
        }
        if (textChanged || oldAnchor != doc.anchor() || oldCaret != doc.caret()) {
            emit q->caretMoved();
        }
    }

    void edit(std::string_view bytes, MemoDocument::EditKind kind)
    {
        const int a = doc.anchor();
        const int c = doc.caret();
        caretAtRowEnd = false;
        const MemoEdit e = doc.replaceSelection(bytes, kind);
        changed(&e, a, c);
    }

    void removeRange(int from, int to, MemoDocument::EditKind kind)
    {
        const int a = doc.anchor();
        const int c = doc.caret();
        caretAtRowEnd = false;
        const MemoEdit e = doc.replace(from, to - from, {}, kind);
        changed(&e, a, c);
    }

    void moveTo(int caret, bool extend, bool atRowEnd = false, bool keepGoal = false)
    {
        const int a = doc.anchor();
        const int c = doc.caret();
        doc.setSelection(extend ? a : caret, caret);
        caretAtRowEnd = atRowEnd;
        changed(nullptr, a, c, keepGoal);
    }

    void moveRows(int delta, bool extend)
    {
        ensureLayout();
        const int row = caretRow();
        if (goalX < 0.0) {
            goalX = xInRow(row, doc.caret());
        }
        const int target = std::clamp(row + delta, 0, layout.rowCount() - 1);
        if (target == row) {
            // First or last row: Windows moves to the text's start or end only
            // for page keys; arrows stay.
            if (delta < -1 || delta > 1) {
                moveTo(delta < 0 ? layout.rowStart(row) : layout.rowEnd(doc.text(), row), extend);
            }
            return;
        }
        bool softEnd = false;
        const int off = offsetInRow(target, goalX, &softEnd);
        moveTo(off, extend, softEnd, true);
    }

    void autoScroll()
    {
        const QRect r = q->viewport()->rect();
        QScrollBar* bar = q->verticalScrollBar();
        if (lastMousePos.y() < r.top()) {
            bar->setValue(bar->value() - 1);
        } else if (lastMousePos.y() > r.bottom()) {
            bar->setValue(bar->value() + 1);
        }
        dragTo(lastMousePos);
    }

    void dragTo(const QPoint& pos)
    {
        QPoint p = pos;
        const QRect r = q->viewport()->rect();
        p.setY(std::clamp(p.y(), r.top(), r.bottom()));
        bool softEnd = false;
        int off = offsetAt(p, &softEnd);
        int anchor = doc.anchor();
        if (wordSelecting) {
            const auto w = doc.wordAt(off);
            if (off < wordAnchor.first) {
                anchor = wordAnchor.second;
                off = w.first;
            } else {
                anchor = wordAnchor.first;
                off = std::max(w.second, wordAnchor.second);
            }
            softEnd = false;
        }
        const int a = doc.anchor();
        const int c = doc.caret();
        doc.setSelection(anchor, off);
        caretAtRowEnd = softEnd;
        changed(nullptr, a, c);
    }
};

MemoView::MemoView(QWidget* parent) : QAbstractScrollArea(parent), d_(std::make_unique<Impl>(this))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

MemoView::~MemoView() = default;

// --- Text ---------------------------------------------------------------------

std::string MemoView::text() const
{
    return d_->doc.text();
}

void MemoView::setText(std::string_view bytes)
{
    d_->doc.setText(bytes);
    d_->layout.invalidate();
    d_->caretAtRowEnd = false;
    verticalScrollBar()->setValue(0);
    if (isVisible()) {
        d_->ensureLayout();
    }
    d_->goalX = -1.0;
    d_->restartBlink();
    viewport()->update();
    emit textChanged();
    emit caretMoved();
}

void MemoView::clear()
{
    if (d_->doc.length() == 0) {
        return;
    }
    d_->doc.setSelection(0, d_->doc.length());
    d_->edit({}, MemoDocument::EditKind::Other);
}

void MemoView::wipe()
{
    d_->mouseSelecting = false;
    d_->wordSelecting = false;
    d_->scrollTimer.stop();
    d_->doc.wipe();
    d_->layout.invalidate();
    d_->layout.layoutAll({});
    d_->caretAtRowEnd = false;
    d_->goalX = -1.0;
    d_->wordAnchor = {0, 0};
    verticalScrollBar()->setValue(0);
    d_->updateScrollBar();
    viewport()->update();
    emit textChanged();
    emit caretMoved();
}

int MemoView::textLength() const
{
    return d_->doc.length();
}

int MemoView::lineCount() const
{
    return d_->doc.lineCount();
}

std::string MemoView::line(int i) const
{
    return d_->doc.line(i);
}

int MemoView::lineLength(int i) const
{
    return d_->doc.lineLength(i);
}

std::vector<std::string> MemoView::lines() const
{
    return d_->doc.lines();
}

int MemoView::lineStart(int i) const
{
    const MemoDocument& doc = d_->doc;
    if (i <= 0) {
        return 0;
    }
    if (i >= doc.breakLineCount()) {
        return doc.length();
    }
    return doc.lineStart(i);
}

void MemoView::appendLine(std::string_view bytes)
{
    const std::string& t = d_->doc.text();
    std::string add;
    if (!t.empty() && t.back() != '\n') {
        add = "\r\n";
    }
    add.append(bytes);
    add.append("\r\n");
    d_->doc.setSelection(d_->doc.length(), d_->doc.length());
    d_->edit(add, MemoDocument::EditKind::Other);
    d_->doc.forgetUndo();
}

// --- Caret and selection --------------------------------------------------------

int MemoView::caretLine() const
{
    return d_->doc.lineOfOffset(d_->doc.caret());
}

int MemoView::caretColumn() const
{
    const int caret = d_->doc.caret();
    return caret - d_->doc.lineStart(d_->doc.lineOfOffset(caret));
}

int MemoView::caretOffset() const
{
    return d_->doc.caret();
}

int MemoView::selStart() const
{
    return d_->doc.selStart();
}

int MemoView::selLength() const
{
    return d_->doc.selEnd() - d_->doc.selStart();
}

void MemoView::setSelection(int start, int length)
{
    const int a = d_->doc.anchor();
    const int c = d_->doc.caret();
    start = std::clamp(start, 0, d_->doc.length());
    const long long end = static_cast<long long>(start) + length;
    d_->doc.setSelection(start, static_cast<int>(std::clamp<long long>(end, 0, d_->doc.length())));
    d_->caretAtRowEnd = false;
    d_->changed(nullptr, a, c);
}

bool MemoView::hasSelection() const
{
    return d_->doc.hasSelection();
}

std::string MemoView::selectedText() const
{
    return d_->doc.selectedText();
}

void MemoView::ensureCaretVisible()
{
    d_->ensureCaretVisible();
}

// --- Editing ---------------------------------------------------------------------

void MemoView::cut()
{
    if (d_->readOnly || !d_->doc.hasSelection()) {
        return;
    }
    copy();
    deleteSelection();
}

void MemoView::copy()
{
    if (!d_->doc.hasSelection()) {
        return;
    }
    std::string bytes = d_->doc.selectedText();
    auto* mime = new QMimeData;
    mime->setText(toClipboardText(bytes));
    mime->setData(QString::fromLatin1(kBytesMime), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    sealed::Wipe(bytes);
    if (d_->clipboardWriter) {
        d_->clipboardWriter(mime);
    } else {
        QGuiApplication::clipboard()->setMimeData(mime);
    }
}

void MemoView::setClipboardWriter(ClipboardWriter writer)
{
    d_->clipboardWriter = std::move(writer);
}

void MemoView::paste()
{
    if (d_->readOnly) {
        return;
    }
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (mime == nullptr) {
        return;
    }
    std::string bytes;
    const QString bytesType = QString::fromLatin1(kBytesMime);
    if (mime->hasFormat(bytesType)) {
        const QByteArray raw = mime->data(bytesType);
        bytes.assign(raw.constData(), static_cast<std::size_t>(raw.size()));
    } else if (mime->hasText()) {
        bytes = toBytes(mime->text());
    }
    if (bytes.empty()) {
        return;
    }
    d_->edit(bytes, MemoDocument::EditKind::Other);
}

bool MemoView::clipboardHasText()
{
    // The main window asks this every few milliseconds; reading a large
    // clipboard that often would be costly, so the answer is kept until the
    // clipboard changes.
    static bool known = false;
    static bool hasText = false;
    static QMetaObject::Connection watch;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!watch) {
        watch = QObject::connect(clipboard, &QClipboard::dataChanged, clipboard, [] { known = false; });
    }
    if (!known) {
        hasText = false;
        if (const QMimeData* mime = clipboard->mimeData()) {
            const QString bytesType = QString::fromLatin1(kBytesMime);
            if (mime->hasFormat(bytesType)) {
                hasText = !mime->data(bytesType).isEmpty();
            } else {
                hasText = mime->hasText() && !mime->text().isEmpty();
            }
        }
        known = true;
    }
    return hasText;
}

void MemoView::deleteSelection()
{
    if (d_->readOnly || !d_->doc.hasSelection()) {
        return;
    }
    d_->edit({}, MemoDocument::EditKind::Other);
}

void MemoView::selectAll()
{
    const int a = d_->doc.anchor();
    const int c = d_->doc.caret();
    d_->doc.setSelection(0, d_->doc.length());
    d_->caretAtRowEnd = false;
    d_->changed(nullptr, a, c);
}

void MemoView::undo()
{
    if (d_->readOnly || !d_->doc.canUndo()) {
        return;
    }
    const int a = d_->doc.anchor();
    const int c = d_->doc.caret();
    d_->caretAtRowEnd = false;
    const MemoEdit e = d_->doc.undo();
    d_->changed(&e, a, c);
}

bool MemoView::canUndo() const
{
    return d_->doc.canUndo();
}

void MemoView::replaceSelection(std::string_view bytes)
{
    d_->edit(bytes, MemoDocument::EditKind::Other);
}

void MemoView::setReadOnly(bool readOnly)
{
    d_->readOnly = readOnly;
}

bool MemoView::isReadOnly() const
{
    return d_->readOnly;
}

void MemoView::setBusy(bool busy)
{
    viewport()->setCursor(busy ? Qt::WaitCursor : Qt::IBeamCursor);
}

// --- Events ----------------------------------------------------------------------

namespace {

// Keys the view handles itself, so that window shortcuts on the same keys do
// not take them away while the memo has the focus.
bool isEditingKey(QKeyEvent* e)
{
    if (e == QKeySequence::Copy || e == QKeySequence::Cut || e == QKeySequence::Paste
        || e == QKeySequence::Undo || e == QKeySequence::SelectAll) {
        return true;
    }
    switch (e->key()) {
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
    case Qt::Key_Home: case Qt::Key_End: case Qt::Key_PageUp: case Qt::Key_PageDown:
    case Qt::Key_Backspace: case Qt::Key_Delete: case Qt::Key_Return: case Qt::Key_Enter:
        return (e->modifiers() & Qt::AltModifier) == 0;
    default:
        break;
    }
    const bool ctrl = (e->modifiers() & Qt::ControlModifier) != 0;
    const bool alt = (e->modifiers() & Qt::AltModifier) != 0;
    return isPrintableText(e->text()) && (!ctrl || alt) && !(alt && !ctrl);
}

bool producesCharacter(QKeyEvent* e)
{
    switch (e->key()) {
    case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Backspace:
        return true;
    default:
        break;
    }
    const bool ctrl = (e->modifiers() & Qt::ControlModifier) != 0;
    const bool alt = (e->modifiers() & Qt::AltModifier) != 0;
    // Ctrl+Alt is AltGr on Windows and types a character.
    return isPrintableText(e->text()) && (!ctrl || alt);
}

} // namespace

bool MemoView::event(QEvent* e)
{
    switch (e->type()) {
    case QEvent::ShortcutOverride: {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (isEditingKey(ke)) {
            ke->accept();
            return true;
        }
        break;
    }
    case QEvent::Show: {
        const bool result = QAbstractScrollArea::event(e);
        d_->ensureLayout();
        d_->ensureCaretVisible();
        return result;
    }
    default:
        break;
    }
    return QAbstractScrollArea::event(e);
}

void MemoView::paintEvent(QPaintEvent* e)
{
    Impl& d = *d_;
    d.ensureLayout();
    QPainter painter(viewport());
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::Text));
    painter.setFont(d.font);

    const QRect area = e->rect();
    const int top = d.topRow();
    const int first = top + std::max(0, area.top() / d.lineHeight);
    const int last = std::min(d.layout.rowCount() - 1, top + area.bottom() / d.lineHeight);
    const int selFrom = d.doc.selStart();
    const int selTo = d.doc.selEnd();
    const int caretRow = hasFocus() && d.caretOn ? d.caretRow() : -1;

    QTextCharFormat selFormat;
    selFormat.setBackground(pal.brush(QPalette::Highlight));
    selFormat.setForeground(pal.brush(QPalette::HighlightedText));

    for (int row = first; row <= last; ++row) {
        const int begin = d.layout.rowStart(row);
        const int end = d.layout.rowEnd(d.doc.text(), row);
        QTextLayout tl;
        d.buildRow(tl, row);
        QVector<QTextLayout::FormatRange> selections;
        const int from = std::max(selFrom, begin);
        const int to = std::min(selTo, end);
        if (from < to) {
            selections.append(QTextLayout::FormatRange{from - begin, to - from, selFormat});
        }
        const QPointF origin(kMargin, (row - top) * d.lineHeight);
        tl.draw(&painter, origin, selections);
        d.drawBoxedCodes(painter, tl, origin, begin, end, selFrom, selTo);
        if (row == caretRow) {
            const QTextLine line = tl.lineAt(0);
            const double x = line.isValid() ? line.cursorToX(d.doc.caret() - begin) : 0.0;
            painter.fillRect(QRectF(origin.x() + std::floor(x), origin.y(), 1.0, d.lineHeight),
                             pal.color(QPalette::Text));
        }
    }
}

void MemoView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    // A new width re-wraps the text at the next paint, so that the many resize
    // events of a window drag cost one layout per frame, not one each.
    if (d_->layout.valid() && d_->layout.width() == d_->layoutWidth()) {
        d_->updateScrollBar();
    }
    viewport()->update();
}

void MemoView::keyPressEvent(QKeyEvent* e)
{
    Impl& d = *d_;
    emit keyPressed(e->key(), producesCharacter(e));

    const bool shift = (e->modifiers() & Qt::ShiftModifier) != 0;
    const bool ctrl = (e->modifiers() & Qt::ControlModifier) != 0;
    const bool alt = (e->modifiers() & Qt::AltModifier) != 0;
    MemoDocument& doc = d.doc;

    if (e == QKeySequence::Copy) {
        copy();
        return;
    }
    if (e == QKeySequence::Cut) {
        cut();
        return;
    }
    if (e == QKeySequence::Paste) {
        paste();
        return;
    }
    if (e == QKeySequence::Undo) {
        undo();
        return;
    }
    if (e == QKeySequence::SelectAll) {
        selectAll();
        return;
    }

    if (!alt) {
        switch (e->key()) {
        case Qt::Key_Left:
            d.moveTo(ctrl ? doc.prevWord(doc.caret())
                          : (!shift && doc.hasSelection() ? doc.selStart() : doc.prevPos(doc.caret())),
                     shift);
            return;
        case Qt::Key_Right:
            d.moveTo(ctrl ? doc.nextWord(doc.caret())
                          : (!shift && doc.hasSelection() ? doc.selEnd() : doc.nextPos(doc.caret())),
                     shift);
            return;
        case Qt::Key_Up:
            d.moveRows(-1, shift);
            return;
        case Qt::Key_Down:
            d.moveRows(1, shift);
            return;
        case Qt::Key_PageUp:
            verticalScrollBar()->setValue(verticalScrollBar()->value() - d.visibleRows());
            d.moveRows(-d.visibleRows(), shift);
            return;
        case Qt::Key_PageDown:
            verticalScrollBar()->setValue(verticalScrollBar()->value() + d.visibleRows());
            d.moveRows(d.visibleRows(), shift);
            return;
        case Qt::Key_Home:
            if (ctrl) {
                d.moveTo(0, shift);
            } else {
                d.ensureLayout();
                d.moveTo(d.layout.rowStart(d.caretRow()), shift);
            }
            return;
        case Qt::Key_End:
            if (ctrl) {
                d.moveTo(doc.length(), shift);
            } else {
                d.ensureLayout();
                const int row = d.caretRow();
                const int end = d.layout.rowEnd(doc.text(), row);
                const bool soft = row + 1 < d.layout.rowCount() && d.layout.rowStart(row + 1) == end;
                d.moveTo(end, shift, soft);
            }
            return;
        case Qt::Key_Backspace:
            if (d.readOnly) {
                return;
            }
            if (doc.hasSelection()) {
                d.edit({}, MemoDocument::EditKind::Other);
            } else if (doc.caret() > 0) {
                const int from = ctrl ? doc.prevWord(doc.caret()) : doc.prevPos(doc.caret());
                d.removeRange(from, doc.caret(), ctrl ? MemoDocument::EditKind::Other : MemoDocument::EditKind::Backspace);
            } else {
                return;
            }
            emit characterTyped();
            return;
        case Qt::Key_Delete:
            if (d.readOnly) {
                return;
            }
            if (shift && doc.hasSelection()) {
                cut();
            } else if (doc.hasSelection()) {
                d.edit({}, MemoDocument::EditKind::Other);
            } else if (doc.caret() < doc.length()) {
                const int to = ctrl ? doc.nextWord(doc.caret()) : doc.nextPos(doc.caret());
                d.removeRange(doc.caret(), to, ctrl ? MemoDocument::EditKind::Other : MemoDocument::EditKind::Delete);
            }
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (d.readOnly) {
                return;
            }
            d.edit("\r\n", MemoDocument::EditKind::Typing);
            emit characterTyped();
            return;
        case Qt::Key_Tab:
            // Tab moves the focus (handled by QWidget); Ctrl+Tab types a tab.
            if (ctrl && !d.readOnly) {
                d.edit("\t", MemoDocument::EditKind::Typing);
                emit characterTyped();
                return;
            }
            break;
        default:
            break;
        }
    }

    if (producesCharacter(e)) {
        if (!d.readOnly) {
            d.edit(toBytes(e->text()), MemoDocument::EditKind::Typing);
            emit characterTyped();
        }
        return;
    }
    e->ignore();
}

void MemoView::inputMethodEvent(QInputMethodEvent* e)
{
    if (!d_->readOnly && !e->commitString().isEmpty()) {
        d_->edit(toBytes(e->commitString()), MemoDocument::EditKind::Typing);
        emit characterTyped();
    }
    e->accept();
}

QVariant MemoView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return d_->layout.valid() ? QVariant(d_->caretRect()) : QVariant(QRect());
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void MemoView::mousePressEvent(QMouseEvent* e)
{
    Impl& d = *d_;
    emit mousePressed();
    if (e->button() != Qt::LeftButton) {
        return;
    }
    d.ensureLayout();
    bool softEnd = false;
    const int off = d.offsetAt(e->position().toPoint(), &softEnd);
    const bool shift = (e->modifiers() & Qt::ShiftModifier) != 0;
    d.mouseSelecting = true;
    d.wordSelecting = false;
    d.lastMousePos = e->position().toPoint();
    d.moveTo(off, shift, softEnd);
}

void MemoView::mouseMoveEvent(QMouseEvent* e)
{
    Impl& d = *d_;
    if (!d.mouseSelecting || (e->buttons() & Qt::LeftButton) == 0) {
        return;
    }
    d.lastMousePos = e->position().toPoint();
    if (viewport()->rect().contains(d.lastMousePos)) {
        d.scrollTimer.stop();
    } else if (!d.scrollTimer.isActive()) {
        d.scrollTimer.start(50, this);
    }
    d.dragTo(d.lastMousePos);
}

void MemoView::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        d_->mouseSelecting = false;
        d_->wordSelecting = false;
        d_->scrollTimer.stop();
    }
}

void MemoView::mouseDoubleClickEvent(QMouseEvent* e)
{
    Impl& d = *d_;
    emit mousePressed();
    if (e->button() != Qt::LeftButton) {
        return;
    }
    d.ensureLayout();
    bool softEnd = false;
    const int off = d.offsetAt(e->position().toPoint(), &softEnd);
    const auto word = d.doc.wordAt(off);
    d.wordAnchor = word;
    d.mouseSelecting = true;
    d.wordSelecting = true;
    const int a = d.doc.anchor();
    const int c = d.doc.caret();
    d.doc.setSelection(word.first, word.second);
    d.caretAtRowEnd = false;
    d.changed(nullptr, a, c);
}

void MemoView::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    d_->restartBlink();
    viewport()->update();
    emit focusReceived();
}

void MemoView::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    d_->blinkTimer.stop();
    d_->caretOn = false;
    viewport()->update();
}

void MemoView::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        d_->metricsValid = false;
        d_->layout.invalidate();
        if (isVisible()) {
            d_->ensureLayout();
        }
        viewport()->update();
    } else if (e->type() == QEvent::EnabledChange || e->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}

void MemoView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void MemoView::timerEvent(QTimerEvent* e)
{
    Impl& d = *d_;
    if (e->timerId() == d.blinkTimer.timerId()) {
        d.caretOn = !d.caretOn;
        if (d.layout.valid()) {
            viewport()->update(d.caretRect());
        }
    } else if (e->timerId() == d.scrollTimer.timerId()) {
        d.autoScroll();
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

} // namespace tq
