#include "ui/library/help_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

QStringList TSpravka::helpLines() {
    return {
        QStringLiteral("Программа Tomeria (прототип) - простейшая читалка текстовых "),
        QStringLiteral("файлов, в которых могут хранится книги из Вашей уфологической "),
        QStringLiteral("библиотеки."),
        QString(),
        QStringLiteral("Работает очень просто. Добавляете книгу в базу, называете ее, "),
        QStringLiteral("пишити к ней комментарий. Книга эта сохраняется в текстовом файле "),
        QStringLiteral("в папке books и при чтении (двойной щелчок по названию книги) "),
        QStringLiteral("загружается для чтения в отдельное окно."),
        QString(),
        QStringLiteral("При чтении книги, Вы можете изменить шрифт и цвет окна (чтобы "),
        QStringLiteral("снять усталось глаз), а также предусмотрена возможность поиска и "),
        QStringLiteral("редактирования текста."),
        QString(),
        QStringLiteral("Легким движением руки Вы можете удалить книгу из базы "),
        QStringLiteral("программы."),
        QString(),
        QStringLiteral("Разработчик обращает внимание пользователей на один момент: "),
        QStringLiteral("название книги - это название файла, поэтому следите за "),
        QStringLiteral("допустимыми символами в названиях файлов."),
        QString(),
        QStringLiteral("Tomeria 1.00 — свободная программа, сделана для своих книг."),
    };
}

TSpravka::TSpravka(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint),
      Memo1(new QPlainTextEdit(this)), Button1(new QPushButton(QStringLiteral("Ок"), this)) {
    setObjectName(QStringLiteral("Spravka"));
    setWindowTitle(QStringLiteral("Справка программы Vellumar"));
    setFixedSize(546, 471);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(128, 0, 128));
    setPalette(palette);

    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(10, 10, 526, 416);
    Memo1->setReadOnly(true);
    // The memo has no scroll bars: the whole text fits, each line of it on one line.
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont memoFont(QStringLiteral("Times New Roman"));
    memoFont.setPixelSize(16);
    memoFont.setBold(true);
    Memo1->setFont(memoFont);
    QPalette memoPalette = Memo1->palette();
    memoPalette.setColor(QPalette::Base, Qt::black);
    memoPalette.setColor(QPalette::Text, QColor(0, 255, 255));
    Memo1->setPalette(memoPalette);
    Memo1->setPlainText(helpLines().join(QLatin1Char('\n')));

    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(10, 437, 526, 26);
    QPalette buttonPalette = Button1->palette();
    buttonPalette.setColor(QPalette::ButtonText, QColor(0, 255, 255));
    Button1->setPalette(buttonPalette);
    connect(Button1, &QPushButton::clicked, this, &QWidget::close);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TSpravka::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    // The text is read-only: Enter anywhere means «Ок».
    if (event->modifiers() == Qt::NoModifier &&
        (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TSpravka::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
}

void TSpravka::closeEvent(QCloseEvent* event) {
    event->accept();
    Q_EMIT closing();
}
