#include "core/book/text_change.h"

#include <algorithm>

TextChange TextChange::between(QByteArrayView before, QByteArrayView after) {
    const qsizetype shorter = std::min(before.size(), after.size());
    const auto firstDifference =
        std::mismatch(before.begin(), before.begin() + shorter, after.begin()).first;
    const qsizetype prefix = firstDifference - before.begin();
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    return TextChange{prefix, before.size() - prefix - suffix, after.size() - prefix - suffix};
}
