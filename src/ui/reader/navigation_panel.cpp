#include "ui/reader/navigation_panel.h"

#include "core/book/book_text.h"
#include "core/library/book_companions.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr int kOffsetRole = Qt::UserRole;

QByteArrayView bytesOf(const BookText& text) {
    return {reinterpret_cast<const char*>(text.bytes()), text.length()};
}

// The change that makes `after` of `before`; none when either is held wide.
TextChange changeBetween(const BookText& before, const BookText& after) {
    if (before.isWide() || after.isWide())
        return {};
    return TextChange::between(bytesOf(before), bytesOf(after));
}

// Takes a worker that has finished: false when there is none or it still runs (the
// report of one stopped before may come after another has started).
bool collect(QThread*& worker) {
    if (!worker || !worker->isFinished())
        return false;
    worker->wait();
    delete worker;
    worker = nullptr;
    return true;
}

// Stops a worker: its stop flag set, waited for.
void stopWorker(QThread*& worker, std::atomic<bool>& stop) {
    if (!worker)
        return;
    stop = true;
    worker->wait();
    delete worker;
    worker = nullptr;
    stop = false;
}

// The relative luminance of a colour (sRGB), and the contrast ratio of two colours, as
// the accessibility guidelines measure legibility: 1 (none) to 21 (black on white).
double luminance(const QColor& colour) {
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
           0.0722 * channel(rgb.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double x = luminance(a);
    const double y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// `from` moved `share` (0…1) of the way to `to`.
QColor mix(const QColor& from, const QColor& to, double share) {
    const QColor a = from.toRgb();
    const QColor b = to.toRgb();
    const auto blend = [share](int x, int y) { return int(std::lround(x + (y - x) * share)); };
    return QColor(blend(a.red(), b.red()), blend(a.green(), b.green()), blend(a.blue(), b.blue()));
}

} // namespace

NavigationPanel::NavigationPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("NavigationPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs);

    m_contents = new QTreeWidget(m_tabs);
    m_contents->setObjectName(QStringLiteral("Contents"));
    m_contents->setColumnCount(2);
    m_contents->setHeaderHidden(true);
    m_contents->setRootIsDecorated(true);
    m_contents->setUniformRowHeights(true);
    m_contents->header()->setStretchLastSection(false);
    m_contents->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    // The percentages' column as wide as the widest, «100 %»: measuring the rows
    // themselves costs a thousand of them at each showing.
    m_contents->header()->setSectionResizeMode(1, QHeaderView::Fixed);
    m_contents->setAccessibleName(QStringLiteral("Содержание"));
    m_contents->installEventFilter(this);
    fitPercentColumn();
    m_tabs->addTab(m_contents, QStringLiteral("Содержание"));

    auto* page = new QWidget(m_tabs);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    m_note = new QLabel(page);
    m_note->setWordWrap(true);
    m_note->hide();
    pageLayout->addWidget(m_note);
    m_bookmarkList = new QListWidget(page);
    m_bookmarkList->setObjectName(QStringLiteral("Bookmarks"));
    m_bookmarkList->setAccessibleName(QStringLiteral("Закладки"));
    m_bookmarkList->setEditTriggers(QAbstractItemView::EditKeyPressed);
    m_bookmarkList->installEventFilter(this);
    pageLayout->addWidget(m_bookmarkList);
    m_tabs->addTab(page, QStringLiteral("Закладки"));

    connect(m_tabs, &QTabWidget::tabBarClicked, this, [this] {
        QMetaObject::invokeMethod(this, &NavigationPanel::tabChanged, Qt::QueuedConnection);
    });
    connect(m_contents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { activateContents(item); });
    connect(m_bookmarkList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { activateBookmark(item); });
    connect(m_bookmarkList, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (m_filling)
            return;
        const int row = m_bookmarkList->row(item);
        const QString name = item->text().simplified();
        if (name.isEmpty() || row < 0) {
            fillBookmarks();
            return;
        }
        m_bookmarks.rename(row, name);
        saveBookmarks();
    });
}

void NavigationPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitPercentColumn();
}

void NavigationPanel::fitPercentColumn() {
    const int margin =
        m_contents->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_contents) + 1;
    m_contents->header()->resizeSection(
        1, m_contents->fontMetrics().horizontalAdvance(QStringLiteral("100 %")) + 4 * margin);
}

NavigationPanel::~NavigationPanel() {
    stopRescan();
    stopDetection();
}

QString NavigationPanel::notFoundText() {
    return QStringLiteral("Оглавление не найдено");
}

void NavigationPanel::stopDetection() {
    stopWorker(m_worker, m_stop);
}

void NavigationPanel::setBook(std::shared_ptr<const BookText> text, const QString& contentsPath,
                              const QString& bookmarksPath, const QString& path) {
    stopRescan();
    stopDetection();
    m_text = std::move(text);
    m_editedLength = -1;
    m_edit = TextChange();
    m_earlyChanges.clear();
    m_kept = false;
    m_path = path;
    m_contentsPath = contentsPath;
    m_bookmarksPath = bookmarksPath;
    m_headings.clear();
    m_headingsKnown = false;
    m_bookmarks = Bookmarks();
    m_stampKnown = false;
    m_bookmarksChanged = false;
    m_note->hide();
    m_marked = -1;
    fillContents();
    fillBookmarks();
    if (m_text || !m_path.isEmpty())
        startDetection();
}

void NavigationPanel::startDetection() {
    // The stamp, the kept files and the scan of the text all run on a worker thread:
    // a 52 MB book costs a fraction of a second there and nothing here.
    m_worker = QThread::create(
        [this, given = m_text, path = m_path, contents = m_contentsPath, marks = m_bookmarksPath] {
            std::shared_ptr<const BookText> text = given;
            if (!text) {
                try {
                    text = std::make_shared<const BookText>(BookText::readFile(path));
                } catch (...) {
                    text = std::make_shared<const BookText>();
                }
            }
            m_read = text;
            m_stamp = BookStamp::of(*text);
            std::optional<BookMarkup> kept;
            if (!contents.isEmpty() && !text->isWide()) {
                const QByteArrayView bytes(reinterpret_cast<const char*>(text->bytes()),
                                           text->length());
                kept = BookCompanions::readContents(contents, bytes);
            }
            m_foundEmphasis = kept ? kept->emphasis : std::vector<Emphasis>();
            m_foundKept = kept && !kept->headings.empty();
            if (m_foundKept)
                m_found = kept->headings;
            else
                m_found = HeadingDetector::detect(*text, &m_stop);
            m_loaded = marks.isEmpty() ? Bookmarks() : Bookmarks::load(marks, *text, &m_dropped);
        });
    connect(m_worker, &QThread::finished, this, &NavigationPanel::detectionDone,
            Qt::QueuedConnection);
    m_worker->start(QThread::LowPriority);
}

void NavigationPanel::detectionDone() {
    if (!collect(m_worker))
        return;
    // Read in the text as opened: edits made meanwhile move them into the text shown.
    auto markup = std::make_shared<BookMarkup>(
        BookMarkup{std::exchange(m_found, {}), std::exchange(m_foundEmphasis, {})});
    for (const TextChange& change : std::exchange(m_earlyChanges, {}))
        markup->apply(change);
    m_headings = markup->headings;
    Q_EMIT markupFound(std::move(markup));
    m_text = std::exchange(m_read, nullptr);
    m_kept = m_foundKept;
    m_headingsKnown = true;
    m_stampKnown = true;
    // Bookmarks made while the files were being read join those kept.
    Bookmarks made = std::move(m_bookmarks);
    m_bookmarks = std::move(m_loaded);
    for (const Bookmark& b : made.list())
        m_bookmarks.add(b);
    if (m_dropped > 0) {
        m_note->setText(QStringLiteral("Книга изменена другой программой: закладок не найдено "
                                       "— %1.")
                            .arg(m_dropped));
        m_note->show();
        m_dropped = 0;
    }
    if (m_bookmarksChanged)
        saveBookmarks();
    fillContents();
    fillBookmarks();
    setTopOffset(m_top);
    // Edits made while the book's files were being read.
    if (m_pendingRead)
        startRescan();
}

