#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Splits RTF source into tokens in one linear pass. It never fails: whatever the
// input, every byte is consumed by some token.
class RtfTokenizer {
public:
    enum class Kind {
        End,
        GroupStart,
        GroupEnd,
        ControlWord,
        ControlSymbol,
        Text,
        HexByte,
        Binary
    };

    struct Token {
        Kind kind = Kind::End;
        QByteArrayView word; // control word name, or the text run / binary data
        bool hasParameter = false;
        int parameter = 0;
        char symbol = 0;        // control symbol character
        unsigned char byte = 0; // value of \'hh
    };

    explicit RtfTokenizer(QByteArrayView data) : m_data(data) {}
    Token next();
    qsizetype position() const { return m_pos; }

private:
    QByteArrayView m_data;
    qsizetype m_pos = 0;
};
