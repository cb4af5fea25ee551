#include "ui/search/search_window.h"

#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "core/search/search_query.h"
#include "core/search/search_runner.h"
#include "ui/dialogs/guard.h"
#include "ui/settings/window_settings_store.h"

#include <QAbstractTextDocumentLayout>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

enum Column { NameColumn, CountColumn, SnippetColumn };
enum Role { OffsetRole = Qt::UserRole, LengthRole, NameRole, FilledRole };
constexpr int kTypingPauseMs = 300;

// The Russian word form after a number: 1 книга, 2 книги, 5 книг.
QString counted(qint64 n, const char* one, const char* few, const char* many) {
    const qint64 tens = n % 100;
    const qint64 units = n % 10;
    const char* form = (tens >= 11 && tens <= 14)   ? many
                       : units == 1                 ? one
                       : (units >= 2 && units <= 4) ? few
                                                    : many;
    return QString::number(n) + QLatin1Char(' ') + QString::fromUtf8(form);
}

// Paints the snippet column's HTML (the query's words in bold).
class SnippetDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString html = opt.text;
        opt.text.clear();
        opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        QTextDocument doc;
        doc.setDefaultFont(opt.font);
        doc.setDocumentMargin(1);
        doc.setHtml(html);
        painter->save();
        painter->translate(opt.rect.topLeft());
        painter->setClipRect(QRect(QPoint(0, 0), opt.rect.size()));
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = opt.palette;
        if (opt.state & QStyle::State_Selected)
            context.palette.setColor(QPalette::Text, opt.palette.color(QPalette::HighlightedText));
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }
};

} // namespace

SearchWindow::SearchWindow(const QString& indexLocation, SearchIndexer* indexer,
                           const QString& iniFile, QWidget* owner)
    : QWidget(owner, Qt::Window), m_runner(new SearchRunner(indexLocation, this)),
      m_indexer(indexer) {
    setObjectName(QStringLiteral("SearchWindow"));
    setWindowTitle(QStringLiteral("Поиск по тексту книг"));
    resize(760, 480);

    auto* layout = new QVBoxLayout(this);
    QueryEdit = new QLineEdit(this);
    QueryEdit->setObjectName(QStringLiteral("QueryEdit"));
    QueryEdit->setPlaceholderText(
        QStringLiteral("Слова в любой форме, \"фраза в кавычках\", начало слова*, -исключить"));
    layout->addWidget(QueryEdit);

    Results = new QTreeWidget(this);
    Results->setObjectName(QStringLiteral("Results"));
    Results->setColumnCount(3);
    Results->setHeaderLabels(
        {QStringLiteral("Книга"), QStringLiteral("Мест"), QStringLiteral("Фрагмент")});
    Results->setUniformRowHeights(true);
    Results->setItemDelegateForColumn(SnippetColumn, new SnippetDelegate(Results));
    Results->header()->resizeSection(NameColumn, 200);
    Results->header()->resizeSection(CountColumn, 60);
    layout->addWidget(Results, 1);

    auto* statusRow = new QHBoxLayout;
    StatusLine = new QLabel(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setMaximumWidth(200);
    Progress->hide();
    statusRow->addWidget(StatusLine, 1);
    statusRow->addWidget(Progress);
    layout->addLayout(statusRow);

    FormStorage = new WindowSettingsStore(this, QStringLiteral("SearchWindow"), {});
    FormStorage->IniFileName = iniFile;
    FormStorage->WhollyOnScreen = true;
    FormStorage->chainedShow = [this] {
        if (FormStorage->centreOnShow()) {
            FormStorage->setCentreOnShow(false);
            placeBesideOwner();
        }
    };

    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    close->setContext(Qt::WindowShortcut);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(kTypingPauseMs);
    connect(&m_typingPause, &QTimer::timeout, this, guarded(this, &SearchWindow::runSearch));
    connect(QueryEdit, &QLineEdit::textEdited, &m_typingPause, qOverload<>(&QTimer::start));
    connect(QueryEdit, &QLineEdit::returnPressed, this, guarded(this, &SearchWindow::runSearch));
    connect(Results, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { guard([this, item] { fillPlaces(item); }); });
    connect(Results, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { guard([this, item] { activate(item); }); });
    connect(m_runner, &SearchRunner::found, this, [this](int request, const SearchResult& result) {
        guard([&] { showResult(request, result); });
    });
    connect(m_runner, &SearchRunner::placesFound, this,
            [this](int request, const QString& name, const SearchPlaces& places) {
                guard([&] { showPlaces(request, name, places); });
            });
    if (m_indexer) {
        connect(m_indexer, &SearchIndexer::progress, this, &SearchWindow::indexingProgress);
        connect(m_indexer, &SearchIndexer::failed, this, &SearchWindow::indexingStopped);
        connect(m_indexer, &SearchIndexer::rebuilt, this, [this] {
            m_rebuilt = true;
            m_repairAsked = false;
            m_failure.clear();
            m_runner->reopen();
            showFigures();
        });
        connect(m_indexer, &SearchIndexer::committed, this, [this] {
            m_failure.clear();
            m_runner->reopen();
            // New books join the list unless the user is looking through it.
            if (!m_query.isEmpty() && !Results->currentItem())
                guard([this] { runSearch(); });
        });
        connect(m_indexer, &SearchIndexer::idle, this, [this] {
            m_indexing = false;
            m_repairAsked = false;
            m_progress.clear();
            m_runner->reopen();
            showFigures();
        });
        // What happened before the window was made.
        m_indexing = m_indexer->busy();
        m_rebuilt = m_indexer->wasRebuilt();
        if (!m_indexer->failure().isEmpty())
            indexingStopped(m_indexer->failure());
    }
    showFigures();
}

SearchWindow::~SearchWindow() {
    FormStorage->destroyHook();
}

void SearchWindow::closeEvent(QCloseEvent* event) {
    FormStorage->closeQueryHook();
    event->accept();
}

// Beside the owner's frame, its top level with the owner's, on the side with room for the
// whole window (the right one first); else centred on the screen's available area. The
// frame is taken to be as wide as the owner's.
void SearchWindow::placeBesideOwner() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    QMargins frame;
    QRect owner;
    const QWidget* ownerWindow = parentWidget() ? parentWidget()->window() : nullptr;
    if (ownerWindow && ownerWindow->isVisible() && !ownerWindow->isMinimized()) {
        owner = ownerWindow->frameGeometry();
        const QRect client = ownerWindow->geometry();
        frame = QMargins(client.left() - owner.left(), client.top() - owner.top(),
                         owner.right() - client.right(), owner.bottom() - client.bottom());
    }
    const QSize outer = size().grownBy(frame);
    QPoint corner = available.center() - QPoint(outer.width() / 2, outer.height() / 2);
    if (owner.isValid()) {
        const int top =
            std::clamp(owner.top(), available.top(),
                       std::max(available.top(), available.bottom() + 1 - outer.height()));
        if (owner.right() + 1 + outer.width() <= available.right() + 1)
            corner = QPoint(owner.right() + 1, top);
        else if (owner.left() - outer.width() >= available.left())
            corner = QPoint(owner.left() - outer.width(), top);
    }
    corner.setX(std::max(corner.x(), available.left()));
    corner.setY(std::max(corner.y(), available.top()));
    move(corner);
    if (QWindow* window = windowHandle())
        window->setFramePosition(corner);
}