void NavigationPanel::followEditing(std::function<BookText()> read) {
    m_pendingRead = std::make_shared<std::function<BookText()>>(std::move(read));
    if (m_worker)
        return; // read once the book's own files are
    if (m_rescan) {
        m_rescanStop = true; // read again once the worker stops
        return;
    }
    startRescan();
}

void NavigationPanel::startRescan() {
    const std::shared_ptr<std::function<BookText()>> read = std::exchange(m_pendingRead, nullptr);
    if (!read || !m_text || !m_headingsKnown)
        return;
    m_rescanStop = false;
    m_rescanComplete = false;
    // The text is made, compared and scanned on a worker thread: for a 52 MB book that is
    // a fraction of a second there and nothing here.
    m_rescan = QThread::create([this, read, saved = m_text, kept = m_kept] {
        const BookText edited = (*read)();
        if (m_rescanStop)
            return;
        const TextChange edit = changeBetween(*saved, edited);
        // The import's headings are never looked for: they follow the edits as made.
        std::vector<Heading> found;
        if (!kept)
            found = HeadingDetector::detect(edited, &m_rescanStop);
        if (m_rescanStop)
            return;
        m_rescannedLength = edited.length();
        m_rescannedHeadings = std::move(found);
        m_rescannedEdit = edit;
        m_rescanComplete = true;
    });
    connect(m_rescan, &QThread::finished, this, &NavigationPanel::rescanDone, Qt::QueuedConnection);
    m_rescan->start(QThread::LowPriority);
}

void NavigationPanel::rescanDone() {
    if (!collect(m_rescan))
        return;
    if (m_rescanComplete) {
        m_rescanComplete = false;
        m_editedLength = std::exchange(m_rescannedLength, -1);
        m_edit = m_rescannedEdit;
        // The kept headings only take the percentages of the new length.
        showHeadings(m_kept ? m_headings : std::exchange(m_rescannedHeadings, {}));
        // A heading typed or taken away in a plain text is shown as one, or no longer, in
        // the view; headings that only moved are moved there by the edits themselves.
        if (!m_kept && m_contentsRefilled)
            Q_EMIT headingsFound(m_headings);
        // The bookmarks' marks stand where their lines now are.
        Q_EMIT bookmarksChanged();
    }
    m_rescannedLength = -1;
    startRescan();
}

void NavigationPanel::stopRescan() {
    m_pendingRead.reset();
    stopWorker(m_rescan, m_rescanStop);
    m_rescanComplete = false;
    m_rescannedLength = -1;
    m_rescannedHeadings.clear();
}

void NavigationPanel::showHeadings(std::vector<Heading> headings) {
    const bool sameRows = !headings.empty() && headings.size() == m_items.size() &&
                          std::equal(headings.begin(), headings.end(), m_headings.begin(),
                                     [](const Heading& a, const Heading& b) {
                                         return a.rank == b.rank && a.title == b.title;
                                     });
    m_headings = std::move(headings);
    m_headingsKnown = true;
    m_contentsRefilled = !sameRows;
    if (!sameRows) {
        fillContents();
    } else {
        // The same headings in new places: their rows stay, the percentages follow.
        for (size_t i = 0; i < m_items.size(); ++i) {
            m_items[i]->setData(0, kOffsetRole, qlonglong(m_headings[i].offset));
            m_items[i]->setText(1, percentOf(m_headings[i].offset));
        }
    }
    setTopOffset(m_top);
}

