#!/usr/bin/env bash
# Writes the test books from book.md with pandoc: FB2, EPUB, DOCX, ODT and HTML, an FB2
# in code page 1251 and a zipped FB2. The books are kept in the repository, so the tests
# need no pandoc; run this again to renew them (pandoc, iconv and python3 needed).
set -euo pipefail
cd "$(dirname "$0")"
for format in fb2 epub docx odt html; do
    pandoc --standalone book.md -o "book.$format"
done
iconv -f UTF-8 -t CP1251 book.fb2 | sed 's/encoding="UTF-8"/encoding="windows-1251"/' > book-cp1251.fb2
python3 - <<'PY'
import zipfile
with zipfile.ZipFile("book.fb2.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.write("book.fb2", "Пушкин - Капитанская дочка.fb2")
PY
# The fuzz targets start from the same books.
corpus=../../../fuzz/corpus
cp book.fb2 book-cp1251.fb2 "$corpus/fb2/"
cp book.epub "$corpus/epub/"
cp book.docx "$corpus/docx/"
cp book.odt "$corpus/odt/"
cp book.html "$corpus/html/"
cp book.fb2.zip "$corpus/book_import/"
