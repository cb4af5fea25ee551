#include "ui/search/search_window.h"

#include "core/search/search_index.h"
#include "core/search/search_indexer.h"
#include "ui/dialogs/guard.h"
#include "ui/settings/window_settings_store.h"

#include <QAbstractTextDocumentLayout>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

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
    : QWidget(owner, Qt::Window), m_index(std::make_unique<SearchIndex>(indexLocation)),
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

    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(kTypingPauseMs);
    connect(&m_typingPause, &QTimer::timeout, this, guarded(this, &SearchWindow::runSearch));
    connect(QueryEdit, &QLineEdit::textEdited, &m_typingPause, qOverload<>(&QTimer::start));
    connect(QueryEdit, &QLineEdit::returnPressed, this, guarded(this, &SearchWindow::runSearch));
    connect(Results, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { guard([this, item] { fillPlaces(item); }); });
    connect(Results, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { guard([this, item] { activate(item); }); });
    if (m_indexer) {
        connect(m_indexer, &SearchIndexer::progress, this, &SearchWindow::indexingProgress);
        connect(m_indexer, &SearchIndexer::failed, this, &SearchWindow::indexingStopped);
        connect(m_indexer, &SearchIndexer::committed, this, [this] {
            m_index->reopen();
            // New books join the list unless the user is looking through it.
            if (!m_query.isEmpty() && !Results->currentItem())
                guard([this] { runSearch(); });
        });
        connect(m_indexer, &SearchIndexer::idle, this, [this] {
            m_indexing = false;
            m_progress.clear();
            m_index->reopen();
            showFigures();
        });
        m_indexing = m_indexer->busy();
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

void SearchWindow::runSearch() {
    m_typingPause.stop();
    m_query = QueryEdit->text();
    Results->clear();
    if (m_query.trimmed().isEmpty()) {
        m_figures.clear();
        showFigures();
        return;
    }
    QElapsedTimer timer;
    timer.start();
    const SearchResult result = m_index->search(m_query);
    for (const SearchBook& book : result.books) {
        auto* item = new QTreeWidgetItem(Results);
        item->setText(NameColumn, book.name);
        item->setText(CountColumn, QString::number(book.placeCount));
        item->setTextAlignment(CountColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(SnippetColumn, book.best.snippet);
        item->setData(NameColumn, NameRole, book.name);
        item->setData(NameColumn, OffsetRole, book.best.offset);
        item->setData(NameColumn, LengthRole, book.best.length);
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    m_figures =
        QStringLiteral("Найдено: %1, %2, %3 с")
            .arg(counted(result.books.size(), "книга", "книги", "книг"),
                 counted(result.placeCount, "место", "места", "мест"),
                 QString::number(seconds, 'f', 2).replace(QLatin1Char('.'), QLatin1Char(',')));
    showFigures();
}

void SearchWindow::fillPlaces(QTreeWidgetItem* book) {
    if (book->parent() || book->data(NameColumn, FilledRole).toBool())
        return;
    book->setData(NameColumn, FilledRole, true);
    const QString name = book->data(NameColumn, NameRole).toString();
    const QList<SearchPlace> places = m_index->places(m_query, name);
    QList<QTreeWidgetItem*> rows;
    for (const SearchPlace& place : places) {
        auto* item = new QTreeWidgetItem;
        item->setText(SnippetColumn, place.snippet);
        item->setData(NameColumn, NameRole, name);
        item->setData(NameColumn, OffsetRole, place.offset);
        item->setData(NameColumn, LengthRole, place.length);
        rows << item;
    }
    book->addChildren(rows);
    if (rows.isEmpty())
        book->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void SearchWindow::activate(QTreeWidgetItem* item) {
    // A book's row stands for its first place.
    if (!item->parent()) {
        fillPlaces(item);
        if (item->childCount() > 0)
            item = item->child(0);
    }
    Q_EMIT openPlace(item->data(NameColumn, NameRole).toString(),
                     item->data(NameColumn, OffsetRole).toLongLong(),
                     item->data(NameColumn, LengthRole).toInt());
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
    if (m_indexing && !m_progress.isEmpty())
        parts << m_progress;
    if (!m_failure.isEmpty())
        parts << m_failure;
    StatusLine->setText(parts.join(QStringLiteral(" · ")));
}