qsizetype NavigationPanel::savedPlace(qsizetype place) const {
    const TextChange back{m_edit.offset, m_edit.inserted, m_edit.removed};
    return back.moved(place);
}

qsizetype NavigationPanel::editedLength() const {
    return m_editedLength >= 0 ? m_editedLength : m_text ? m_text->length() : 0;
}

void NavigationPanel::followChanges(const std::vector<TextChange>& changes,
                                    const std::vector<Heading>* shown) {
    if (!m_headingsKnown) {
        // Edits made while the book's own files are read: the kept headings follow them
        // once known.
        m_earlyChanges.insert(m_earlyChanges.end(), changes.begin(), changes.end());
        return;
    }
    if (!m_kept || changes.empty())
        return;
    if (shown) {
        showHeadings(*shown);
        return;
    }
    BookMarkup markup;
    markup.headings = m_headings; // showHeadings compares with those shown
    for (const TextChange& change : changes)
        markup.apply(change);
    showHeadings(std::move(markup.headings));
}

QString NavigationPanel::percentOf(qsizetype offset) const {
    const qsizetype length = editedLength();
    return QStringLiteral("%1 %").arg(length > 0 ? int(offset * 100 / length) : 0);
}

void NavigationPanel::fillContents() {
    m_contents->clear();
    m_items.clear();
    m_marked = -1;
    if (!m_text || !m_headingsKnown)
        return;
    if (m_headings.empty()) {
        // No headings: the tenths of the book as places.
        auto* none = new QTreeWidgetItem(m_contents, {notFoundText()});
        none->setFlags(Qt::ItemIsEnabled);
        for (int tenth = 0; tenth < 10; ++tenth) {
            const qsizetype offset = editedLength() * tenth / 10;
            auto* item = new QTreeWidgetItem(m_contents, {QStringLiteral("%1 %").arg(tenth * 10)});
            item->setData(0, kOffsetRole, qlonglong(offset));
        }
        return;
    }
    std::vector<std::pair<int, QTreeWidgetItem*>> open; // rank, item
    for (const Heading& h : m_headings) {
        while (!open.empty() && open.back().first >= h.rank)
            open.pop_back();
        const QStringList columns{h.title, percentOf(h.offset)};
        auto* item = open.empty() ? new QTreeWidgetItem(m_contents, columns)
                                  : new QTreeWidgetItem(open.back().second, columns);
        item->setData(0, kOffsetRole, qlonglong(h.offset));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(0, h.title);
        open.emplace_back(h.rank, item);
        m_items.push_back(item);
    }
    m_contents->expandAll();
    // The rows are laid out now, once, rather than when the panel is shown.
    m_contents->doItemsLayout();
}

