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

    // False once something is not UTF-8.
    bool feed(QByteArrayView bytes);
    // At the end of the input: false when it is not UTF-8 after all.
    bool complete();

private:
    bool feedPlainly(QByteArrayView bytes);
    bool feedVectors(QByteArrayView bytes);
    bool completeVectors();

    bool m_vectors;
    bool m_valid = true;
    // Plain: the continuation bytes still to come and the range of the next one.
    int m_needed = 0;
    unsigned char m_low = 0x80;
    unsigned char m_high = 0xBF;
    // Vectors: the last sixteen bytes checked, what is left over of a piece, and the error
    // bits found so far.
    alignas(16) std::array<unsigned char, 16> m_previous{};
    alignas(16) std::array<unsigned char, 16> m_pending{};
    int m_pendingSize = 0;
    alignas(16) std::array<unsigned char, 16> m_errors{};
};

} // namespace varnel