void SearchWindow::runSearch() {
    m_typingPause.stop();
    m_query = QueryEdit->text();
    Results->clear();
    m_bookItems.clear();
    m_pendingPlaces.clear();
    m_openFirst.clear();
    if (m_query.trimmed().isEmpty()) {
        m_runner->cancel();
        m_request = 0;
        m_figures.clear();
        showFigures();
        return;
    }
    m_searchTime.start();
    m_request = m_runner->search(m_query);
    m_figures = QStringLiteral("Поиск…");
    showFigures();
}

bool SearchWindow::searching() const {
    return m_request != 0 || !m_pendingPlaces.isEmpty();
}

void SearchWindow::showResult(int request, const SearchResult& result) {
    if (request != m_request)
        return;
    m_request = 0;
    if (result.damaged)
        indexDamaged();
    QList<QTreeWidgetItem*> rows;
    for (const SearchBook& book : result.books) {
        auto* item = new QTreeWidgetItem;
        item->setText(NameColumn, book.name);
        item->setText(CountColumn, QString::number(book.placeCount));
        item->setTextAlignment(CountColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(SnippetColumn, book.best.snippet);
        item->setData(SnippetColumn, Qt::AccessibleTextRole, book.best.text);
        item->setData(NameColumn, NameRole, book.name);
        item->setData(NameColumn, OffsetRole, book.best.offset);
        item->setData(NameColumn, LengthRole, book.best.length);
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        m_bookItems.insert(book.name, item);
        rows << item;
    }
    Results->addTopLevelItems(rows);
    const double seconds = double(m_searchTime.nsecsElapsed()) / 1e9;
    m_figures =
        QStringLiteral("Найдено: %1, %2, %3 с")
            .arg(counted(result.books.size(), "книга", "книги", "книг"),
                 counted(result.placeCount, "место", "места", "мест"),
                 QString::number(seconds, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(',')));
    if (result.cut) {
        m_figures += QStringLiteral(" · Запрос длиннее %1 слов: искались первые %1")
                         .arg(SearchQuery::kMaxWords);
    }
    showFigures();
}

void SearchWindow::fillPlaces(QTreeWidgetItem* book) {
    if (book->parent() || book->data(NameColumn, FilledRole).toBool())
        return;
    book->setData(NameColumn, FilledRole, true);
    const QString name = book->data(NameColumn, NameRole).toString();
    m_pendingPlaces.insert(m_runner->places(m_query, name), name);
}

void SearchWindow::showPlaces(int request, const QString& name, const SearchPlaces& places) {
    if (!m_pendingPlaces.remove(request))
        return;
    QTreeWidgetItem* book = m_bookItems.value(name);
    if (!book)
        return;
    if (places.damaged)
        indexDamaged();
    QList<QTreeWidgetItem*> rows;
    for (const SearchPlace& place : places.listed) {
        auto* item = new QTreeWidgetItem;
        item->setText(SnippetColumn, place.snippet);
        item->setData(SnippetColumn, Qt::AccessibleTextRole, place.text);
        item->setData(NameColumn, NameRole, name);
        item->setData(NameColumn, OffsetRole, place.offset);
        item->setData(NameColumn, LengthRole, place.length);
        rows << item;
    }
    if (places.count > places.listed.size()) {
        // The rest are counted, not listed: a row that says so and opens nothing.
        auto* more = new QTreeWidgetItem;
        const QString text = QStringLiteral("Показаны первые %1 мест, всего: %2")
                                 .arg(places.listed.size())
                                 .arg(places.count);
        more->setText(SnippetColumn, text.toHtmlEscaped());
        more->setData(SnippetColumn, Qt::AccessibleTextRole, text);
        more->setFlags(Qt::ItemIsEnabled);
        rows << more;
    }
    book->addChildren(rows);
    if (rows.isEmpty())
        book->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    if (m_openFirst == name) {
        m_openFirst.clear();
        if (!places.listed.isEmpty())
            openItem(book->child(0));
    }
}

void SearchWindow::activate(QTreeWidgetItem* item) {
    // A book's row stands for its first place, which may still have to be listed.
    if (!item->parent()) {
        if (!item->data(NameColumn, FilledRole).toBool() ||
            m_pendingPlaces.values().contains(item->data(NameColumn, NameRole).toString())) {
            m_openFirst = item->data(NameColumn, NameRole).toString();
            fillPlaces(item);
            return;
        }
        if (item->childCount() > 0)
            item = item->child(0);
    }
    openItem(item);
}

void SearchWindow::openItem(QTreeWidgetItem* item) {
    if (item->data(NameColumn, NameRole).toString().isEmpty())
        return; // the row telling how many places were not listed
    Q_EMIT openPlace(item->data(NameColumn, NameRole).toString(),
                     item->data(NameColumn, OffsetRole).toLongLong(),
                     item->data(NameColumn, LengthRole).toInt());
}

// A search met a damaged index: the indexer checks it and makes it anew (asked once
// until the indexer has answered).
void SearchWindow::indexDamaged() {
    if (m_indexer && !m_repairAsked) {
        m_repairAsked = true;
        m_indexer->repair();
    }
}

void SearchWindow::indexingProgress(int done, int total) {
    m_indexing = true;
    m_failure.clear();
    Progress->setRange(0, total);
    Progress->setValue(done);
    m_progress = QStringLiteral("Индексирование: %1 из %2")
                     .arg(done)
                     .arg(counted(total, "книги", "книг", "книг"));
    showFigures();
}

void SearchWindow::indexingStopped(const QString& reason) {
    m_failure = QStringLiteral("Указатель не обновляется: ") + reason;
    showFigures();
}

void SearchWindow::showFigures() {
    Progress->setVisible(m_indexing);
    QStringList parts;
    if (!m_figures.isEmpty())
        parts << m_figures;
    if (m_rebuilt) {
        parts << (m_indexing ? QStringLiteral("Указатель был повреждён и строится заново")
                             : QStringLiteral("Указатель был повреждён и построен заново"));
    }
    if (m_indexing && !m_progress.isEmpty())
        parts << m_progress;
    if (!m_failure.isEmpty())
        parts << m_failure;
    StatusLine->setText(parts.join(QStringLiteral(" · ")));
}