void NavigationPanel::fillBookmarks() {
    m_filling = true;
    m_bookmarkList->clear();
    for (const Bookmark& b : m_bookmarks.list()) {
        auto* item = new QListWidgetItem(b.name, m_bookmarkList);
        item->setToolTip(percentOf(b.offset));
        item->setData(kOffsetRole, qlonglong(b.offset));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    m_filling = false;
    Q_EMIT bookmarksChanged();
}

void NavigationPanel::saveBookmarks() {
    if (!m_stampKnown) {
        m_bookmarksChanged = true;
        return;
    }
    m_bookmarksChanged = false;
    if (!m_bookmarksPath.isEmpty())
        m_bookmarks.save(m_bookmarksPath, m_stamp);
}

qsizetype NavigationPanel::nextHeading(qsizetype offset) const {
    const auto it = std::upper_bound(m_headings.begin(), m_headings.end(), offset,
                                     [](qsizetype at, const Heading& h) { return at < h.offset; });
    return it == m_headings.end() ? -1 : it->offset;
}

qsizetype NavigationPanel::previousHeading(qsizetype offset) const {
    const auto it = std::lower_bound(m_headings.begin(), m_headings.end(), offset,
                                     [](const Heading& h, qsizetype at) { return h.offset < at; });
    return it == m_headings.begin() ? -1 : std::prev(it)->offset;
}

void NavigationPanel::setTopOffset(qsizetype offset) {
    m_top = offset;
    const auto it = std::upper_bound(m_headings.begin(), m_headings.end(), offset,
                                     [](qsizetype at, const Heading& h) { return at < h.offset; });
    const int index = it == m_headings.begin() ? -1 : int(it - m_headings.begin()) - 1;
    if (index == m_marked || size_t(index + 1) > m_items.size() + 1)
        return;
    if (m_marked >= 0 && size_t(m_marked) < m_items.size()) {
        QFont font = m_items[size_t(m_marked)]->font(0);
        font.setBold(false);
        m_items[size_t(m_marked)]->setFont(0, font);
        m_items[size_t(m_marked)]->setFont(1, font);
    }
    m_marked = index;
    if (index < 0 || size_t(index) >= m_items.size())
        return;
    QTreeWidgetItem* item = m_items[size_t(index)];
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
    item->setFont(1, font);
    if (!m_contents->hasFocus())
        m_contents->setCurrentItem(item);
    m_contents->scrollToItem(item);
}

void NavigationPanel::addBookmark(qsizetype offset) {
    if (!m_text)
        return;
    // Named after what is shown, kept at its place of the text as saved.
    const qsizetype saved = savedPlace(offset);
    // The words shown there: the edited text's, else the saved one's at the same place.
    const QString shown =
        m_editedSource
            ? m_editedSource(offset, offset + Bookmarks::kNameSpan)
            : m_text->text(saved, std::min(m_text->length(), saved + Bookmarks::kNameSpan));
    const Bookmark mark{saved, Bookmarks::nameFor(shown, offset, m_headings),
                        Bookmarks::wordsAt(*m_text, saved)};
    const int row = m_bookmarks.add(mark);
    fillBookmarks();
    m_bookmarkList->setCurrentRow(row);
    saveBookmarks();
}

BookStamp NavigationPanel::letTextGo() {
    stopRescan();
    stopDetection();
    m_read.reset();
    const BookStamp stamp = m_stampKnown ? m_stamp : m_text ? BookStamp::of(*m_text) : BookStamp();
    m_text.reset();
    return stamp;
}

void NavigationPanel::followEdit(const TextChange& change, std::shared_ptr<const BookText> text) {
    stopRescan();
    stopDetection();
    // Kept headings followed each edit, so stand in the text saved; a plain text's were
    // read in the edited text, near enough until they are read in the saved one below.
    // Only headings that followed no edit move with the save's change.
    if (!m_kept && !hasEdits()) {
        BookMarkup markup;
        markup.headings = std::move(m_headings);
        markup.apply(change);
        m_headings = std::move(markup.headings);
    }
    m_text = std::move(text);
    m_editedLength = -1;
    m_edit = TextChange();
    m_bookmarks.apply(change);
    m_stamp = BookStamp::of(*m_text);
    m_stampKnown = true;
    m_headingsKnown = true;
    saveBookmarks();
    fillContents();
    fillBookmarks();
    m_marked = -1;
    setTopOffset(m_top);
    // A plain text's headings are found anew in the text saved: edits made since the
    // last reading of the edited text are in it.
    if (!m_kept)
        followEditing([saved = m_text] { return *saved; });
}

QPalette NavigationPanel::paletteFor(const QColor& text, const QColor& background) {
    // Words too close to the background are drawn in black or white, whichever reads.
    QColor ink = text;
    if (contrast(ink, background) < 4.5)
        ink = contrast(Qt::black, background) >= contrast(Qt::white, background)
                  ? QColor(Qt::black)
                  : QColor(Qt::white);
    const QColor tab = mix(background, ink, 0.08);
    const QColor faint = mix(background, ink, 0.5);
    QPalette palette = QApplication::palette();
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        palette.setColor(group, QPalette::Window, tab);
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::AlternateBase, tab);
        palette.setColor(group, QPalette::Button, tab);
        for (const QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
            palette.setColor(group, role, disabled ? faint : ink);
        palette.setColor(group, QPalette::PlaceholderText, faint);
        // The selection in the text colour, its words in the background's: as legible as
        // the text itself, and plain on any background.
        palette.setColor(group, QPalette::Highlight, mix(background, ink, 0.85));
        palette.setColor(group, QPalette::HighlightedText, background);
        palette.setColor(group, QPalette::Light, mix(tab, ink, 0.25));
        palette.setColor(group, QPalette::Midlight, mix(tab, ink, 0.15));
        palette.setColor(group, QPalette::Mid, mix(tab, ink, 0.35));
        palette.setColor(group, QPalette::Dark, mix(tab, ink, 0.5));
        palette.setColor(group, QPalette::Shadow, mix(tab, ink, 0.7));
        palette.setColor(group, QPalette::ToolTipBase, background);
        palette.setColor(group, QPalette::ToolTipText, ink);
    }
    return palette;
}

