#include "ui/reader/navigation_panel.h"

#include "core/book/book_text.h"
#include "core/library/book_companions.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace {

constexpr int kOffsetRole = Qt::UserRole;

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
    m_contents->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_contents->setAccessibleName(QStringLiteral("Содержание"));
    m_contents->installEventFilter(this);
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

NavigationPanel::~NavigationPanel() {
    stopDetection();
}

QString NavigationPanel::notFoundText() {
    return QStringLiteral("Оглавление не найдено");
}

void NavigationPanel::stopDetection() {
    if (!m_worker)
        return;
    m_stop = true;
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
    m_stop = false;
}

void NavigationPanel::setBook(std::shared_ptr<const BookText> text, const QString& contentsPath,
                              const QString& bookmarksPath, const QString& path) {
    stopDetection();
    m_text = std::move(text);
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
            if (kept && !kept->headings.empty())
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
    if (!m_worker || !m_worker->isFinished())
        return;
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
    m_headings = std::move(m_found);
    m_found.clear();
    Q_EMIT markupFound(std::make_shared<const BookMarkup>(
        BookMarkup{m_headings, std::exchange(m_foundEmphasis, {})}));
    m_text = std::exchange(m_read, nullptr);
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
}

QString NavigationPanel::percentOf(qsizetype offset) const {
    const qsizetype length = m_text ? m_text->length() : 0;
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
            const qsizetype offset = m_text->length() * tenth / 10;
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
    const Bookmark mark{offset, Bookmarks::nameFor(*m_text, offset, m_headings),
                        Bookmarks::wordsAt(*m_text, offset)};
    const int row = m_bookmarks.add(mark);
    fillBookmarks();
    m_bookmarkList->setCurrentRow(row);
    saveBookmarks();
}

void NavigationPanel::followEdit(const TextChange& change, std::shared_ptr<const BookText> text) {
    stopDetection();
    m_text = std::move(text);
    m_bookmarks.apply(change);
    BookMarkup markup;
    markup.headings = m_headings;
    markup.apply(change);
    m_headings = markup.headings;
    m_stamp = BookStamp::of(*m_text);
    m_stampKnown = true;
    m_headingsKnown = true;
    saveBookmarks();
    fillContents();
    fillBookmarks();
    m_marked = -1;
    setTopOffset(m_top);
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
    Q_EMIT jumpRequested(item->data(kOffsetRole).toLongLong());
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
