#pragma once

#include "core/formats/book_builder.h"

#include <QByteArrayView>

// FictionBook 2 (FB2): the title-info's book title and authors, the bodies with their
// sections, titles, poems and emphasis; a body of notes goes to the notes. Read with
// QXmlStreamReader in the encoding the file declares; embedded pictures are skipped. A
// damaged file gives the text up to the damage.
namespace Fb2Reader {

// False when the data is not FictionBook XML at all.
bool read(QByteArrayView data, BookBuilder& builder);

// Whether the data looks like FictionBook XML (its root element, near the start).
bool looksLikeFb2(QByteArrayView data);

} // namespace Fb2Reader