void NavigationPanel::setColours(const QColor& text, const QColor& background) {
    if (m_colours[0] == text.rgba() && m_colours[1] == background.rgba())
        return;
    m_colours[0] = text.rgba();
    m_colours[1] = background.rgba();
    setPalette(paletteFor(text, background));
    setAutoFillBackground(true);
}

void NavigationPanel::showContents() {
    m_tabs->setCurrentIndex(0);
}

void NavigationPanel::showBookmarks() {
    m_tabs->setCurrentIndex(1);
}

int NavigationPanel::currentTab() const {
    return m_tabs->currentIndex();
}

QWidget* NavigationPanel::currentList() const {
    return m_tabs->currentIndex() == 0 ? static_cast<QWidget*>(m_contents)
                                       : static_cast<QWidget*>(m_bookmarkList);
}

void NavigationPanel::activateContents(QTreeWidgetItem* item) {
    if (!item || !item->data(0, kOffsetRole).isValid())
        return;
    Q_EMIT jumpRequested(item->data(0, kOffsetRole).toLongLong());
}

void NavigationPanel::activateBookmark(QListWidgetItem* item) {
    if (!item)
        return;
    Q_EMIT jumpRequested(editedPlace(item->data(kOffsetRole).toLongLong()));
}

bool NavigationPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
        Q_EMIT escaped();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (watched == m_contents)
            activateContents(m_contents->currentItem());
        else
            activateBookmark(m_bookmarkList->currentItem());
        return true;
    }
    if (watched == m_bookmarkList && key->key() == Qt::Key_Delete) {
        const int row = m_bookmarkList->currentRow();
        if (row >= 0) {
            m_bookmarks.remove(row);
            fillBookmarks();
            m_bookmarkList->setCurrentRow(std::min(row, m_bookmarkList->count() - 1));
            saveBookmarks();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QStringList NavigationPanel::contentsRows() const {
    QStringList rows;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
        rows << QString(depth * 2, u' ') + item->text(0) +
                    (item->text(1).isEmpty() ? QString() : QStringLiteral("  ") + item->text(1));
        for (int i = 0; i < item->childCount(); ++i)
            walk(item->child(i), depth + 1);
    };
    for (int i = 0; i < m_contents->topLevelItemCount(); ++i)
        walk(m_contents->topLevelItem(i), 0);
    return rows;
}

QStringList NavigationPanel::bookmarkRows() const {
    QStringList rows;
    for (int i = 0; i < m_bookmarkList->count(); ++i)
        rows << m_bookmarkList->item(i)->text();
    return rows;
}

QString NavigationPanel::note() const {
    return m_note->isHidden() ? QString() : m_note->text();
}
