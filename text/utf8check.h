#pragma once

#include <QByteArrayView>

#include <array>

namespace varnel {

// Whether bytes given piece by piece are UTF-8 as strict as the decoder takes it: no
// overlong forms, no surrogates, nothing above U+10FFFF, nothing cut short at the end.
class Utf8Check {
public:
    // Plain checks a byte at a time; Fastest uses the processor's vector instructions
    // where it has them (they give the same answers).
    enum class Way { Fastest, Plain };
    explicit Utf8Check(Way way = Way::Fastest);

    // False once something is not UTF-8. Every byte given is judged before it returns; a
    // sequence the bytes so far leave open waits for the next piece, or the end.
    bool feed(QByteArrayView bytes);
    // At the end of the input: false when it is not UTF-8 after all.
    bool complete();

private:
    bool feedPlainly(QByteArrayView bytes);
    bool feedVectors(QByteArrayView bytes);
    // Keeps the last sixteen bytes given, which the vectors read the next ones against.
    void remember(QByteArrayView bytes);
    // Takes up the plain check after bytes the vectors checked, which end at `end`.
    bool resumeAfter(const unsigned char* end);

    bool m_vectors;
    bool m_valid = true;
    // The continuation bytes still to come and the range of the next one.
    int m_needed = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
    std::array<unsigned char, 16> m_previous{};
};

} // namespace varnel
