#include "support/recording_dialogs.h"

#include <QPrinter>

bool RecordingDialogs::choosePrinter(QWidget*, QPrinter& printer) {
    ++printersOffered;
    if (pdfOutput.isEmpty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfOutput);
    return true;
}

QStringList RecordingDialogs::texts(const QString& kind) const {
    QStringList out;
    for (const Shown& s : shown)
        if (s.kind == kind)
            out.append(s.text);
    return out;
}

DialogsScope::DialogsScope() {
    auto dialogs = std::make_unique<RecordingDialogs>();
    m_dialogs = dialogs.get();
    m_previous = Dialogs::install(std::move(dialogs));
}

DialogsScope::~DialogsScope() {
    Dialogs::install(std::move(m_previous));
}
